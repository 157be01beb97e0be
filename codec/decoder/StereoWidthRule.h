// Which arithmetic width the stereo predictor of versions 3950+ uses. The
// file does not say. 8- and 16-bit files always use 32-bit wrapping. For
// 24-bit files the choice is made from the data: each chunk is computed in
// 32-bit width; if that reconstructs a sample beyond ±2^23 the stream switches
// to exact 64-bit arithmetic (the chunk is recomputed); if instead the 64-bit
// computation of the chunk goes out of range, the stream settles on 32 bits.
// Until then 32-bit results are kept. The choice lasts for the stream.
// Both widths agree on a chunk in which no intermediate value leaves 32 bits,
// the common case: such a chunk is computed once, and only the others twice.
#pragma once

#include "decoder/Predictor3950.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ape {

class StereoWidthRule {
public:
    StereoWidthRule(int bitsPerSample, std::size_t chunkBlocks);
    // Runs the stereo predictor on a chunk and reconstructs left and right.
    void run(Predictor3950& predictor, const std::int32_t* slot0, const std::int32_t* slot1, std::int32_t* left,
             std::int32_t* right, std::size_t count);
    // The same for a chunk whose 32-bit pass the caller made already with
    // Predictor3950::stereoInBothWidths (or its decoding form) from the state
    // `atStart`, answering `bothWidths`, while the stream is undecided;
    // `left` and `right` hold that pass's Y and X.
    void afterPass(Predictor3950& predictor, const Predictor3950& atStart, bool bothWidths, const std::int32_t* slot0,
                   const std::int32_t* slot1, std::int32_t* left, std::int32_t* right, std::size_t count);
    bool undecided() const { return mode == Mode::undecided; }
    // Whether the stream is settled on 32 bits (8- and 16-bit files always are).
    bool narrow() const { return mode == Mode::narrow; }

private:
    enum class Mode { undecided, narrow, wide };
    Mode mode;
    std::vector<std::int32_t> scratchLeft, scratchRight;
};

// left = X - Y/2 (truncating), right = left + Y; `left` holds Y and `right`
// holds X on entry.
void reconstructStereo(std::int32_t* left, std::int32_t* right, std::size_t count);

} // namespace ape
