#pragma once
// Encodes one frame: CRC word, optional flags word and the range-coded
// residuals, as the frame's logical byte stream (most significant byte of
// each 32-bit word first). All predictor, filter and coder state starts
// afresh in every frame, so frames are encoded independently.
//
// The stages run one after another over the whole frame (every stage is
// causal and keeps its own state, so this equals running each block through
// the whole chain): stage 1, the NN filters in reverse order, the coder.

#include "encoder/EncoderOptions.h"
#include "encoder/Predictor3930Encoder.h"
#include "encoder/Predictor3950Encoder.h"
#include "encoder/ValueEncoder.h"
#include "dsp/NNFilter.h"

#include <cstdint>
#include <span>
#include <variant>
#include <vector>

namespace ape {

class RangeEncoder;

class FrameEncoder {
public:
    FrameEncoder(const PcmFormat& format, const EncoderOptions& options);

    // `pcm` holds the frame's whole blocks; the bytes are appended to `out`.
    void encode(std::span<const std::uint8_t> pcm, std::vector<std::uint8_t>& out);

    // Stereo steps whose residual depends on the predictor's arithmetic
    // width, summed over all frames so far.
    std::uint64_t widthConflicts() const;

private:
    using Predictor = std::variant<Predictor3950Encoder, Predictor3930Encoder>;
    using FilterChain = std::vector<NNFilter>; // in encoding order

    void resetState();
    // Stage 1 over the whole frame: samples to slot 0 (and slot 1) residuals.
    template <class P>
    void predictStereo(P& predictor);
    template <class P>
    void predictMono(P& predictor);
    static void runChain(FilterChain& chain, std::vector<std::int32_t>& values);

    PcmFormat format;
    bool useFrameFlags;
    Predictor predictor;
    FilterChain slot0;
    FilterChain slot1;
    ValueEncoder stream0;
    ValueEncoder stream1;
    std::vector<std::int32_t> left; // the frame's samples per channel
    std::vector<std::int32_t> right;
    // Stage-1 residuals per slot, which the NN filters turn, in place, into
    // the values the coder codes.
    std::vector<std::int32_t> slot0Values;
    std::vector<std::int32_t> slot1Values;
};

} // namespace ape
