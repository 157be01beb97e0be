// MD5 (RFC 1321), for the descriptor's digest and for comparing PCM in tests.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace ape {

class Md5 {
public:
    Md5();
    void update(const void* data, std::size_t size);
    std::array<std::uint8_t, 16> finish(); // the object must be reset before reuse
    void reset();
    static std::string hex(const std::array<std::uint8_t, 16>& digest);

private:
    void block(const std::uint8_t* p);
    std::array<std::uint32_t, 4> state;
    std::uint64_t length = 0; // bytes hashed so far
    std::array<std::uint8_t, 64> pending{};
};

} // namespace ape
