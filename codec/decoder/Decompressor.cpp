#include "decoder/Decompressor.h"

#include "apecodec.h"
#include "format/CodecError.h"
#include "format/FormatConstants.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

namespace ape {
namespace {

// Interleaving and WAV packing per sample width; corrupt values beyond the
// width keep their low bits (the frame CRC then fails). 8-bit WAV samples are
// unsigned: the offset is added in unsigned arithmetic, which wraps, since a
// corrupt value may lie anywhere up to INT32_MAX.
template <int Channels>
void pack8(const std::int32_t* left, const std::int32_t* right, std::uint8_t* out, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        *out++ = std::uint8_t(std::uint32_t(left[i]) + 128u);
        if constexpr (Channels == 2)
            *out++ = std::uint8_t(std::uint32_t(right[i]) + 128u);
    }
}

template <int Channels>
void pack16(const std::int32_t* left, const std::int32_t* right, std::uint8_t* out, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        out[0] = std::uint8_t(left[i]);
        out[1] = std::uint8_t(left[i] >> 8);
        out += 2;
        if constexpr (Channels == 2) {
            out[0] = std::uint8_t(right[i]);
            out[1] = std::uint8_t(right[i] >> 8);
            out += 2;
        }
    }
}

// A block of 24-bit samples: Channels * 3 bytes, the low 24 bits of each.
template <int Channels>
void pack24Bytes(const std::int32_t* left, const std::int32_t* right, std::uint8_t* out, std::size_t i)
{
    out[0] = std::uint8_t(left[i]);
    out[1] = std::uint8_t(left[i] >> 8);
    out[2] = std::uint8_t(left[i] >> 16);
    if constexpr (Channels == 2) {
        out[3] = std::uint8_t(right[i]);
        out[4] = std::uint8_t(right[i] >> 8);
        out[5] = std::uint8_t(right[i] >> 16);
    }
}

// Each block but the last as one little-endian word (8 bytes for 6, 4 for
// 3) whose spare bytes the next block overwrites: one store instead of three
// or six. The last block goes byte by byte, so nothing is written past it.
template <int Channels>
void pack24(const std::int32_t* left, const std::int32_t* right, std::uint8_t* out, std::size_t count)
{
    constexpr std::size_t blockBytes = 3 * Channels;
    std::size_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        for (; i + 1 < count; ++i, out += blockBytes) {
            if constexpr (Channels == 2) {
                const std::uint64_t word = (std::uint64_t(std::uint32_t(left[i]) & 0xFFFFFFu)) |
                                           (std::uint64_t(std::uint32_t(right[i]) & 0xFFFFFFu) << 24);
                std::memcpy(out, &word, sizeof word);
            } else {
                const std::uint32_t word = std::uint32_t(left[i]) & 0xFFFFFFu;
                std::memcpy(out, &word, sizeof word);
            }
        }
    }
    for (; i < count; ++i, out += blockBytes)
        pack24Bytes<Channels>(left, right, out, i);
}

template <int Channels>
void (*packerFor(int bits))(const std::int32_t*, const std::int32_t*, std::uint8_t*, std::size_t)
{
    return bits == 8 ? pack8<Channels> : bits == 16 ? pack16<Channels> : pack24<Channels>;
}

// How many chunks the decompressor keeps: about four seconds, enough to seek
// back to where a player's clock stood when it stopped (its renderer and
// queues hold a second or so beyond it), within 4 MiB; at least two.
std::size_t recentSlots(std::uint32_t sampleRate, std::uint32_t blockAlign)
{
    constexpr std::uint64_t seconds = 4;
    constexpr std::uint64_t byteLimit = 4 << 20;
    const std::uint64_t chunkBytes = std::max<std::uint64_t>(1, std::uint64_t(FrameDecoder::chunkBlocks) * blockAlign);
    const std::uint64_t wanted =
        (std::uint64_t(sampleRate) * seconds + FrameDecoder::chunkBlocks - 1) / FrameDecoder::chunkBlocks;
    return std::size_t(std::max<std::uint64_t>(2, std::min(wanted, byteLimit / chunkBytes)));
}

} // namespace

