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
    void update(const void* data, size_t size);
    std::array<uint8_t, 16> finish(); // the object must be reset before reuse
    void reset();
    static std::string hex(const std::array<uint8_t, 16>& digest);

private:
    void block(const uint8_t* p);
    std::array<uint32_t, 4> state_;
    uint64_t length_ = 0; // bytes hashed so far
    std::array<uint8_t, 64> pending_{};
};

} // namespace ape
