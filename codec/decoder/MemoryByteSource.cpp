#include "decoder/MemoryByteSource.h"

#include <cstring>

namespace ape {

bool MemoryByteSource::read(std::uint64_t offset, void* out, std::size_t count)
{
    if (offset > byteCount || count > byteCount - offset)
        return false;
    if (count)
        std::memcpy(out, data + offset, count);
    return true;
}

} // namespace ape
