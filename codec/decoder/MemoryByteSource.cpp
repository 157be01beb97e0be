#include "MemoryByteSource.h"

#include <cstring>

namespace ape {

bool MemoryByteSource::read(uint64_t offset, void* out, size_t count)
{
    if (offset > size_ || count > size_ - offset)
        return false;
    if (count)
        std::memcpy(out, data_ + offset, count);
    return true;
}

} // namespace ape
