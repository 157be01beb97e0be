#include "format/Crc32.h"

#include <array>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <wmmintrin.h>
#endif

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

std::uint32_t updateSliced(std::uint32_t c, const std::uint8_t* data, std::size_t size)
{
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
    return c;
}

#if defined(__SSE2__)
inline __m128i load(const std::uint8_t* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// x times the two 64-bit halves of k, folded onto `next`.
[[gnu::target("pclmul")]] inline __m128i fold(__m128i x, __m128i k, __m128i next)
{
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

// Carry-less multiplication folds four 16-byte lanes at a time: a frame's
// PCM is checked at well over ten bytes a cycle instead of about one. The
// constants are x^k mod P for the reflected polynomial at the distances the
// folds span (64 bytes, 16 bytes, then down to 64 and 32 bits), and the
// Barrett pair P and floor(x^64 / P). `size` is at least 64; returns the
// state after the whole multiple of 16 bytes, `used` of them.
[[gnu::target("pclmul")]] std::uint32_t updateFolded(std::uint32_t c, const std::uint8_t* data, std::size_t size,
                                                     std::size_t& used)
{
    const __m128i by64 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
    const __m128i by16 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
    const __m128i to32 = _mm_set_epi64x(0, 0x0163cd6124);
    const __m128i barrett = _mm_set_epi64x(0x01f7011641, 0x01db710641);
    const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);
    const std::uint8_t* const start = data;
    __m128i x0 = _mm_xor_si128(load(data), _mm_cvtsi32_si128(int(c)));
    __m128i x1 = load(data + 16), x2 = load(data + 32), x3 = load(data + 48);
    data += 64;
    size -= 64;
    for (; size >= 64; data += 64, size -= 64) {
        x0 = fold(x0, by64, load(data));
        x1 = fold(x1, by64, load(data + 16));
        x2 = fold(x2, by64, load(data + 32));
        x3 = fold(x3, by64, load(data + 48));
    }
    __m128i x = fold(fold(fold(x0, by16, x1), by16, x2), by16, x3);
    for (; size >= 16; data += 16, size -= 16)
        x = fold(x, by16, load(data));

    // 128 bits to 64, then to 32 plus the remainder's quotient step.
    x = _mm_xor_si128(_mm_srli_si128(x, 8), _mm_clmulepi64_si128(x, by16, 0x10));
    x = _mm_xor_si128(_mm_srli_si128(x, 4), _mm_clmulepi64_si128(_mm_and_si128(x, low32), to32, 0x00));
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, low32), barrett, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), barrett, 0x00);
    x = _mm_xor_si128(x, t);
    used = std::size_t(data - start);
    return std::uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(x, 4)));
}

bool hasCarrylessMultiply()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul");
}
#endif

} // namespace

void Crc32::update(const std::uint8_t* data, std::size_t size)
{
#if defined(__SSE2__)
    static const bool folds = hasCarrylessMultiply();
    if (folds && size >= 64) {
        std::size_t used = 0;
        state = updateFolded(state, data, size, used);
        data += used;
        size -= used;
    }
#endif
    state = updateSliced(state, data, size);
}

} // namespace ape
