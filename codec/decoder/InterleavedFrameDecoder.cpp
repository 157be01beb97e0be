#include "InterleavedFrameDecoder.h"

#include "apecodec.h"
#include "dsp/NNFilterSets.h"
#include "format/CodecError.h"
#include "format/FormatConstants.h"

#include <algorithm>

namespace ape {
namespace {

uint32_t readBigEndian32(FrameReader& in)
{
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v = (v << 8) | in.next();
    return v;
}

// Bytes a frame needs before its CRC word (and again before a flags word).
constexpr uint64_t minimumLeft = 6;

} // namespace

InterleavedFrameDecoder::InterleavedFrameDecoder(const ApeContainer& container, ByteSource& source)
    : version_(container.version), channels_(container.channels), reader_(source), rc_(reader_),
      widthRule_(container.bitsPerSample, chunkBlocks), slot0_(chunkBlocks), slot1_(chunkBlocks)
{
    const NNAdaptation adaptation =
        version_ >= version::newHeader ? NNAdaptation::new3980 : NNAdaptation::old3930;
    const NNFilterSet& set = nnFilterSet(container.level);
    for (auto& slot : filters_)
        for (int i = 0; i < set.count; ++i)
            slot.emplace_back(set.filters[size_t(i)].order, set.filters[size_t(i)].fraction, adaptation);
    if (version_ >= version::pivotValues) {
        readMono_ = &InterleavedFrameDecoder::readMono<PivotValues>;
        readStereo_ = &InterleavedFrameDecoder::readStereo<PivotValues>;
        decodeStereo32_ = &InterleavedFrameDecoder::decodeStereo32<PivotValues>;
        decodeMono_ = &InterleavedFrameDecoder::decodeMono<PivotValues>;
        if (set.count > 0)
            for (int slots = 1; slots <= 2; ++slots)
                filteredRead_[slots - 1] = sse2FilteredRead(set.filters[0].order, slots);
    } else {
        readMono_ = &InterleavedFrameDecoder::readMono<KValues<true>>;
        readStereo_ = &InterleavedFrameDecoder::readStereo<KValues<true>>;
        decodeStereo32_ = &InterleavedFrameDecoder::decodeStereo32<KValues<true>>;
        decodeMono_ = &InterleavedFrameDecoder::decodeMono<KValues<true>>;
    }
}

void InterleavedFrameDecoder::start(const FrameSpan& span)
{
    reader_.begin(span, version_ < version::predictor3950 ? 2 : 0);
    if (reader_.remaining() < minimumLeft)
        throw CodecError(APE_ERROR_DECOMPRESSING_FRAME, "frame too short");
    uint32_t crcWord = readBigEndian32(reader_);
    flags_ = 0;
    if (crcWord & frameFlag::present) {
        if (reader_.remaining() < minimumLeft)
            throw CodecError(APE_ERROR_DECOMPRESSING_FRAME, "frame too short");
        flags_ = readBigEndian32(reader_);
    }
    storedCrc_ = crcWord & ~frameFlag::present;
    reader_.next(); // the range coder's first byte carries nothing
    rc_.clearFailure();
    rc_.start();
    for (auto& s : streams_)
        s.reset();
    for (auto& slot : filters_)
        for (auto& f : slot)
            f.reset();
    predictor3950_.reset();
    predictor3930_.reset();
}

template <class Values> void InterleavedFrameDecoder::readMono(size_t count)
{
    int32_t* out = slot0_.data();
    for (size_t i = 0; i < count; ++i)
        out[i] = Values::decode(rc_, streams_[0]);
}

template <class Values> void InterleavedFrameDecoder::readStereo(size_t count)
{
    int32_t* out0 = slot0_.data();
    int32_t* out1 = slot1_.data();
    for (size_t i = 0; i < count; ++i) {
        out0[i] = Values::decode(rc_, streams_[0]);
        out1[i] = Values::decode(rc_, streams_[1]);
    }
}

template <class Values>
bool InterleavedFrameDecoder::decodeStereo32(int32_t* y, int32_t* x, NNRunState* filters, size_t count)
{
    return predictor3950_.decodeStereo32<Values>(rc_, streams_, filters, y, x, count);
}

size_t InterleavedFrameDecoder::readSlots(int slots, size_t count)
{
    const FilteredRead<PivotValues> filtered = filteredRead_[slots - 1];
    if (!filtered) {
        if (slots == 2)
            (this->*readStereo_)(count);
        else
            (this->*readMono_)(count);
        return 0;
    }
    NNRunState first[2]{};
    for (int slot = 0; slot < slots; ++slot)
        first[slot] = filters_[slot].front().runState();
    filtered(rc_, streams_, first, slot0_.data(), slot1_.data(), count);
    for (int slot = 0; slot < slots; ++slot)
        filters_[slot].front().finish(first[slot]);
    return 1;
}

template <class Values> void InterleavedFrameDecoder::decodeMono(int32_t* out, size_t count)
{
    predictor3950_.decodeMono<Values>(rc_, streams_[0], out, count);
}

void InterleavedFrameDecoder::checkData()
{
    if (rc_.failed())
        throw CodecError(APE_ERROR_DECOMPRESSING_FRAME, "corrupt frame data");
}

void InterleavedFrameDecoder::decode(int32_t* left, int32_t* right, size_t count)
{
    const bool stereoFile = channels_ == 2;
    if (!stereoFile || (flags_ & frameFlag::pseudoStereo)) {
        if (flags_ & frameFlag::stereoSilence) {
            std::fill(left, left + count, 0);
        } else if (filters_[0].empty() && version_ >= version::predictor3950) {
            // Without NN filters the values go straight into the predictor.
            (this->*decodeMono_)(left, count);
            checkData();
        } else {
            const size_t applied = readSlots(1, count);
            checkData();
            for (size_t i = applied; i < filters_[0].size(); ++i)
                filters_[0][i].decode(slot0_.data(), count);
            if (version_ >= version::predictor3950)
                predictor3950_.mono(slot0_.data(), count);
            else
                predictor3930_.mono(slot0_.data(), count);
            std::copy(slot0_.begin(), slot0_.begin() + ptrdiff_t(count), left);
        }
        if (stereoFile)
            std::copy(left, left + count, right);
        return;
    }
    if ((flags_ & frameFlag::stereoSilence) == frameFlag::stereoSilence) {
        std::fill(left, left + count, 0);
        std::fill(right, right + count, 0);
        return;
    }
    // Values go straight from the range decoder through a level's only NN
    // filter into the predictor: one loop instead of three, whose chains of
    // work the processor overlaps.
    if (version_ >= version::predictor3950 && widthRule_.narrow() && filters_[0].size() <= 1) {
        NNRunState first[2]{};
        if (!filters_[0].empty())
            for (int slot = 0; slot < 2; ++slot)
                first[slot] = filters_[slot].front().runState();
        if ((this->*decodeStereo32_)(left, right, filters_[0].empty() ? nullptr : first, count)) {
            if (!filters_[0].empty())
                for (int slot = 0; slot < 2; ++slot)
                    filters_[slot].front().finish(first[slot]);
            checkData();
            reconstructStereo(left, right, count);
            return;
        }
    }
    const size_t applied = readSlots(2, count);
    checkData();
    for (size_t i = applied; i < filters_[0].size(); ++i)
        filters_[0][i].decode(slot0_.data(), count);
    for (size_t i = applied; i < filters_[1].size(); ++i)
        filters_[1][i].decode(slot1_.data(), count);
    if (version_ >= version::predictor3950) {
        widthRule_.run(predictor3950_, slot0_.data(), slot1_.data(), left, right, count);
    } else {
        predictor3930_.stereo(slot0_.data(), slot1_.data(), left, right, count);
        reconstructStereo(left, right, count);
    }
}

} // namespace ape
