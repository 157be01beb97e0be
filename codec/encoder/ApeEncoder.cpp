#include "encoder/ApeEncoder.h"

#include "encoder/EncodeError.h"
#include "format/ByteOrder.h"
#include "format/ContainerLayout.h"
#include "format/FormatConstants.h"
#include "format/Md5.h"
#include "format/WavHeader.h"

#include <initializer_list>
#include <string>

namespace ape {

namespace {

constexpr unsigned oldestWritable = version::interleaved; // older versions need the bit-stream coders
constexpr std::uint64_t maxFileBytes = 0xFFFFFFFFu;       // seek entries are 32-bit offsets

// Blocks per frame as files in the wild use them; the file stores
// the value from version 3980 on and implies it before.
std::uint32_t defaultBlocksPerFrame(unsigned fileVersion, unsigned compression)
{
    if (fileVersion < unsigned(version::predictor3950))
        return blocksPerFrame::standard;
    if (fileVersion < unsigned(version::newHeader))
        return blocksPerFrame::large;
    if (compression >= unsigned(level::insane))
        return blocksPerFrame::standard * 16;
    if (compression >= unsigned(level::extraHigh))
        return blocksPerFrame::large;
    return blocksPerFrame::standard;
}

const PcmFormat& validated(const PcmFormat& format, const EncoderOptions& options)
{
    if (format.channels != 1 && format.channels != 2)
        throw EncodeError("unsupported channel count " + std::to_string(format.channels) + " (only 1 or 2)");
    if (format.bitsPerSample != 8 && format.bitsPerSample != 16 && format.bitsPerSample != 24)
        throw EncodeError("unsupported sample depth " + std::to_string(format.bitsPerSample) +
                          " bits (only 8, 16 or 24)");
    if (format.sampleRate == 0 || format.sampleRate > sampleRate::maximum)
        throw EncodeError("sample rate " + std::to_string(format.sampleRate) + " is not allowed (1 to " +
                          std::to_string(sampleRate::maximum) + " Hz)");
    if (options.level < 1000 || options.level > 5000 || options.level % 1000 != 0)
        throw EncodeError("unsupported compression level " + std::to_string(options.level) +
                          " (1000..5000 in steps of 1000)");
    if (options.version < oldestWritable || options.version > unsigned(version::newest))
        throw EncodeError("unsupported format version " + std::to_string(options.version) + " (3930..3990)");
    return format;
}

std::uint32_t chooseBlocksPerFrame(const EncoderOptions& options)
{
    const std::uint32_t usual = defaultBlocksPerFrame(options.version, options.level);
    if (options.blocksPerFrame == 0)
        return usual;
    if (options.version < unsigned(version::newHeader) && options.blocksPerFrame != usual)
        throw EncodeError("format version " + std::to_string(options.version) + " implies " + std::to_string(usual) +
                          " blocks per frame");
    if (options.blocksPerFrame > blocksPerFrame::maximum)
        throw EncodeError("too many blocks per frame");
    return options.blocksPerFrame;
}

// The logical stream holds each 32-bit word most significant byte first;
// the file holds the words little-endian.
void swapWords(std::vector<std::uint8_t>& bytes)
{
    for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) {
        std::swap(bytes[i], bytes[i + 3]);
        std::swap(bytes[i + 1], bytes[i + 2]);
    }
}

} // namespace

ApeEncoder::ApeEncoder(const PcmFormat& format, const EncoderOptions& options)
    : format(validated(format, options)), options(options), blocksInFrame(chooseBlocksPerFrame(options)),
      frameEncoder(format, options)
{
}

bool ApeEncoder::conflictsAllowed() const
{
    switch (options.widthPolicy) {
    case WidthPolicy::strict:
        return false;
    case WidthPolicy::portable:
        return options.level < unsigned(level::insane);
    case WidthPolicy::ffmpeg51:
        return true;
    }
    return false;
}

std::vector<std::uint8_t> ApeEncoder::encodeFrames(std::span<const std::uint8_t> pcm,
                                                   std::vector<std::uint32_t>& offsets)
{
    const std::size_t frameBytes = std::size_t{blocksInFrame} * format.blockAlign();
    std::vector<std::uint8_t> data;
    for (std::size_t start = 0; start < pcm.size(); start += frameBytes) {
        offsets.push_back(static_cast<std::uint32_t>(data.size()));
        const std::uint64_t conflictsBefore = frameEncoder.widthConflicts();
        frameEncoder.encode(pcm.subspan(start, std::min(frameBytes, pcm.size() - start)), data);
        if (frameEncoder.widthConflicts() != conflictsBefore && !conflictsAllowed())
            throw EncodeError("frame " + std::to_string(offsets.size() - 1) + " is too loud for stereo at level " +
                              std::to_string(options.level) + ": decoders would disagree on it");
        if (options.padFrames || start + frameBytes >= pcm.size())
            data.resize((data.size() + 3) & ~std::size_t{3}, 0);
        if (data.size() > maxFileBytes)
            throw EncodeError("the encoded audio would exceed 4 GiB");
    }
    swapWords(data);
    return data;
}

