// The range decoder's shortcuts against the plain steps they replace: the
// multiply-by-reciprocal division, the symbol found without dividing, the
// one-division split value and the straddling bytes it normalises from.
#include "decoder/FrameReader.h"
#include "decoder/MemoryByteSource.h"
#include "decoder/RangeDecoder.h"
#include "decoder/Reciprocal.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

struct Frame {
    Frame(const std::vector<std::uint8_t>& bytes, std::uint32_t allowance)
        : source(bytes.data(), bytes.size()), reader(source), rc(reader)
    {
        reader.begin(ape::FrameSpan{0, bytes.size(), 0, 0}, allowance);
    }
    ape::MemoryByteSource source;
    ape::FrameReader reader;
    ape::RangeDecoder rc;
};

// A symbol as the frequencies define it: the code's position in 65536, then
// the symbol whose span holds it.
std::uint32_t plainSymbol(ape::RangeDecoder& rc, const ape::SymbolTable& table)
{
    std::uint32_t cf = rc.decodeShift(16);
    if (cf > ape::lastTableCum) {
        if (cf > 0xFFFF) {
            rc.fail();
            cf = 0xFFFF;
        }
        rc.update(1, cf);
        return cf - ape::wideSymbolBase;
    }
    int s = 0;
    while (table.cum[s + 1] <= cf)
        ++s;
    rc.update(table.width(s), table.cum[s]);
    return std::uint32_t(s);
}

} // namespace

TEST(Reciprocal, DividesExactlyByEveryDivisor)
{
    std::mt19937 random(7);
    const std::uint32_t top = 1u << 31;
    std::uint64_t wrong = 0;
    for (std::uint32_t d = 1; d <= 0x10000; ++d) {
        const ape::Reciprocal r(d), tabled = ape::Reciprocal::tabled(d);
        const std::uint32_t lastMultiple = top - top % d;
        for (std::uint32_t n : {0u, 1u, d - 1, d, d + 1, 2 * d - 1, (1u << 23) + 1, lastMultiple - 1, lastMultiple,
                                top - 1, top, std::uint32_t(random()) >> 1, std::uint32_t(random()) >> 8})
            if ((r.divide(n) != n / d || tabled.divide(n) != n / d) && wrong++ < 10)
                ADD_FAILURE() << n << " / " << d << " gave " << r.divide(n) << " and from the table "
                              << tabled.divide(n);
    }
    EXPECT_EQ(wrong, 0u);

    for (int i = 0; i < 100000; ++i) {
        const std::uint32_t d = std::uint32_t(random()) | 1;
        const std::uint64_t n = (std::uint64_t(random() % d) << 32) | random();
        std::uint32_t remainder = 0;
        ASSERT_EQ(ape::divideNarrowing(std::uint32_t(n >> 32), std::uint32_t(n), d, remainder), n / d)
            << n << " / " << d;
        ASSERT_EQ(remainder, n % d);
    }
}

TEST(FrameReader, StraddlesEachByteWithTheOneBefore)
{
    // Over two block boundaries, into the allowance and past it, and back.
    std::mt19937 random(11);
    std::vector<std::uint8_t> bytes(150000);
    for (auto& b : bytes)
        b = std::uint8_t(random() | 1); // odd, so a wrong past-the-end straddling byte shows
    for (bool stepBack : {false, true}) {
        Frame plain(bytes, 2), straddling(bytes, 2);
        std::uint32_t previous = plain.reader.next();
        EXPECT_EQ(straddling.reader.next(), previous);
        for (std::size_t i = 1; i < bytes.size() + 6; ++i) {
            if (stepBack && i == bytes.size() + 3) {
                plain.reader.stepBack();
                straddling.reader.stepBack();
                previous = plain.reader.next();
                straddling.reader.next();
            }
            const std::uint32_t current = plain.reader.next();
            ASSERT_EQ(straddling.reader.nextStraddling(), ((previous << 8) | current) >> 1 & 0xFF) << "byte " << i;
            previous = current;
            ASSERT_EQ(straddling.reader.overrun(), plain.reader.overrun()) << "byte " << i;
        }
        EXPECT_TRUE(straddling.reader.overrun());
    }
}

TEST(RangeDecoder, ShortcutsDecodeAsThePlainSteps)
{
    // Random streams, and streams of runs of 0x00 or 0xFF that drive the
    // state to its extremes, read by a random mix of the decoder's steps.
    std::mt19937 random(13);
    for (int stream = 0; stream < 40; ++stream) {
        std::vector<std::uint8_t> bytes(stream % 4 == 3 ? 3000 : 20000); // the short ones run past the end
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = stream % 2 ? std::uint8_t(random()) : (i / 64 + stream / 2) % 3 ? 0xFF : 0x00;
        Frame fast(bytes, 0), plain(bytes, 0);
        fast.reader.next();
        plain.reader.next();
        fast.rc.start();
        plain.rc.start();
        for (int step = 0; step < 3000; ++step) {
            switch (random() % 4) {
            case 0: {
                const bool newer = random() % 2;
                const ape::SymbolIndex& index = newer ? ape::symbolIndex3980 : ape::symbolIndex3970;
                ASSERT_EQ(random() % 2 ? fast.rc.symbol<true>(index) : fast.rc.symbol<false>(index),
                          plainSymbol(plain.rc, index.table))
                    << "stream " << stream << " step " << step;
                break;
            }
            case 1: {
                const unsigned count = random() % 24;
                ASSERT_EQ(fast.rc.bits(count), plain.rc.bits(count));
                break;
            }
            case 2: {
                const std::uint32_t total = 1 + random() % 0x10000;
                const std::uint32_t value = fast.rc.decodeFrequency(ape::Reciprocal(total));
                fast.rc.update(1, value);
                ASSERT_EQ(value, plain.rc.decodeFrequency(total)) << "total " << total;
                plain.rc.update(1, value);
                break;
            }
            default: {
                const std::uint32_t total = 0x8001 + random() % 0x8000;
                const unsigned shift = 1 + random() % 8;
                const std::uint32_t high = plain.rc.decodeFrequency(total);
                plain.rc.update(1, high);
                const std::uint32_t low = plain.rc.decodeFrequency(1u << shift);
                plain.rc.update(1, low);
                const std::uint32_t split = random() % 2 ? fast.rc.decodeSplit<true>(ape::Reciprocal(total), shift)
                                                         : fast.rc.decodeSplit<false>(ape::Reciprocal(total), shift);
                ASSERT_EQ(split, (high << shift) + low)
                    << "stream " << stream << " step " << step << " total " << total << " shift " << shift;
                break;
            }
            }
        }
        EXPECT_EQ(fast.reader.remaining(), plain.reader.remaining());
        EXPECT_EQ(fast.rc.failed(), plain.rc.failed());
    }
}
