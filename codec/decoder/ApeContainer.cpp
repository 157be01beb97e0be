#include "decoder/ApeContainer.h"

#include "apecodec.h"
#include "format/ByteOrder.h"
#include "format/CodecError.h"
#include "format/ContainerLayout.h"
#include "format/FormatConstants.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace ape {
namespace {

[[noreturn]] void invalid(const char* what)
{
    throw CodecError(APE_ERROR_INVALID_INPUT_FILE, what);
}

// For reads that lie inside the file by construction: a failure there is the
// source's, not a sign of a malformed file.
void readOrFail(ByteSource& source, std::uint64_t offset, void* out, std::size_t count)
{
    if (!source.read(offset, out, count))
        throw CodecError(APE_ERROR_IO_READ, "read failed");
}

bool validLevel(int level, int version)
{
    return level % 1000 == 0 && level >= level::fast && level <= level::insane &&
           (level != level::insane || version >= version::interleaved);
}

std::uint32_t impliedBlocksPerFrame(int version, int level)
{
    if (version >= version::predictor3950)
        return blocksPerFrame::large;
    if (version >= version::rangeCoder || level >= level::extraHigh)
        return blocksPerFrame::standard;
    return blocksPerFrame::small;
}

} // namespace

ApeContainer ApeContainer::open(ByteSource& source)
{
    ApeContainer c;
    const std::uint64_t fileSize = source.size();
    std::uint8_t fixed[Descriptor::size] = {};
    c.readSignature(source, fileSize, fixed);
    c.tag = ApeTag::read(source);
    const std::uint64_t streamEnd = c.tag.streamEnd();
    const std::uint64_t audioDataEnd = c.version >= version::newHeader
                                           ? c.readDescriptorAndHeader(source, fixed, streamEnd)
                                           : c.readOldHeader(source, fileSize);
    c.validateFormat();
    c.locateAudio(streamEnd, audioDataEnd);
    return c;
}

void ApeContainer::readSignature(ByteSource& source, std::uint64_t fileSize, std::uint8_t* fixed)
{
    std::uint8_t first[10] = {};
    if (fileSize >= sizeof first)
        readOrFail(source, 0, first, sizeof first);
    apeStart = ApeTag::leadingId3v2Size(first);

    if (apeStart >= fileSize)
        invalid("no signature");
    readOrFail(source, apeStart, fixed, std::size_t(std::min<std::uint64_t>(Descriptor::size, fileSize - apeStart)));
    if (std::memcmp(fixed, signature, 4) != 0)
        invalid("no signature");
    version = readLe16(fixed + 4);
    if (version < version::oldest || version > version::newest)
        throw CodecError(APE_ERROR_UNSUPPORTED_FILE_TYPE, "unsupported version");
}

std::uint64_t ApeContainer::readDescriptorAndHeader(ByteSource& source, const std::uint8_t* fixed,
                                                    std::uint64_t streamEnd)
{
    Descriptor d = Descriptor::read(fixed);
    if (d.descriptorLength < Descriptor::size || d.headerLength < Header::size)
        invalid("descriptor too short");
    std::uint64_t headerAt = apeStart + d.descriptorLength;
    std::uint8_t raw[Header::size];
    if (headerAt + Header::size > streamEnd)
        invalid("header outside the file");
    readOrFail(source, headerAt, raw, sizeof raw);
    Header h = Header::read(raw);
    level = h.compressionLevel;
    formatFlags = h.formatFlags;
    channels = h.channels;
    bitsPerSample = h.bitsPerSample;
    sampleRate = h.sampleRate;
    blocksPerFrame = h.blocksPerFrame;
    finalFrameBlocks = h.finalFrameBlocks;
    totalFrames = h.totalFrames;
    seekTable = headerAt + d.headerLength;
    if (d.seekTableLength / 4 < std::uint64_t(totalFrames))
        invalid("seek table shorter than the frame count");
    wavHeaderLength = d.wavHeaderLength;
    wavTailLength = d.wavTailLength;
    firstFrame = seekTable + d.seekTableLength + d.wavHeaderLength;
    return firstFrame + d.audioDataBytes();
}

