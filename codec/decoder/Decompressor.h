// One open file: decodes blocks in order into interleaved PCM, seeks
// sample-accurately and answers the information fields and the tag.
//
// Threads: getData() and seek() are serialised by `streamMutex_`. info() and
// tag() take no lock: everything they read is fixed when the file is opened,
// except the current block, which is an atomic updated after each delivery.
// So one thread may query fields and tag values while another decodes.
//
// Errors: open() throws CodecError; getData() and seek() return the codes of
// apecodec.h and leave the decompressor usable (the next call restarts the
// frame at the current block).
#pragma once

#include "ApeContainer.h"
#include "FrameDecoder.h"
#include "format/ByteSource.h"
#include "format/Crc32.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace ape {

class Decompressor {
public:
    static std::unique_ptr<Decompressor> open(std::unique_ptr<ByteSource> source);

    // Up to `blocks` blocks into `out` (blockAlign() bytes each); *delivered
    // receives the count, 0 at the end. Returns 0 or an error code.
    int getData(uint8_t* out, uint32_t blocks, uint32_t* delivered);
    // 0 <= block <= total; returns 0 or APE_ERROR_BAD_PARAMETER (position unchanged).
    int seek(uint64_t block);
    int32_t info(int field) const;

    const ApeContainer& container() const { return container_; }
    const ApeTag& tag() const { return container_.tag; }
    ByteSource& source() { return *source_; }
    uint64_t currentBlock() const { return current_.load(std::memory_order_acquire); }
    uint64_t totalBlocks() const { return container_.totalBlocks; }

private:
    Decompressor(std::unique_ptr<ByteSource> source, ApeContainer container);
    void restartAt(uint64_t block);
    void decodeChunk(); // refills pcm_; throws CodecError
    using Packer = void (*)(const int32_t* left, const int32_t* right, uint8_t* out, size_t count);

    std::unique_ptr<ByteSource> source_;
    const ApeContainer container_;
    const uint32_t blockAlign_;
    const Packer pack_;
    const bool checkCrc_;
    std::unique_ptr<FrameDecoder> frames_;

    std::mutex streamMutex_; // guards everything below except current_
    std::atomic<uint64_t> current_{0}; // block the next getData() delivers
    uint32_t frameIndex_ = 0;     // frame decodeChunk() works on
    uint32_t frameLeft_ = 0;      // its blocks not yet decoded; 0: the frame is not started
    uint64_t discard_ = 0;        // decoded blocks to drop before delivering (after a seek)
    Crc32 crc_;
    std::vector<int32_t> left_, right_;
    std::vector<uint8_t> pcm_;    // packed blocks of the last chunk
    size_t pcmBlocks_ = 0, pcmUsed_ = 0;
};

} // namespace ape
