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
    std::uint8_t first[10] = {};
    if (fileSize >= sizeof first)
        readOrFail(source, 0, first, sizeof first);
    c.apeStart = ApeTag::leadingId3v2Size(first);

    std::uint8_t fixed[Descriptor::size] = {};
    if (c.apeStart >= fileSize)
        invalid("no signature");
    readOrFail(source, c.apeStart, fixed, std::size_t(std::min<std::uint64_t>(sizeof fixed, fileSize - c.apeStart)));
    if (std::memcmp(fixed, signature, 4) != 0)
        invalid("no signature");
    c.version = readLe16(fixed + 4);
    if (c.version < version::oldest || c.version > version::newest)
        throw CodecError(APE_ERROR_UNSUPPORTED_FILE_TYPE, "unsupported version");

    c.tag = ApeTag::read(source);
    const std::uint64_t streamEnd = c.tag.streamEnd();
    std::uint64_t audioDataEnd;

    if (c.version >= version::newHeader) {
        Descriptor d = Descriptor::read(fixed);
        if (d.descriptorLength < Descriptor::size || d.headerLength < Header::size)
            invalid("descriptor too short");
        std::uint64_t headerAt = c.apeStart + d.descriptorLength;
        std::uint8_t raw[Header::size];
        if (headerAt + Header::size > streamEnd)
            invalid("header outside the file");
        readOrFail(source, headerAt, raw, sizeof raw);
        Header h = Header::read(raw);
        c.level = h.compressionLevel;
        c.formatFlags = h.formatFlags;
        c.channels = h.channels;
        c.bitsPerSample = h.bitsPerSample;
        c.sampleRate = h.sampleRate;
        c.blocksPerFrame = h.blocksPerFrame;
        c.finalFrameBlocks = h.finalFrameBlocks;
        c.totalFrames = h.totalFrames;
        c.seekTable = headerAt + d.headerLength;
        if (d.seekTableLength / 4 < std::uint64_t(c.totalFrames))
            invalid("seek table shorter than the frame count");
        c.wavHeaderLength = d.wavHeaderLength;
        c.wavTailLength = d.wavTailLength;
        c.firstFrame = c.seekTable + d.seekTableLength + d.wavHeaderLength;
        audioDataEnd = c.firstFrame + d.audioDataBytes();
    } else {
        std::uint8_t raw[OldHeader::maximumSize] = {};
        readOrFail(source, c.apeStart, raw, std::size_t(std::min<std::uint64_t>(sizeof raw, fileSize - c.apeStart)));
        OldHeader h = OldHeader::read(raw);
        c.level = h.compressionLevel;
        c.formatFlags = h.formatFlags;
        c.channels = h.channels;
        c.bitsPerSample = h.bitsPerSample();
        c.sampleRate = h.sampleRate;
        c.totalFrames = h.totalFrames;
        c.finalFrameBlocks = h.finalFrameBlocks;
        c.blocksPerFrame = impliedBlocksPerFrame(c.version, c.level);
        if ((h.formatFlags & formatFlag::createWavHeader) && h.wavHeaderLength != 0)
            invalid("WAV header length with no stored header");
        if (h.seekElements < h.totalFrames)
            invalid("seek table shorter than the frame count");
        c.wavHeaderLength = h.wavHeaderLength;
        c.wavTailLength = h.wavTailLength;
        c.seekTable = c.apeStart + h.headerLength + h.wavHeaderLength;
        c.seekBits = c.seekTable + std::uint64_t(h.seekElements) * 4;
        c.firstFrame = c.seekBits + (c.version < version::seekBitTableEnd ? h.totalFrames : 0);
        audioDataEnd = std::numeric_limits<std::uint64_t>::max();
    }

    if (c.channels < 1 || c.channels > 2)
        invalid("channel count");
    if (c.bitsPerSample != 8 && c.bitsPerSample != 16 && c.bitsPerSample != 24)
        invalid("sample width");
    if (c.sampleRate == 0)
        invalid("sample rate");
    if (!validLevel(c.level, c.version))
        invalid("compression level");
    if (c.totalFrames == 0)
        invalid("no frames");
    if (c.blocksPerFrame == 0 || c.blocksPerFrame > blocksPerFrame::maximum)
        invalid("blocks per frame");
    if (c.finalFrameBlocks == 0 || c.finalFrameBlocks > c.blocksPerFrame)
        invalid("final frame blocks");

    // Audio ends before the WAV tail and the tags; a file cut short ends early.
    std::uint64_t tailStart = streamEnd >= c.wavTailLength ? streamEnd - c.wavTailLength : 0;
    c.dataEnd = std::min(audioDataEnd, tailStart);
    if (c.firstFrame >= c.dataEnd)
        invalid("no audio data");
    if (std::uint64_t(c.totalFrames) > (c.dataEnd - c.firstFrame) / minimumFrameBytes)
        invalid("more frames than the data can hold");
    if (c.seekTable + std::uint64_t(c.totalFrames) * 4 > c.firstFrame)
        invalid("seek table outside the file");

    c.totalBlocks = std::uint64_t(c.totalFrames - 1) * c.blocksPerFrame + c.finalFrameBlocks;
    if (c.totalBlocks > std::uint64_t(std::numeric_limits<std::int32_t>::max()))
        throw CodecError(APE_ERROR_INPUT_FILE_TOO_LARGE, "more blocks than the interface can count");
    return c;
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
