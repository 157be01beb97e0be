// The validated description of a file: format, frame grid and where each
// frame's bytes are. open() checks every size and offset against the file
// before anything is sized from them; afterwards the object is immutable.
// Seek-table entries are read from the source when a frame is located, so
// the table costs no memory.
#pragma once

#include "format/ApeTag.h"
#include "format/ByteSource.h"

#include <cstdint>

namespace ape {

// Where one frame's data lies. The codec reads 32-bit little-endian words
// counted from the first frame; a frame may begin inside a word.
struct FrameSpan {
    std::uint64_t wordStart = 0; // file offset of the word holding the frame's first byte
    std::uint64_t wordEnd = 0;   // file offset just past the last word the frame may read
    std::uint32_t skipBits = 0;  // bits of that first word's logical bytes that belong to the previous frame
    std::uint32_t blocks = 0;
};

class ApeContainer {
public:
    // Throws CodecError: APE_ERROR_INVALID_INPUT_FILE for anything malformed
    // or missing, APE_ERROR_UNSUPPORTED_FILE_TYPE for versions outside
    // 3800..3990, APE_ERROR_INPUT_FILE_TOO_LARGE beyond 2^31 - 1 blocks,
    // APE_ERROR_IO_READ when the source fails to read bytes it holds.
    static ApeContainer open(ByteSource& source);

    // Throws CodecError(APE_ERROR_DECOMPRESSING_FRAME) when the seek table
    // puts the frame outside the audio data.
    FrameSpan frame(ByteSource& source, std::uint32_t index) const;

    int version = 0;
    int level = 0;
    std::uint16_t formatFlags = 0;
    int channels = 0;
    int bitsPerSample = 0;
    std::uint32_t sampleRate = 0;
    std::uint32_t blocksPerFrame = 0;
    std::uint32_t finalFrameBlocks = 0;
    std::uint32_t totalFrames = 0;
    std::uint64_t totalBlocks = 0;
    std::uint64_t apeStart = 0;   // offset of the signature
    std::uint64_t seekTable = 0;  // offset of the seek table
    std::uint64_t seekBits = 0;   // offset of the per-frame bit offsets (versions below 3810)
    std::uint64_t firstFrame = 0; // offset of frame 0
    std::uint64_t dataEnd = 0;    // just past the last frame byte
    std::uint32_t wavHeaderLength = 0;
    std::uint32_t wavTailLength = 0;
    ApeTag tag;

    int blockAlign() const { return channels * (bitsPerSample / 8); }
    std::uint32_t frameBlocks(std::uint32_t index) const
    {
        return index + 1 == totalFrames ? finalFrameBlocks : blocksPerFrame;
    }

private:
    // The steps of open(), in order; each fills its fields and throws what
    // open() documents.
    // Finds the signature (after any ID3v2 tag) and the version; `fixed`
    // receives the Descriptor::size bytes from the signature on, zero past
    // the end of the file.
    void readSignature(ByteSource& source, std::uint64_t fileSize, std::uint8_t* fixed);
    // The descriptor (in `fixed`) and header of versions 3980 and later;
    // returns the end of the audio data the descriptor states.
    std::uint64_t readDescriptorAndHeader(ByteSource& source, const std::uint8_t* fixed, std::uint64_t streamEnd);
    // The single header of older versions; their audio data has no stated end.
    std::uint64_t readOldHeader(ByteSource& source, std::uint64_t fileSize);
    void validateFormat() const;
    // Bounds the audio data by the stated end, the WAV tail and the tags,
    // checks the frame grid against it and counts the blocks.
    void locateAudio(std::uint64_t streamEnd, std::uint64_t audioDataEnd);
};

} // namespace ape