std::unique_ptr<Decompressor> Decompressor::open(std::unique_ptr<ByteSource> source)
{
    ApeContainer container = ApeContainer::open(*source);
    return std::unique_ptr<Decompressor>(new Decompressor(std::move(source), std::move(container)));
}

Decompressor::Decompressor(std::unique_ptr<ByteSource> source, ApeContainer container)
    : byteSource(std::move(source)), apeContainer(std::move(container)),
      blockAlign(std::uint32_t(apeContainer.blockAlign())),
      pack(apeContainer.channels == 2 ? packerFor<2>(apeContainer.bitsPerSample)
                                      : packerFor<1>(apeContainer.bitsPerSample)),
      checkCrc(apeContainer.version >= version::rangeCoder), frames(FrameDecoder::create(apeContainer, *byteSource)),
      left(FrameDecoder::chunkBlocks), right(FrameDecoder::chunkBlocks),
      recent(recentSlots(apeContainer.sampleRate, blockAlign), FrameDecoder::chunkBlocks * blockAlign)
{
}

void Decompressor::restartAt(std::uint64_t block)
{
    frameIndex = std::uint32_t(block / apeContainer.blocksPerFrame);
    frameLeft = 0;
    decodedEnd = std::uint64_t(frameIndex) * apeContainer.blocksPerFrame;
    current.store(block, std::memory_order_release);
}

std::uint64_t Decompressor::frameUnderWayEnd() const
{
    return std::uint64_t(frameIndex) * apeContainer.blocksPerFrame +
           (frameIndex < apeContainer.totalFrames ? apeContainer.frameBlocks(frameIndex) : 0);
}

void Decompressor::aimAt(std::uint64_t block)
{
    if (block >= decodedEnd && block < frameUnderWayEnd())
        current.store(block, std::memory_order_release);
    else
        restartAt(block);
}

void Decompressor::decodeChunk()
{
    if (frameLeft == 0) {
        frames->start(apeContainer.frame(*byteSource, frameIndex));
        frameLeft = apeContainer.frameBlocks(frameIndex);
        crc.reset();
    }
    std::size_t count = std::min<std::size_t>(frameLeft, FrameDecoder::chunkBlocks);
    std::uint8_t* pcm = recent.next();
    frames->decode(left.data(), right.data(), count);
    pack(left.data(), right.data(), pcm, count);
    crc.update(pcm, count * blockAlign);
    frameLeft -= std::uint32_t(count);
    if (frameLeft == 0) {
        if (checkCrc && (crc.value() >> 1) != frames->storedCrc())
            throw CodecError(APE_ERROR_INVALID_CHECKSUM, "frame CRC mismatch");
        ++frameIndex;
    }
    recent.commit(decodedEnd, count);
    decodedEnd += count;
}

void Decompressor::decodeUntil(std::uint64_t end)
{
    while (decodedEnd < end && decodedEnd < apeContainer.totalBlocks)
        decodeChunk();
}

int Decompressor::getData(std::uint8_t* out, std::uint32_t blocks, std::uint32_t* delivered)
{
    std::lock_guard lock(streamMutex);
    std::uint32_t done = 0;
    int result = APE_SUCCESS;
    try {
        std::uint64_t position = current.load(std::memory_order_relaxed);
        while (done < blocks && position < apeContainer.totalBlocks) {
            std::size_t offset = 0, held = 0;
            const std::uint8_t* pcm = recent.find(position, &offset, &held);
            if (!pcm) {
                aimAt(position);
                decodeUntil(position + 1);
                continue;
            }
            std::size_t take = std::min<std::size_t>(held - offset, blocks - done);
            take = std::size_t(std::min<std::uint64_t>(take, apeContainer.totalBlocks - position));
            std::memcpy(out + std::size_t(done) * blockAlign, pcm + offset * blockAlign, take * blockAlign);
            done += std::uint32_t(take);
            position += take;
            current.store(position, std::memory_order_release);
        }
    } catch (const CodecError& e) {
        result = e.code();
    } catch (const std::bad_alloc&) {
        result = APE_ERROR_INSUFFICIENT_MEMORY;
    }
    if (result != APE_SUCCESS)
        restartAt(current.load(std::memory_order_relaxed));
    *delivered = done;
    return result;
}

