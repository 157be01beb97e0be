// A ByteSource over bytes in memory (fuzzing, tests). Does not copy: the
// bytes must outlive the source.
#pragma once

#include "format/ByteSource.h"

#include <cstddef>
#include <cstdint>

namespace ape {

class MemoryByteSource : public ByteSource {
public:
    MemoryByteSource(const std::uint8_t* data, std::size_t size) : data(data), byteCount(size) {}
    std::uint64_t size() const override { return byteCount; }
    bool read(std::uint64_t offset, void* out, std::size_t count) override;

private:
    const std::uint8_t* data;
    std::size_t byteCount;
};

} // namespace ape
