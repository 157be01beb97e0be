#include "format/ContainerLayout.h"

#include "format/ByteOrder.h"
#include "format/FormatConstants.h"

#include <cstring>

namespace ape {

Descriptor Descriptor::read(const std::uint8_t* p)
{
    Descriptor d;
    d.version = readLe16(p + 4);
    d.padding = readLe16(p + 6);
    d.descriptorLength = readLe32(p + 8);
    d.headerLength = readLe32(p + 12);
    d.seekTableLength = readLe32(p + 16);
    d.wavHeaderLength = readLe32(p + 20);
    d.audioDataLength = readLe32(p + 24);
    d.audioDataLengthHigh = readLe32(p + 28);
    d.wavTailLength = readLe32(p + 32);
    std::memcpy(d.md5.data(), p + 36, 16);
    return d;
}

void Descriptor::write(std::uint8_t* p) const
{
    std::memcpy(p, signature, 4);
    writeLe16(p + 4, version);
    writeLe16(p + 6, padding);
    writeLe32(p + 8, descriptorLength);
    writeLe32(p + 12, headerLength);
    writeLe32(p + 16, seekTableLength);
    writeLe32(p + 20, wavHeaderLength);
    writeLe32(p + 24, audioDataLength);
    writeLe32(p + 28, audioDataLengthHigh);
    writeLe32(p + 32, wavTailLength);
    std::memcpy(p + 36, md5.data(), 16);
}

Header Header::read(const std::uint8_t* p)
{
    Header h;
    h.compressionLevel = readLe16(p);
    h.formatFlags = readLe16(p + 2);
    h.blocksPerFrame = readLe32(p + 4);
    h.finalFrameBlocks = readLe32(p + 8);
    h.totalFrames = readLe32(p + 12);
    h.bitsPerSample = readLe16(p + 16);
    h.channels = readLe16(p + 18);
    h.sampleRate = readLe32(p + 20);
    return h;
}

void Header::write(std::uint8_t* p) const
{
    writeLe16(p, compressionLevel);
    writeLe16(p + 2, formatFlags);
    writeLe32(p + 4, blocksPerFrame);
    writeLe32(p + 8, finalFrameBlocks);
    writeLe32(p + 12, totalFrames);
    writeLe16(p + 16, bitsPerSample);
    writeLe16(p + 18, channels);
    writeLe32(p + 20, sampleRate);
}

OldHeader OldHeader::read(const std::uint8_t* p)
{
    OldHeader h;
    h.version = readLe16(p + 4);
    h.compressionLevel = readLe16(p + 6);
    h.formatFlags = readLe16(p + 8);
    h.channels = readLe16(p + 10);
    h.sampleRate = readLe32(p + 12);
    h.wavHeaderLength = readLe32(p + 16);
    h.wavTailLength = readLe32(p + 20);
    h.totalFrames = readLe32(p + 24);
    h.finalFrameBlocks = readLe32(p + 28);
    std::uint32_t at = fixedSize;
    if (h.formatFlags & formatFlag::hasPeakLevel) {
        h.peakLevel = readLe32(p + at);
        at += 4;
    }
    h.seekElements = h.totalFrames;
    if (h.formatFlags & formatFlag::hasSeekElements) {
        h.seekElements = readLe32(p + at);
        at += 4;
    }
    h.headerLength = at;
    return h;
}

int OldHeader::bitsPerSample() const
{
    if (formatFlags & formatFlag::eightBit)
        return 8;
    if (formatFlags & formatFlag::twentyFourBit)
        return 24;
    return 16;
}

} // namespace ape
