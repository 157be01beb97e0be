// A ByteSource over bytes in memory (fuzzing, tests). Does not copy: the
// bytes must outlive the source.
#pragma once

#include "format/ByteSource.h"

namespace ape {

class MemoryByteSource : public ByteSource {
public:
    MemoryByteSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint64_t size() const override { return size_; }
    bool read(uint64_t offset, void* out, size_t count) override;

private:
    const uint8_t* data_;
    size_t size_;
};

} // namespace ape
