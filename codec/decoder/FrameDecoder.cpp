#include "decoder/FrameDecoder.h"

#include "decoder/InterleavedFrameDecoder.h"
#include "decoder/LegacyFrameDecoder.h"
#include "format/FormatConstants.h"

namespace ape {

std::unique_ptr<FrameDecoder> FrameDecoder::create(const ApeContainer& container, ByteSource& source)
{
    if (container.version >= version::interleaved)
        return std::make_unique<InterleavedFrameDecoder>(container, source);
    return std::make_unique<LegacyFrameDecoder>(container, source);
}

} // namespace ape
