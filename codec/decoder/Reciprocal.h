// Division helpers for the range decoder, whose chain of dependent
// divisions sets its speed.
#pragma once

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
// The multiplier needs a division of its own, but one that does not wait
// for the decoder's state, so the processor does it alongside.
class Reciprocal {
public:
    explicit Reciprocal(std::uint32_t d)
    {
        if (d == 1)
            return;
        shift = 31 - unsigned(__builtin_clz(d - 1)); // l - 1

        // floor((2^(31+l) - 1) / d) + 1: the dividend's high half,
        // 2^(l-1) - 1, is below d, so the quotient fits 32 bits.
#if defined(__i386__)
        // In halves there: the 32-bit compiler shifts a 64-bit value with a
        // branch. The 64-bit build decodes faster with the plain form.
        const std::uint32_t high = (1u << shift) - 1, low = 0xFFFFFFFFu;
#else
        const std::uint64_t dividend = (std::uint64_t(1) << (32 + shift)) - 1;
        const std::uint32_t high = std::uint32_t(dividend >> 32), low = std::uint32_t(dividend);
#endif
        std::uint32_t remainder;
        multiplier = divideNarrowing(high, low, d, remainder) + 1;
    }
    std::uint32_t divide(std::uint32_t n) const
    {
        const std::uint32_t high = multiplyHigh(n, multiplier) >> shift;
        return multiplier ? high : n;
    }

private:
    std::uint32_t multiplier = 0; // 0: d is 1
    unsigned shift = 0;
};

} // namespace ape
