// CRC-32 as zlib and PNG define it (reflected polynomial 0xEDB88320, initial
// value and final XOR 0xFFFFFFFF). Frames store value() >> 1.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ape {

class Crc32 {
public:
    void reset() { state = 0xFFFFFFFFu; }
    void update(const std::uint8_t* data, std::size_t size);
    std::uint32_t value() const { return state ^ 0xFFFFFFFFu; }

private:
    std::uint32_t state = 0xFFFFFFFFu;
};

} // namespace ape
