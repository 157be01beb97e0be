// Little-endian field access for the container and tag layouts, a small
// appending writer for code that builds those layouts, and the big-endian
// words at the start of a frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ape {

inline std::uint16_t readLe16(const std::uint8_t* p)
{
    return std::uint16_t(p[0] | (p[1] << 8));
}

inline std::uint32_t readLe32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}

inline void writeLe16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}

inline void writeLe32(std::uint8_t* p, std::uint32_t v)
{
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
    p[2] = std::uint8_t(v >> 16);
    p[3] = std::uint8_t(v >> 24);
}

// A 32-bit word from a byte stream, most significant byte first: the frames'
// CRC and flags words. `in.next()` supplies each byte.
template <class ByteStream>
std::uint32_t readBe32(ByteStream& in)
{
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v = (v << 8) | in.next();
    return v;
}

// Appends little-endian fields to a byte vector it does not own.
class ByteWriter {
public:
    explicit ByteWriter(std::vector<std::uint8_t>& out) : out(out) {}
    void u8(std::uint8_t v) { out.push_back(v); }
    void u16(std::uint16_t v)
    {
        out.push_back(std::uint8_t(v));
        out.push_back(std::uint8_t(v >> 8));
    }
    void u32(std::uint32_t v)
    {
        u16(std::uint16_t(v));
        u16(std::uint16_t(v >> 16));
    }
    void bytes(const void* data, std::size_t n)
    {
        auto p = static_cast<const std::uint8_t*>(data);
        out.insert(out.end(), p, p + n);
    }
    std::size_t size() const { return out.size(); }

private:
    std::vector<std::uint8_t>& out;
};

} // namespace ape
