#include "format/Md5.h"

#include <algorithm>
#include <cstring>

namespace ape {
namespace {

// Per-round left rotations (column: step within the round's group of 4).
constexpr int shifts[64] = {7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 5,  9,  14, 20, 5,  9,
                            14, 20, 5,  9,  14, 20, 5,  9,  14, 20, 4,  11, 16, 23, 4,  11, 16, 23, 4,  11, 16, 23,
                            4,  11, 16, 23, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21};

// floor(abs(sin(i + 1)) * 2^32).
constexpr std::uint32_t sines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

std::uint32_t rotl(std::uint32_t x, int c)
{
    return (x << c) | (x >> (32 - c));
}

} // namespace

Md5::Md5()
{
    reset();
}

void Md5::reset()
{
    state = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    length = 0;
}

void Md5::block(const std::uint8_t* p)
{
    std::uint32_t m[16];
    for (int i = 0; i < 16; ++i)
        m[i] = std::uint32_t(p[i * 4]) | std::uint32_t(p[i * 4 + 1]) << 8 | std::uint32_t(p[i * 4 + 2]) << 16 |
               std::uint32_t(p[i * 4 + 3]) << 24;
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; ++i) {
        std::uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        std::uint32_t t = d;
        d = c;
        c = b;
        b = b + rotl(a + f + sines[i] + m[g], shifts[i]);
        a = t;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

void Md5::update(const void* data, std::size_t size)
{
    auto p = static_cast<const std::uint8_t*>(data);
    std::size_t used = std::size_t(length % 64);
    length += size;
    if (used) {
        std::size_t take = std::min(size, 64 - used);
        std::memcpy(pending.data() + used, p, take);
        p += take;
        size -= take;
        if (used + take < 64)
            return;
        block(pending.data());
    }
    for (; size >= 64; p += 64, size -= 64)
        block(p);
    std::memcpy(pending.data(), p, size);
}

std::array<std::uint8_t, 16> Md5::finish()
{
    std::uint64_t bits = length * 8;
    std::uint8_t pad[72] = {0x80};
    std::size_t used = std::size_t(length % 64);
    std::size_t padLength = (used < 56 ? 56 : 120) - used;
    for (int i = 0; i < 8; ++i)
        pad[padLength + i] = std::uint8_t(bits >> (8 * i));
    update(pad, padLength + 8);
    std::array<std::uint8_t, 16> out;
    for (int i = 0; i < 16; ++i)
        out[i] = std::uint8_t(state[i / 4] >> (8 * (i % 4)));
    return out;
}

std::string Md5::hex(const std::array<std::uint8_t, 16>& digest)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (std::uint8_t b : digest) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

} // namespace ape
