#include "decoder/InterleavedFrameDecoder.h"

#include "decoder/Predictor3950Sse2.h"
#include "apecodec.h"
#include "dsp/NNFilterSets.h"
#include "format/ByteOrder.h"
#include "format/CodecError.h"
#include "format/FormatConstants.h"

#include <algorithm>

namespace ape {
namespace {

// Bytes a frame needs before its CRC word (and again before a flags word).
constexpr std::uint64_t minimumLeft = 6;

} // namespace

InterleavedFrameDecoder::InterleavedFrameDecoder(const ApeContainer& container, ByteSource& source)
    : version(container.version), channels(container.channels), reader(source), rc(reader),
      widthRule(container.bitsPerSample, chunkBlocks), slot0(chunkBlocks), slot1(chunkBlocks)
{
    const NNAdaptation adaptation = version >= version::newHeader ? NNAdaptation::new3980 : NNAdaptation::old3930;
    const NNFilterSet& set = nnFilterSet(container.level);
    for (auto& slot : filters)
        for (int i = 0; i < set.count; ++i)
            slot.emplace_back(set.filters[std::size_t(i)].order, set.filters[std::size_t(i)].fraction, adaptation);
    if (version >= version::pivotValues) {
        monoReader = &InterleavedFrameDecoder::readMono<PivotValues>;
        stereoReader = &InterleavedFrameDecoder::readStereo<PivotValues>;
        stereo32Decoder = &InterleavedFrameDecoder::decodeStereo32<PivotValues>;
        checkedStereoDecoder = &InterleavedFrameDecoder::decodeStereoChecked<PivotValues>;
        monoDecoder = &InterleavedFrameDecoder::decodeMono<PivotValues>;
        if (set.count > 0)
            for (int slots = 1; slots <= 2; ++slots)
                filteredReads[slots - 1] = sse2FilteredRead(set.filters[0].order, slots);
        filtersWithPredictor =
            set.count > 1 && decodingFilteringStereo32Run(
                                 set.filters[0].order, set.filters[std::size_t(set.count - 1)].order, false) != nullptr;
    } else {
        monoReader = &InterleavedFrameDecoder::readMono<KValues<true>>;
        stereoReader = &InterleavedFrameDecoder::readStereo<KValues<true>>;
        stereo32Decoder = &InterleavedFrameDecoder::decodeStereo32<KValues<true>>;
        checkedStereoDecoder = &InterleavedFrameDecoder::decodeStereoChecked<KValues<true>>;
        monoDecoder = &InterleavedFrameDecoder::decodeMono<KValues<true>>;
    }
}

void InterleavedFrameDecoder::start(const FrameSpan& span)
{
    reader.begin(span, version < version::predictor3950 ? 2 : 0);
    if (reader.remaining() < minimumLeft)
        throw CodecError(APE_ERROR_DECOMPRESSING_FRAME, "frame too short");
    std::uint32_t crcWord = readBe32(reader);
    flags = 0;
    if (crcWord & frameFlag::present) {
        if (reader.remaining() < minimumLeft)
            throw CodecError(APE_ERROR_DECOMPRESSING_FRAME, "frame too short");
        flags = readBe32(reader);
    }
    storedCrcValue = crcWord & ~frameFlag::present;
    reader.next(); // the range coder's first byte carries nothing
    rc.clearFailure();
    rc.start();
    for (auto& s : streams)
        s.reset();
    for (auto& slot : filters)
        for (auto& f : slot)
            f.reset();
    predictor3950.reset();
    predictor3930.reset();
}

template <class Values>
void InterleavedFrameDecoder::readMono(std::size_t count)
{
    std::int32_t* out = slot0.data();
    for (std::size_t i = 0; i < count; ++i)
        out[i] = Values::decode(rc, streams[0]);
}

template <class Values>
void InterleavedFrameDecoder::readStereo(std::size_t count)
{
    std::int32_t* out0 = slot0.data();
    std::int32_t* out1 = slot1.data();
    for (std::size_t i = 0; i < count; ++i) {
        out0[i] = Values::decode(rc, streams[0]);
        out1[i] = Values::decode(rc, streams[1]);
    }
}

template <class Values>
bool InterleavedFrameDecoder::decodeStereo32(std::int32_t* y, std::int32_t* x, NNRunState* filters, std::size_t count)
{
    return predictor3950.decodeStereo32<Values>(rc, streams, filters, y, x, count);
}

std::size_t InterleavedFrameDecoder::readSlots(int slots, std::size_t count)
{
    const FilteredRead<PivotValues> filtered = filteredReads[slots - 1];
    if (!filtered) {
        if (slots == 2)
            (this->*stereoReader)(count);
        else
            (this->*monoReader)(count);
        return 0;
    }
    NNRunState first[2]{};
    for (int slot = 0; slot < slots; ++slot)
        first[slot] = filters[slot].front().runState();
    filtered(rc, streams, first, slot0.data(), slot1.data(), count);
    for (int slot = 0; slot < slots; ++slot)
        filters[slot].front().finish(first[slot]);
    return 1;
}

template <class Values>
bool InterleavedFrameDecoder::decodeStereoChecked(std::int32_t* y, std::int32_t* x, NNRunState* filters,
                                                  std::size_t count, bool& fits)
{
    return predictor3950.decodeStereoInBothWidths<Values>(rc, streams, filters, slot0.data(), slot1.data(), y, x, count,
                                                          fits);
}

template <class Values>
bool InterleavedFrameDecoder::decodeMono(std::int32_t* out, std::size_t count)
{
    // A filter in the loop pays in the 32-bit build, whose few registers the
    // separate passes' loops spill; 64-bit code runs the passes faster.
    constexpr bool filterInLoop = sizeof(void*) == 4;
    if (filters[0].empty())
        return predictor3950.decodeMono<Values>(rc, streams[0], nullptr, out, count);
    if (!filterInLoop)
        return false;
    NNRunState first = filters[0].front().runState();
    if (!predictor3950.decodeMono<Values>(rc, streams[0], &first, out, count))
        return false;
    filters[0].front().finish(first);
    return true;
}

void InterleavedFrameDecoder::runFiltersAndPredictor(std::int32_t* left, std::int32_t* right, std::size_t count)
{
    const std::size_t filterCount = filters[0].size();
    NNRunState states[3][2]{}; // per filter in decoding order, per slot
    for (std::size_t f = 0; f < filterCount; ++f)
        for (int slot = 0; slot < 2; ++slot)
            states[f][slot] = filters[slot][f].runState();
    const Predictor3950 atStart = predictor3950;
    bool fits = false;
    predictor3950.decodeFilterStereo32(rc, streams, states[0], filterCount == 3 ? states[1] : nullptr,
                                       states[filterCount - 1], slot0.data(), slot1.data(), left, right, count,
                                       widthRule.narrow() ? nullptr : &fits);
    for (std::size_t f = 0; f < filterCount; ++f)
        for (int slot = 0; slot < 2; ++slot)
            filters[slot][f].finish(states[f][slot]);
    checkData();
    if (widthRule.narrow())
        reconstructStereo(left, right, count);
    else
        widthRule.afterPass(predictor3950, atStart, fits, slot0.data(), slot1.data(), left, right, count);
}

void InterleavedFrameDecoder::runFiltersAndMonoPredictor(std::int32_t* out, std::size_t count)
{
    const std::size_t filterCount = filters[0].size();
    NNRunState states[3]{};
    for (std::size_t f = 0; f < filterCount; ++f)
        states[f] = filters[0][f].runState();
    predictor3950.decodeFilterMono32(rc, streams[0], &states[0], filterCount == 3 ? &states[1] : nullptr,
                                     &states[filterCount - 1], out, count);
    for (std::size_t f = 0; f < filterCount; ++f)
        filters[0][f].finish(states[f]);
    checkData();
}

void InterleavedFrameDecoder::checkData()
{
    if (rc.failed())
        throw CodecError(APE_ERROR_DECOMPRESSING_FRAME, "corrupt frame data");
}

void InterleavedFrameDecoder::decode(std::int32_t* left, std::int32_t* right, std::size_t count)
{
    const bool stereoFile = channels == 2;
    if (!stereoFile || (flags & frameFlag::pseudoStereo)) {
        if (flags & frameFlag::stereoSilence) {
            std::fill(left, left + count, 0);
        } else if (version >= version::predictor3950 && filters[0].size() <= 1 && (this->*monoDecoder)(left, count)) {
            // The values went straight through the only NN filter, if any,
            // into the predictor.
            checkData();
        } else if (filtersWithPredictor) {
            runFiltersAndMonoPredictor(left, count);
        } else {
            const std::size_t applied = readSlots(1, count);
            checkData();
            for (std::size_t i = applied; i < filters[0].size(); ++i)
                filters[0][i].decode(slot0.data(), count);
            if (version >= version::predictor3950)
                predictor3950.mono(slot0.data(), count);
            else
                predictor3930.mono(slot0.data(), count);
            std::copy(slot0.begin(), slot0.begin() + std::ptrdiff_t(count), left);
        }
        if (stereoFile)
            std::copy(left, left + count, right);
        return;
    }
    if ((flags & frameFlag::stereoSilence) == frameFlag::stereoSilence) {
        std::fill(left, left + count, 0);
        std::fill(right, right + count, 0);
        return;
    }
    // Values go straight from the range decoder through a level's only NN
    // filter into the predictor: one loop instead of three, whose chains of
    // work the processor overlaps.
    if (version >= version::predictor3950 && widthRule.narrow() && filters[0].size() <= 1) {
        NNRunState first[2]{};
        if (!filters[0].empty())
            for (int slot = 0; slot < 2; ++slot)
                first[slot] = filters[slot].front().runState();
        if ((this->*stereo32Decoder)(left, right, filters[0].empty() ? nullptr : first, count)) {
            if (!filters[0].empty())
                for (int slot = 0; slot < 2; ++slot)
                    filters[slot].front().finish(first[slot]);
            checkData();
            reconstructStereo(left, right, count);
            return;
        }
    }
    // 24-bit streams whose width is open: the same single loop, watching
    // for values that would make the widths differ.
    if (version >= version::predictor3950 && widthRule.undecided() && filters[0].size() <= 1) {
        NNRunState first[2]{};
        if (!filters[0].empty())
            for (int slot = 0; slot < 2; ++slot)
                first[slot] = filters[slot].front().runState();
        const Predictor3950 atStart = predictor3950;
        bool fits = false;
        if ((this->*checkedStereoDecoder)(left, right, filters[0].empty() ? nullptr : first, count, fits)) {
            if (!filters[0].empty())
                for (int slot = 0; slot < 2; ++slot)
                    filters[slot].front().finish(first[slot]);
            checkData();
            widthRule.afterPass(predictor3950, atStart, fits, slot0.data(), slot1.data(), left, right, count);
            return;
        }
    }
    // At levels 4000 and 5000 the values go from the range decoder through
    // every filter into the predictor in one loop: the decoder's chain of
    // divisions (latency) and the long filters' loads (throughput) overlap.
    if (filtersWithPredictor && (widthRule.narrow() || widthRule.undecided())) {
        runFiltersAndPredictor(left, right, count);
        return;
    }
    const std::size_t applied = readSlots(2, count);
    checkData();
    for (std::size_t i = applied; i < filters[0].size(); ++i) {
        filters[0][i].decode(slot0.data(), count);
        filters[1][i].decode(slot1.data(), count);
    }
    if (version >= version::predictor3950) {
        widthRule.run(predictor3950, slot0.data(), slot1.data(), left, right, count);
    } else {
        predictor3930.stereo(slot0.data(), slot1.data(), left, right, count);
        reconstructStereo(left, right, count);
    }
}

} // namespace ape
