// The checksum over every length and alignment, whole or in pieces, against
// the bit-by-bit definition: the folding path for long runs and the table path
// for the rest must agree on every byte count.
#include "format/Crc32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

std::uint32_t bitwise(const std::uint8_t* data, std::size_t size)
{
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        c ^= data[i];
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    }
    return c ^ 0xFFFFFFFFu;
}

} // namespace

TEST(Crc32, AgreesWithTheDefinitionAtEveryLengthAlignmentAndSplit)
{
    const std::uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    ape::Crc32 known;
    known.update(check, sizeof check);
    EXPECT_EQ(known.value(), 0xCBF43926u);

    std::mt19937 random(2024);
    std::vector<std::uint8_t> data(4096 + 16);
    for (auto& b : data)
        b = std::uint8_t(random());
    for (std::size_t size = 0; size <= 700; ++size) {
        for (std::size_t offset : {0, 1, 7, 13}) {
            const std::uint8_t* p = data.data() + offset;
            ape::Crc32 whole;
            whole.update(p, size);
            ASSERT_EQ(whole.value(), bitwise(p, size)) << "size " << size << " offset " << offset;
            // Pieces that end inside a 16-byte lane carry the state across.
            ape::Crc32 pieces;
            std::size_t done = 0;
            while (done < size) {
                const std::size_t piece = std::min<std::size_t>(size - done, random() % 150);
                pieces.update(p + done, piece);
                done += piece;
            }
            ASSERT_EQ(pieces.value(), whole.value()) << "size " << size << " offset " << offset;
        }
    }
    ape::Crc32 large;
    large.update(data.data() + 3, 4096);
    EXPECT_EQ(large.value(), bitwise(data.data() + 3, 4096));
}