std::vector<std::uint8_t> ApeEncoder::encode(std::span<const std::uint8_t> pcm, std::span<const std::uint8_t> wavHeader,
                                             std::span<const std::uint8_t> wavTail)
{
    if (pcm.size() % format.blockAlign() != 0)
        throw EncodeError("the PCM data ends inside a block");
    const std::uint64_t blocks = pcm.size() / format.blockAlign();
    if (blocks == 0)
        throw EncodeError("no audio: a file must hold at least one block");

    std::vector<std::uint8_t> storedHeader;
    if (!wavHeader.empty()) {
        storedHeader.assign(wavHeader.begin(), wavHeader.end());
    } else if (options.storeWavHeader) {
        const auto canonical = canonicalWavHeader(int(format.channels), format.sampleRate, int(format.bitsPerSample),
                                                  blocks * format.blockAlign());
        storedHeader.assign(canonical.begin(), canonical.end());
    }

    std::vector<std::uint32_t> offsets;
    const std::vector<std::uint8_t> frames = encodeFrames(pcm, offsets);
    const auto totalFrames = static_cast<std::uint32_t>(offsets.size());
    const auto finalFrameBlocks = static_cast<std::uint32_t>(blocks - std::uint64_t{totalFrames - 1} * blocksInFrame);
    const bool newHeader = options.version >= unsigned(version::newHeader);
    const std::uint32_t seekTableBytes = 4 * totalFrames;
    const std::uint32_t leadBytes = newHeader ? Descriptor::size + Header::size : OldHeader::fixedSize;
    const std::uint32_t firstFrame = leadBytes + seekTableBytes + static_cast<std::uint32_t>(storedHeader.size());
    if (std::uint64_t{firstFrame} + frames.size() + wavTail.size() > maxFileBytes)
        throw EncodeError("the file would exceed 4 GiB");

    std::vector<std::uint8_t> seekTable;
    ByteWriter seek(seekTable);
    for (std::uint32_t offset : offsets)
        seek.u32(firstFrame + offset);

    std::uint16_t flags = storedHeader.empty() ? formatFlag::createWavHeader : 0;
    std::vector<std::uint8_t> file;
    ByteWriter w(file);
    if (newHeader) {
        Header header;
        header.compressionLevel = static_cast<std::uint16_t>(options.level);
        header.formatFlags = flags;
        header.blocksPerFrame = blocksInFrame;
        header.finalFrameBlocks = finalFrameBlocks;
        header.totalFrames = totalFrames;
        header.bitsPerSample = static_cast<std::uint16_t>(format.bitsPerSample);
        header.channels = static_cast<std::uint16_t>(format.channels);
        header.sampleRate = format.sampleRate;
        std::array<std::uint8_t, Header::size> headerBytes{};
        header.write(headerBytes.data());

        Descriptor descriptor;
        descriptor.version = static_cast<std::uint16_t>(options.version);
        descriptor.descriptorLength = Descriptor::size;
        descriptor.headerLength = Header::size;
        descriptor.seekTableLength = seekTableBytes;
        descriptor.wavHeaderLength = static_cast<std::uint32_t>(storedHeader.size());
        descriptor.audioDataLength = static_cast<std::uint32_t>(frames.size());
        descriptor.wavTailLength = static_cast<std::uint32_t>(wavTail.size());
        // The digest covers the stored parts in this order, by convention.
        Md5 md5;
        for (std::span<const std::uint8_t> part :
             {std::span<const std::uint8_t>(storedHeader), std::span<const std::uint8_t>(frames), wavTail,
              std::span<const std::uint8_t>(headerBytes), std::span<const std::uint8_t>(seekTable)})
            if (!part.empty()) // an empty part may have no storage at all
                md5.update(part.data(), part.size());
        descriptor.md5 = md5.finish();
        std::array<std::uint8_t, Descriptor::size> descriptorBytes{};
        descriptor.write(descriptorBytes.data());

        w.bytes(descriptorBytes.data(), descriptorBytes.size());
        w.bytes(headerBytes.data(), headerBytes.size());
        w.bytes(seekTable.data(), seekTable.size());
        w.bytes(storedHeader.data(), storedHeader.size());
    } else {
        // The old header implies blocks per frame and takes the depth from flags.
        flags |= formatFlag::crc;
        if (format.bitsPerSample == 8)
            flags |= formatFlag::eightBit;
        else if (format.bitsPerSample == 24)
            flags |= formatFlag::twentyFourBit;
        w.bytes(signature, 4);
        w.u16(static_cast<std::uint16_t>(options.version));
        w.u16(static_cast<std::uint16_t>(options.level));
        w.u16(flags);
        w.u16(static_cast<std::uint16_t>(format.channels));
        w.u32(format.sampleRate);
        w.u32(static_cast<std::uint32_t>(storedHeader.size()));
        w.u32(static_cast<std::uint32_t>(wavTail.size()));
        w.u32(totalFrames);
        w.u32(finalFrameBlocks);
        w.bytes(storedHeader.data(), storedHeader.size());
        w.bytes(seekTable.data(), seekTable.size());
    }
    w.bytes(frames.data(), frames.size());
    w.bytes(wavTail.data(), wavTail.size());
    return file;
}

} // namespace ape
