#include "format/Crc32.h"

#include <array>

namespace ape {
namespace {

// Slicing-by-8 tables: row 0 is the classic byte table, row k advances a byte
// that is k positions further back.
constexpr std::array<std::array<std::uint32_t, 256>, 8> makeTables()
{
    std::array<std::array<std::uint32_t, 256>, 8> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        t[0][i] = c;
    }
    for (std::uint32_t i = 0; i < 256; ++i)
        for (int k = 1; k < 8; ++k)
            t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    return t;
}

constexpr auto tables = makeTables();

} // namespace

void Crc32::update(const std::uint8_t* data, std::size_t size)
{
    std::uint32_t c = state;
    while (size >= 8) {
        std::uint32_t lo = c ^ (std::uint32_t(data[0]) | std::uint32_t(data[1]) << 8 | std::uint32_t(data[2]) << 16 |
                                std::uint32_t(data[3]) << 24);
        c = tables[7][lo & 0xFF] ^ tables[6][(lo >> 8) & 0xFF] ^ tables[5][(lo >> 16) & 0xFF] ^ tables[4][lo >> 24] ^
            tables[3][data[4]] ^ tables[2][data[5]] ^ tables[1][data[6]] ^ tables[0][data[7]];
        data += 8;
        size -= 8;
    }
    while (size--)
        c = (c >> 8) ^ tables[0][(c ^ *data++) & 0xFF];
    state = c;
}

} // namespace ape