int Decompressor::seek(std::uint64_t block)
{
    if (block > apeContainer.totalBlocks)
        return APE_ERROR_BAD_PARAMETER;
    std::lock_guard lock(streamMutex);
    // Nothing to decode for a block held, or where decoding stands, or at a
    // frame's start; the next getData() moves decoding only if it must, so
    // a seek to the start and straight back (what a filter does when its
    // stream starts again) goes on where decoding stood.
    if (decodingLeadTo(block) == 0) {
        current.store(block, std::memory_order_release);
        return APE_SUCCESS;
    }
    aimAt(block);
    // The frame is decoded up to the block now rather than by the next
    // getData(): a player seeks on its control thread and then waits for the
    // first samples, and until they arrive its renderer is still cueing.
    try {
        decodeUntil(block);
    } catch (const CodecError& e) {
        restartAt(block);
        return e.code();
    } catch (const std::bad_alloc&) {
        restartAt(block);
        return APE_ERROR_INSUFFICIENT_MEMORY;
    }
    return APE_SUCCESS;
}

std::uint64_t Decompressor::decodingLeadTo(std::uint64_t block)
{
    // The end of the stream holds nothing to decode, even when the last
    // frame is damaged.
    if (block >= apeContainer.totalBlocks || block % apeContainer.blocksPerFrame == 0 || block == decodedEnd)
        return 0;
    std::size_t offset = 0, held = 0;
    if (recent.find(block, &offset, &held))
        return 0;
    if (block >= decodedEnd && block < frameUnderWayEnd())
        return block - decodedEnd;
    return block % apeContainer.blocksPerFrame;
}

std::uint64_t Decompressor::seekDecodingLead(std::uint64_t block)
{
    std::lock_guard lock(streamMutex);
    return decodingLeadTo(block);
}

std::int32_t Decompressor::info(int field) const
{
    const ApeContainer& c = apeContainer;
    auto milliseconds = [&](std::uint64_t blocks) {
        return std::int32_t(std::min<std::uint64_t>(blocks * 1000 / c.sampleRate, INT32_MAX));
    };
    switch (field) {
    case APE_INFO_FILE_VERSION:
        return c.version;
    case APE_INFO_COMPRESSION_LEVEL:
        return c.level;
    case APE_INFO_FORMAT_FLAGS:
        return c.formatFlags;
    case APE_INFO_SAMPLE_RATE:
        return std::int32_t(std::min<std::uint32_t>(c.sampleRate, INT32_MAX));
    case APE_INFO_BITS_PER_SAMPLE:
        return c.bitsPerSample;
    case APE_INFO_BYTES_PER_SAMPLE:
        return c.bitsPerSample / 8;
    case APE_INFO_CHANNELS:
        return c.channels;
    case APE_INFO_BLOCK_ALIGN:
        return c.blockAlign();
    case APE_INFO_BLOCKS_PER_FRAME:
        return std::int32_t(c.blocksPerFrame);
    case APE_INFO_FINAL_FRAME_BLOCKS:
        return std::int32_t(c.finalFrameBlocks);
    case APE_INFO_TOTAL_FRAMES:
        return std::int32_t(std::min<std::uint32_t>(c.totalFrames, INT32_MAX));
    case APE_INFO_CURRENT_BLOCK:
        return std::int32_t(currentBlock());
    case APE_INFO_CURRENT_MS:
        return milliseconds(currentBlock());
    case APE_INFO_TOTAL_BLOCKS:
        return std::int32_t(c.totalBlocks);
    case APE_INFO_LENGTH_MS:
        return milliseconds(c.totalBlocks);
    default:
        return 0;
    }
}

} // namespace ape