std::uint64_t ApeContainer::readOldHeader(ByteSource& source, std::uint64_t fileSize)
{
    std::uint8_t raw[OldHeader::maximumSize] = {};
    readOrFail(source, apeStart, raw, std::size_t(std::min<std::uint64_t>(sizeof raw, fileSize - apeStart)));
    OldHeader h = OldHeader::read(raw);
    level = h.compressionLevel;
    formatFlags = h.formatFlags;
    channels = h.channels;
    bitsPerSample = h.bitsPerSample();
    sampleRate = h.sampleRate;
    totalFrames = h.totalFrames;
    finalFrameBlocks = h.finalFrameBlocks;
    blocksPerFrame = impliedBlocksPerFrame(version, level);
    if ((h.formatFlags & formatFlag::createWavHeader) && h.wavHeaderLength != 0)
        invalid("WAV header length with no stored header");
    if (h.seekElements < h.totalFrames)
        invalid("seek table shorter than the frame count");
    wavHeaderLength = h.wavHeaderLength;
    wavTailLength = h.wavTailLength;
    seekTable = apeStart + h.headerLength + h.wavHeaderLength;
    seekBits = seekTable + std::uint64_t(h.seekElements) * 4;
    firstFrame = seekBits + (version < version::seekBitTableEnd ? h.totalFrames : 0);
    return std::numeric_limits<std::uint64_t>::max();
}

void ApeContainer::validateFormat() const
{
    if (channels < 1 || channels > 2)
        invalid("channel count");
    if (bitsPerSample != 8 && bitsPerSample != 16 && bitsPerSample != 24)
        invalid("sample width");
    if (sampleRate == 0 || sampleRate > sampleRate::maximum)
        invalid("sample rate");
    if (!validLevel(level, version))
        invalid("compression level");
    if (totalFrames == 0)
        invalid("no frames");
    if (blocksPerFrame == 0 || blocksPerFrame > blocksPerFrame::maximum)
        invalid("blocks per frame");
    if (finalFrameBlocks == 0 || finalFrameBlocks > blocksPerFrame)
        invalid("final frame blocks");
}

void ApeContainer::locateAudio(std::uint64_t streamEnd, std::uint64_t audioDataEnd)
{
    // Audio ends before the WAV tail and the tags; a file cut short ends early.
    std::uint64_t tailStart = streamEnd >= wavTailLength ? streamEnd - wavTailLength : 0;
    dataEnd = std::min(audioDataEnd, tailStart);
    if (firstFrame >= dataEnd)
        invalid("no audio data");
    if (std::uint64_t(totalFrames) > (dataEnd - firstFrame) / minimumFrameBytes)
        invalid("more frames than the data can hold");
    if (seekTable + std::uint64_t(totalFrames) * 4 > firstFrame)
        invalid("seek table outside the file");

    totalBlocks = std::uint64_t(totalFrames - 1) * blocksPerFrame + finalFrameBlocks;
    if (totalBlocks > std::uint64_t(std::numeric_limits<std::int32_t>::max()))
        throw CodecError(APE_ERROR_INPUT_FILE_TOO_LARGE, "more blocks than the interface can count");
}

FrameSpan ApeContainer::frame(ByteSource& source, std::uint32_t index) const
{
    auto corrupt = [](const char* what) { return CodecError(APE_ERROR_DECOMPRESSING_FRAME, what); };
    auto position = [&](std::uint32_t i) -> std::uint64_t {
        if (i == 0)
            return firstFrame;
        std::uint8_t entry[4];
        if (!source.read(seekTable + std::uint64_t(i) * 4, entry, 4))
            throw corrupt("seek table unreadable");
        return apeStart + readLe32(entry);
    };
    auto bitOffset = [&](std::uint32_t i) -> std::uint32_t {
        if (version >= version::seekBitTableEnd)
            return 0;
        std::uint8_t bits;
        if (!source.read(seekBits + i, &bits, 1) || bits > 7)
            throw corrupt("bad seek bit offset");
        return bits;
    };

    std::uint64_t start = position(index);
    std::uint64_t end = index + 1 < totalFrames ? position(index + 1) : dataEnd;
    end = std::min(end, dataEnd);
    if (start < firstFrame || start >= end)
        throw corrupt("frame outside the audio data");

    FrameSpan span;
    std::uint32_t skipBytes = std::uint32_t((start - firstFrame) % 4);
    span.wordStart = start - skipBytes;
    span.skipBits = skipBytes * 8 + bitOffset(index);
    // Up to and including the word holding the last byte; a following frame
    // that starts mid-byte shares one more word.
    std::uint64_t endWord = firstFrame + (end - firstFrame + 3) / 4 * 4;
    if (index + 1 < totalFrames && bitOffset(index + 1) != 0)
        endWord += 4;
    std::uint64_t fileWords = firstFrame + (source.size() - firstFrame) / 4 * 4;
    span.wordEnd = std::min(endWord, fileWords);
    span.blocks = frameBlocks(index);
    if (span.wordEnd <= span.wordStart)
        throw corrupt("frame outside the file");
    return span;
}

} // namespace ape
