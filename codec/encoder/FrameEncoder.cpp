#include "encoder/FrameEncoder.h"

#include <initializer_list>

#include "encoder/EncodeError.h"
#include "encoder/RangeEncoder.h"
#include "dsp/NNFilterSets.h"
#include "format/Crc32.h"
#include "format/FormatConstants.h"

#include <algorithm>

namespace ape {

namespace {

// Bits 31..0 of a 32-bit word, most significant byte first, as the frame's
// logical stream holds it.
void appendBigEndian(std::vector<std::uint8_t>& out, std::uint32_t word)
{
    out.push_back(static_cast<std::uint8_t>(word >> 24));
    out.push_back(static_cast<std::uint8_t>(word >> 16));
    out.push_back(static_cast<std::uint8_t>(word >> 8));
    out.push_back(static_cast<std::uint8_t>(word));
}

std::int32_t readSample(const std::uint8_t* p, unsigned bits)
{
    switch (bits) {
    case 8:
        return std::int32_t{p[0]} - 128;
    case 16:
        return static_cast<std::int16_t>(p[0] | (p[1] << 8));
    default: {
        const std::uint32_t raw = p[0] | (p[1] << 8) | (std::uint32_t{p[2]} << 16);
        return static_cast<std::int32_t>(raw << 8) >> 8;
    }
    }
}

StereoWidth widthFor(const EncoderOptions& options)
{
    if (options.widthPolicy != WidthPolicy::strict && options.level >= unsigned(level::insane))
        return StereoWidth::Bits64;
    return StereoWidth::Bits32;
}

} // namespace

FrameEncoder::FrameEncoder(const PcmFormat& format, const EncoderOptions& options)
    : format(format), useFrameFlags(options.useFrameFlags),
      predictor(options.version >= unsigned(version::predictor3950) ? Predictor(Predictor3950Encoder(widthFor(options)))
                                                                    : Predictor(Predictor3930Encoder())),
      stream0(options.version), stream1(options.version)
{
    const NNAdaptation adaptation =
        options.version >= unsigned(version::newHeader) ? NNAdaptation::new3980 : NNAdaptation::old3930;
    const NNFilterSet& set = nnFilterSet(int(options.level));
    // The decoder runs the cascade first to last, so the encoder undoes it
    // last to first.
    for (int i = set.count - 1; i >= 0; --i) {
        const NNFilterShape& filter = set.filters[i];
        slot0.emplace_back(filter.order, filter.fraction, adaptation);
        slot1.emplace_back(filter.order, filter.fraction, adaptation);
    }
}

std::uint64_t FrameEncoder::widthConflicts() const
{
    return std::visit([](const auto& p) { return p.widthConflicts(); }, predictor);
}

void FrameEncoder::resetState()
{
    std::visit([](auto& p) { p.reset(); }, predictor);
    for (FilterChain* chain : {&slot0, &slot1})
        for (NNFilter& filter : *chain)
            filter.reset();
    stream0.reset();
    stream1.reset();
}

void FrameEncoder::runChain(FilterChain& chain, std::vector<std::int32_t>& values)
{
    for (NNFilter& filter : chain)
        filter.encode(values.data(), values.size());
}

template <class P>
void FrameEncoder::predictStereo(P& predictor)
{
    const std::size_t blocks = left.size();
    slot0Values.resize(blocks);
    slot1Values.resize(blocks);
    for (std::size_t i = 0; i < blocks; ++i) {
        // The decoder rebuilds left = X - Y/2 (truncating), right = left + Y.
        const std::int32_t y = right[i] - left[i];
        const std::int32_t x = left[i] + y / 2;
        predictor.encodeStereo(y, x, slot0Values[i], slot1Values[i]);
    }
}

template <class P>
void FrameEncoder::predictMono(P& predictor)
{
    const std::size_t blocks = left.size();
    slot0Values.resize(blocks);
    slot1Values.clear();
    for (std::size_t i = 0; i < blocks; ++i)
        slot0Values[i] = predictor.encodeMono(left[i]);
}

void FrameEncoder::encode(std::span<const std::uint8_t> pcm, std::vector<std::uint8_t>& out)
{
    const unsigned bytesPerSample = format.bitsPerSample / 8;
    const std::size_t blocks = pcm.size() / format.blockAlign();
    const bool stereo = format.channels == 2;

    left.resize(blocks);
    right.resize(stereo ? blocks : 0);
    for (std::size_t i = 0; i < blocks; ++i) {
        const std::uint8_t* block = pcm.data() + i * format.blockAlign();
        left[i] = readSample(block, format.bitsPerSample);
        if (stereo)
            right[i] = readSample(block + bytesPerSample, format.bitsPerSample);
    }

    std::uint32_t flags = 0;
    if (useFrameFlags) {
        const auto isZero = [](std::int32_t s) { return s == 0; };
        if (std::all_of(left.begin(), left.end(), isZero) && std::all_of(right.begin(), right.end(), isZero))
            flags = stereo ? frameFlag::stereoSilence : frameFlag::monoSilence;
        else if (stereo && left == right)
            flags = frameFlag::pseudoStereo;
    }

    Crc32 crc;
    crc.update(pcm.data(), pcm.size());
    appendBigEndian(out, (crc.value() >> 1) | (flags ? frameFlag::present : 0));
    if (flags)
        appendBigEndian(out, flags);

    resetState();
    RangeEncoder coder(out);
    if ((flags & frameFlag::stereoSilence) == 0) {
        const bool twoStreams = stereo && flags != frameFlag::pseudoStereo;
        std::visit(
            [&](auto& predictor) {
                if (twoStreams)
                    predictStereo(predictor);
                else
                    predictMono(predictor);
            },
            predictor);
        runChain(slot0, slot0Values);
        if (twoStreams) {
            runChain(slot1, slot1Values);
            for (std::size_t i = 0; i < blocks; ++i) {
                stream0.encode(coder, slot0Values[i]);
                stream1.encode(coder, slot1Values[i]);
            }
        } else {
            for (std::size_t i = 0; i < blocks; ++i)
                stream0.encode(coder, slot0Values[i]);
        }
    }
    coder.finish();
}

} // namespace ape
