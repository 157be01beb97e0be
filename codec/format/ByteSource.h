// Where the codec reads a file from. Implementations must allow read() from
// several threads at once (the tag is read while another thread decodes).
#pragma once

#include <cstddef>
#include <cstdint>

namespace ape {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Total size in bytes; constant for the source's life.
    virtual std::uint64_t size() const = 0;
    // Reads exactly `count` bytes at `offset`; false when they are not all
    // there (nothing is promised about `out` then).
    virtual bool read(std::uint64_t offset, void* out, std::size_t count) = 0;
};

} // namespace ape
