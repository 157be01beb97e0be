#pragma once
// Encodes one frame: CRC word, optional flags word and the range-coded
// residuals, as the frame's logical byte stream (most significant byte of
// each 32-bit word first). All predictor, filter and coder state starts
// afresh in every frame, so frames are encoded independently.

#include "EncoderOptions.h"
#include "NnFilterEncoder.h"
#include "Predictor3930Encoder.h"
#include "Predictor3950Encoder.h"
#include "ValueEncoder.h"

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
    using FilterChain = std::vector<NnFilterEncoder>;   // in encoding order

    void resetState();
    template <class P>
    void encodeStereo(P& predictor, RangeEncoder& coder, std::size_t blocks);
    template <class P>
    void encodeMono(P& predictor, RangeEncoder& coder, std::size_t blocks);
    static std::int32_t runChain(FilterChain& chain, std::int32_t value);

    PcmFormat format_;
    bool useFrameFlags_;
    Predictor predictor_;
    FilterChain slot0_;
    FilterChain slot1_;
    ValueEncoder stream0_;
    ValueEncoder stream1_;
    std::vector<std::int32_t> left_;    // the frame's samples, per channel
    std::vector<std::int32_t> right_;
};

}  // namespace ape
