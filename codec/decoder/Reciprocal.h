// Division helpers for the range decoder, whose chain of dependent
// divisions sets its speed.
#pragma once

#include <array>
#include <cstdint>

namespace ape {

// n / d and n % d for n = high * 2^32 + low where the quotient fits 32 bits
// (high < d): one 32-bit division instruction, where the compiler would
// divide in 64 bits or call a routine for it.
inline std::uint32_t divideNarrowing(std::uint32_t high, std::uint32_t low, std::uint32_t d, std::uint32_t& remainder)
{
    std::uint32_t quotient;
#if defined(__i386__) || defined(__x86_64__)
    asm("divl %4" : "=a"(quotient), "=d"(remainder) : "a"(low), "d"(high), "rm"(d));
#else
    const std::uint64_t n = (std::uint64_t(high) << 32) | low;
    quotient = std::uint32_t(n / d);
    remainder = std::uint32_t(n % d);
#endif
    return quotient;
}

// The high half of a * b. The 32-bit compiler, given a multiplier kept across
// a loop, multiplies in 64 bits; one multiply instruction gives it.
inline std::uint32_t multiplyHigh(std::uint32_t a, std::uint32_t b)
{
#if defined(__i386__)
    std::uint32_t high, low;
    asm("mull %3" : "=d"(high), "=a"(low) : "a"(a), "rm"(b));
    (void)low;
    return high;
#else
    return std::uint32_t((std::uint64_t(a) * b) >> 32);
#endif
}

// A divisor d <= 2^16 as a multiplier and a shift, so that dividing any
// n <= 2^31 by it takes a multiplication: with 2^(l-1) < d <= 2^l and
// m = ceil(2^(31+l) / d), n * m / 2^(31+l) exceeds n / d by less than
// n (d - 1) / (d 2^(31+l)) < 1 / d, too little to reach the next integer.
// The multiplier needs a division of its own. Made on the spot, that
// division does not wait for the range decoder's state, but it does wait for
// the previous value (the pivot follows the values' running sum), and so it
// lies on the chain from one value to the next; tabled() looks it up instead.
class Reciprocal {
public:
    explicit Reciprocal(std::uint32_t d) : Reciprocal(d, multiplierOf(d)) {}
    // The same for d <= 2^16, from a table the library makes as it loads.
    static Reciprocal tabled(std::uint32_t d) { return Reciprocal(d, table.multipliers[d]); }
    std::uint32_t divide(std::uint32_t n) const
    {
        const std::uint32_t high = multiplyHigh(n, multiplier) >> shift;
        return multiplier ? high : n;
    }

private:
    struct Table {
        Table();
        std::array<std::uint32_t, 0x10001> multipliers;
    };
    static const Table table;

    Reciprocal(std::uint32_t d, std::uint32_t m) : multiplier(m), shift(shiftOf(d)) {}
    static unsigned shiftOf(std::uint32_t d) { return d > 1 ? 31 - unsigned(__builtin_clz(d - 1)) : 0; } // l - 1
    static std::uint32_t multiplierOf(std::uint32_t d)
    {
        if (d == 1)
            return 0;
        // floor((2^(31+l) - 1) / d) + 1: the dividend's high half,
        // 2^(l-1) - 1, is below d, so the quotient fits 32 bits.
        std::uint32_t remainder;
        return divideNarrowing((1u << shiftOf(d)) - 1, 0xFFFFFFFFu, d, remainder) + 1;
    }

    std::uint32_t multiplier = 0; // 0: d is 1
    unsigned shift = 0;
};

} // namespace ape
