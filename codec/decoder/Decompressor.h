// One open file: decodes blocks in order into interleaved PCM, seeks
// sample-accurately and answers the information fields and the tag.
//
// Threads: getData() and seek() are serialised by `streamMutex`. info() and
// tag() take no lock: everything they read is fixed when the file is opened,
// except the current block, which is an atomic updated after each delivery.
// So one thread may query fields and tag values while another decodes.
//
// Errors: open() throws CodecError; getData() and seek() return the codes of
// apecodec.h and leave the decompressor usable (the next call restarts the
// frame at the current block).
#pragma once

#include "decoder/ApeContainer.h"
#include "decoder/FrameDecoder.h"
#include "decoder/RecentChunks.h"
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
    int getData(std::uint8_t* out, std::uint32_t blocks, std::uint32_t* delivered);
    // 0 <= block <= total, else APE_ERROR_BAD_PARAMETER (position
    // unchanged). Decodes the block's frame up to it, so it may also return
    // a decoding error; the position is then the block, as after success.
    // A block among the last seconds decoded, or further on in the frame
    // being decoded, is reached without decoding anything again.
    int seek(std::uint64_t block);
    // How many blocks seek(block) would decode before it returns: 0 when it
    // need not decode, so that a caller may approach a far block in steps
    // (each a seek on within the frame) and give up between them.
    std::uint64_t seekDecodingLead(std::uint64_t block);
    std::int32_t info(int field) const;

    const ApeContainer& container() const { return apeContainer; }
    const ApeTag& tag() const { return apeContainer.tag; }
    ByteSource& source() { return *byteSource; }
    std::uint64_t currentBlock() const { return current.load(std::memory_order_acquire); }
    std::uint64_t totalBlocks() const { return apeContainer.totalBlocks; }

private:
    Decompressor(std::unique_ptr<ByteSource> source, ApeContainer container);
    void restartAt(std::uint64_t block);
    // Makes decoding lead to `block` and sets the position there: on from
    // where decoding is when the block lies ahead in the frame under way (or
    // in the next, when the last ended at decodedEnd), else from the start
    // of the block's frame.
    void aimAt(std::uint64_t block);
    std::uint64_t frameUnderWayEnd() const;            // the block after frameIndex's last
    std::uint64_t decodingLeadTo(std::uint64_t block); // under streamMutex
    void decodeChunk();                                // the next chunk into `recent`; throws CodecError
    void decodeUntil(std::uint64_t end); // until decodedEnd reaches `end` (or the total); throws CodecError
    using Packer = void (*)(const std::int32_t* left, const std::int32_t* right, std::uint8_t* out, std::size_t count);

    std::unique_ptr<ByteSource> byteSource;
    const ApeContainer apeContainer;
    const std::uint32_t blockAlign;
    const Packer pack;
    const bool checkCrc;
    std::unique_ptr<FrameDecoder> frames;

    std::mutex streamMutex;                // guards everything below except current
    std::atomic<std::uint64_t> current{0}; // block the next getData() delivers
    std::uint32_t frameIndex = 0;          // frame decodeChunk() works on
    std::uint32_t frameLeft = 0;           // its blocks not yet decoded; 0: the frame is not started
    std::uint64_t decodedEnd = 0;          // block the next decodeChunk() starts at
    Crc32 crc;
    std::vector<std::int32_t> left, right;
    RecentChunks recent; // packed blocks of the last chunks decoded, wherever they were
};

} // namespace ape
