// Little-endian field access for the container and tag layouts, plus a small
// appending writer for code that builds those layouts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ape {

inline uint16_t readLe16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

inline uint32_t readLe32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

inline void writeLe16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

inline void writeLe32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

// Appends little-endian fields to a byte vector it does not own.
class ByteWriter {
public:
    explicit ByteWriter(std::vector<uint8_t>& out) : out_(out) {}
    void u8(uint8_t v) { out_.push_back(v); }
    void u16(uint16_t v)
    {
        out_.push_back(uint8_t(v));
        out_.push_back(uint8_t(v >> 8));
    }
    void u32(uint32_t v)
    {
        u16(uint16_t(v));
        u16(uint16_t(v >> 16));
    }
    void bytes(const void* data, size_t n)
    {
        auto p = static_cast<const uint8_t*>(data);
        out_.insert(out_.end(), p, p + n);
    }
    size_t size() const { return out_.size(); }

private:
    std::vector<uint8_t>& out_;
};

} // namespace ape
