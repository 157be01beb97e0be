// CRC-32 as zlib and PNG define it (reflected polynomial 0xEDB88320, initial
// value and final XOR 0xFFFFFFFF). Frames store value() >> 1.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ape {

class Crc32 {
public:
    void reset() { state_ = 0xFFFFFFFFu; }
    void update(const uint8_t* data, size_t size);
    uint32_t value() const { return state_ ^ 0xFFFFFFFFu; }

private:
    uint32_t state_ = 0xFFFFFFFFu;
};

} // namespace ape
