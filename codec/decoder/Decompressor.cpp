#include "Decompressor.h"

#include "apecodec.h"
#include "format/CodecError.h"
#include "format/FormatConstants.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace ape {
namespace {

// Interleaving and WAV packing per sample width; corrupt values beyond the
// width keep their low bits (the frame CRC then fails).
template <int Channels> void pack8(const int32_t* left, const int32_t* right, uint8_t* out, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        *out++ = uint8_t(left[i] + 128);
        if constexpr (Channels == 2)
            *out++ = uint8_t(right[i] + 128);
    }
}

template <int Channels> void pack16(const int32_t* left, const int32_t* right, uint8_t* out, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        out[0] = uint8_t(left[i]);
        out[1] = uint8_t(left[i] >> 8);
        out += 2;
        if constexpr (Channels == 2) {
            out[0] = uint8_t(right[i]);
            out[1] = uint8_t(right[i] >> 8);
            out += 2;
        }
    }
}

template <int Channels> void pack24(const int32_t* left, const int32_t* right, uint8_t* out, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        out[0] = uint8_t(left[i]);
        out[1] = uint8_t(left[i] >> 8);
        out[2] = uint8_t(left[i] >> 16);
        out += 3;
        if constexpr (Channels == 2) {
            out[0] = uint8_t(right[i]);
            out[1] = uint8_t(right[i] >> 8);
            out[2] = uint8_t(right[i] >> 16);
            out += 3;
        }
    }
}

template <int Channels>
void (*packerFor(int bits))(const int32_t*, const int32_t*, uint8_t*, size_t)
{
    return bits == 8 ? pack8<Channels> : bits == 16 ? pack16<Channels> : pack24<Channels>;
}

} // namespace

std::unique_ptr<Decompressor> Decompressor::open(std::unique_ptr<ByteSource> source)
{
    ApeContainer container = ApeContainer::open(*source);
    return std::unique_ptr<Decompressor>(new Decompressor(std::move(source), std::move(container)));
}

Decompressor::Decompressor(std::unique_ptr<ByteSource> source, ApeContainer container)
    : source_(std::move(source)), container_(std::move(container)), blockAlign_(uint32_t(container_.blockAlign())),
      pack_(container_.channels == 2 ? packerFor<2>(container_.bitsPerSample)
                                     : packerFor<1>(container_.bitsPerSample)),
      checkCrc_(container_.version >= version::rangeCoder),
      frames_(FrameDecoder::create(container_, *source_)), left_(FrameDecoder::chunkBlocks),
      right_(FrameDecoder::chunkBlocks), pcm_(FrameDecoder::chunkBlocks * blockAlign_)
{
}

void Decompressor::restartAt(uint64_t block)
{
    frameIndex_ = uint32_t(block / container_.blocksPerFrame);
    discard_ = block - uint64_t(frameIndex_) * container_.blocksPerFrame;
    frameLeft_ = 0;
    pcmBlocks_ = pcmUsed_ = 0;
    current_.store(block, std::memory_order_release);
}

void Decompressor::decodeChunk()
{
    if (frameLeft_ == 0) {
        frames_->start(container_.frame(*source_, frameIndex_));
        frameLeft_ = container_.frameBlocks(frameIndex_);
        crc_.reset();
    }
    size_t count = std::min<size_t>(frameLeft_, FrameDecoder::chunkBlocks);
    frames_->decode(left_.data(), right_.data(), count);
    pack_(left_.data(), right_.data(), pcm_.data(), count);
    crc_.update(pcm_.data(), count * blockAlign_);
    frameLeft_ -= uint32_t(count);
    if (frameLeft_ == 0) {
        if (checkCrc_ && (crc_.value() >> 1) != frames_->storedCrc())
            throw CodecError(APE_ERROR_INVALID_CHECKSUM, "frame CRC mismatch");
        ++frameIndex_;
    }
    size_t dropped = size_t(std::min<uint64_t>(discard_, count));
    discard_ -= dropped;
    pcmUsed_ = dropped;
    pcmBlocks_ = count;
}

int Decompressor::getData(uint8_t* out, uint32_t blocks, uint32_t* delivered)
{
    std::lock_guard lock(streamMutex_);
    uint32_t done = 0;
    int result = APE_SUCCESS;
    try {
        uint64_t position = current_.load(std::memory_order_relaxed);
        while (done < blocks && position < container_.totalBlocks) {
            if (pcmUsed_ == pcmBlocks_) {
                decodeChunk();
                continue;
            }
            size_t take = std::min<size_t>(pcmBlocks_ - pcmUsed_, blocks - done);
            take = size_t(std::min<uint64_t>(take, container_.totalBlocks - position));
            std::memcpy(out + size_t(done) * blockAlign_, pcm_.data() + pcmUsed_ * blockAlign_, take * blockAlign_);
            pcmUsed_ += take;
            done += uint32_t(take);
            position += take;
            current_.store(position, std::memory_order_release);
        }
    } catch (const CodecError& e) {
        result = e.code();
    } catch (const std::bad_alloc&) {
        result = APE_ERROR_INSUFFICIENT_MEMORY;
    }
    if (result != APE_SUCCESS)
        restartAt(current_.load(std::memory_order_relaxed));
    *delivered = done;
    return result;
}

int Decompressor::seek(uint64_t block)
{
    if (block > container_.totalBlocks)
        return APE_ERROR_BAD_PARAMETER;
    std::lock_guard lock(streamMutex_);
    restartAt(block);
    return APE_SUCCESS;
}

int32_t Decompressor::info(int field) const
{
    const ApeContainer& c = container_;
    auto milliseconds = [&](uint64_t blocks) { return int32_t(std::min<uint64_t>(blocks * 1000 / c.sampleRate, INT32_MAX)); };
    switch (field) {
    case APE_INFO_FILE_VERSION: return c.version;
    case APE_INFO_COMPRESSION_LEVEL: return c.level;
    case APE_INFO_FORMAT_FLAGS: return c.formatFlags;
    case APE_INFO_SAMPLE_RATE: return int32_t(std::min<uint32_t>(c.sampleRate, INT32_MAX));
    case APE_INFO_BITS_PER_SAMPLE: return c.bitsPerSample;
    case APE_INFO_BYTES_PER_SAMPLE: return c.bitsPerSample / 8;
    case APE_INFO_CHANNELS: return c.channels;
    case APE_INFO_BLOCK_ALIGN: return c.blockAlign();
    case APE_INFO_BLOCKS_PER_FRAME: return int32_t(c.blocksPerFrame);
    case APE_INFO_FINAL_FRAME_BLOCKS: return int32_t(c.finalFrameBlocks);
    case APE_INFO_TOTAL_FRAMES: return int32_t(std::min<uint32_t>(c.totalFrames, INT32_MAX));
    case APE_INFO_CURRENT_BLOCK: return int32_t(currentBlock());
    case APE_INFO_CURRENT_MS: return milliseconds(currentBlock());
    case APE_INFO_TOTAL_BLOCKS: return int32_t(c.totalBlocks);
    case APE_INFO_LENGTH_MS: return milliseconds(c.totalBlocks);
    default: return 0;
    }
}

} // namespace ape
