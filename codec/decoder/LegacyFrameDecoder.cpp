#include "decoder/LegacyFrameDecoder.h"

#include "apecodec.h"
#include "decoder/BitReader.h"
#include "dsp/PredictorArithmetic.h"
#include "format/ByteOrder.h"
#include "format/CodecError.h"
#include "format/FormatConstants.h"

#include <algorithm>

namespace ape {
namespace {

// The filters that versions before 3930 run over each channel before the
// stage-1 predictor, and where that predictor starts adapting. Level 1000
// uses its own predictor (FastStep) and none of these.
struct LegacyFilterSet {
    int level;
    int fromVersion;   // the first version the set applies to
    bool order8First;  // the order-8 filter (extraHighFilter) runs before the long one
    std::size_t order; // taps of the long filter; 0: none
    int shift;         // the long filter's fixed-point shift
    std::size_t start; // the first block the stage-1 predictor adapts on
    int shiftB;        // the stage-1 predictor's shift of its B sum
};

//                                      level  fromVersion  order8First  order  shift  start  shiftB
constexpr LegacyFilterSet legacyFilterSets[] = {
    {level::high, version::oldest, false, 16, 9, 16, 10},
    {level::extraHigh, version::oldest, false, 128, 11, 128, 10},
    {level::extraHigh, version::frameFlagsFrom, true, 256, 12, 256, 11},
};
constexpr LegacyFilterSet noLegacyFilters = {0, version::oldest, false, 0, 0, 4, 10};

// The last listed set of the level that the version has reached.
const LegacyFilterSet& legacyFilterSet(int level, int version)
{
    const LegacyFilterSet* found = &noLegacyFilters;
    for (const LegacyFilterSet& set : legacyFilterSets)
        if (set.level == level && version >= set.fromVersion)
            found = &set;
    return *found;
}

[[noreturn]] void corrupt(const char* what)
{
    throw CodecError(APE_ERROR_DECOMPRESSING_FRAME, what);
}

// Every sum and product of the old predictors wraps at 32 bits (wrapAdd and
// its kin). Their registers count zero as positive:
int sgnp(std::int32_t v)
{
    return v >= 0 ? 1 : -1;
}

// Long filter of order `order` over the whole frame.
void highFilter(std::int32_t* r, std::size_t count, std::size_t order, int shift)
{
    if (order >= count)
        return;
    std::vector<std::int32_t> c(order, 0);
    for (std::size_t i = order; i < count; ++i) {
        const std::int32_t* w = r + i - order;
        std::int32_t dot = 0;
        int direction = -sgn(r[i]);
        for (std::size_t j = 0; j < order; ++j) {
            dot = wrapAdd(dot, wrapMul(w[j], c[j]));
            c[j] += sgnp(w[j]) * direction;
        }
        r[i] = wrapSub(r[i], dot >> shift);
    }
}

// The order-8 filter that precedes high(256, 12) at level 4000 from 3830 on.
void extraHighFilter(std::int32_t* r, std::size_t count)
{
    constexpr std::size_t first = 256;
    if (count <= first)
        return;
    std::int32_t c[8] = {}, w[8] = {};
    for (std::size_t i = first; i < count; ++i) {
        std::int32_t v = r[i];
        std::int32_t dot = 0;
        int direction = -sgn(v);
        for (int j = 0; j < 8; ++j) {
            dot = wrapAdd(dot, wrapMul(w[j], c[j]));
            c[j] += sgnp(w[j]) * direction;
        }
        for (int j = 7; j > 0; --j)
            w[j] = w[j - 1];
        w[0] = v;
        r[i] = wrapSub(v, dot >> 9);
    }
}

struct NormalStep {
    std::int32_t lastA = 0, filterA = 0, filterB = 0;
    std::int32_t cA[3] = {64, 115, 64};
    std::int32_t cB[2] = {740, 0};
    std::int32_t l1 = 0, l2 = 0, l3 = 0, b1 = 0, b2 = 0;

    std::int32_t step(std::int32_t in, std::size_t pos, std::size_t start, int shift)
    {
        l3 = l2;
        l2 = l1;
        l1 = lastA;
        b2 = b1;
        b1 = filterB;
        if (pos < start) {
            std::int32_t out = wrapAdd(in, filterA);
            lastA = in;
            filterB = in;
            filterA = out;
            return out;
        }
        std::int32_t d2 = l1;
        std::int32_t d1 = wrapMul(2, wrapSub(l1, l2));
        std::int32_t d0 = wrapAdd(l1, wrapMul(8, wrapSub(l3, l2)));
        std::int32_t d3 = wrapSub(wrapMul(2, b1), b2);
        std::int32_t d4 = b1;
        std::int32_t pA = wrapAdd(wrapAdd(wrapMul(d0, cA[0]), wrapMul(d1, cA[1])), wrapMul(d2, cA[2]));
        int s = sgn(in);
        cA[0] += sgnp(d0) * s;
        cA[1] += 4 * sgnp(d1) * s;
        cA[2] += 4 * sgnp(d2) * s;
        std::int32_t pB = wrapSub(wrapMul(d3, cB[0]), wrapMul(d4, cB[1]));
        lastA = wrapAdd(in, pA >> 11);
        int t = sgn(lastA);
        cB[0] += 2 * sgnp(d3) * t;
        cB[1] -= sgnp(d4) * t;
        filterB = wrapAdd(lastA, pB >> shift);
        filterA = wrapAdd(filterB, wrapMul(31, filterA) >> 5);
        return filterA;
    }
};

struct FastStep {
    std::int32_t lastA = 0, filterA = 0, c = 375, l1 = 0, l2 = 0;

    std::int32_t step(std::int32_t in, std::size_t pos)
    {
        l2 = l1;
        l1 = lastA;
        if (pos < 3) {
            lastA = in;
            filterA = in;
            return in;
        }
        std::int32_t p = wrapSub(wrapMul(2, l1), l2);
        lastA = wrapAdd(in, wrapMul(p, c) >> 9);
        if ((in ^ p) > 0)
            ++c;
        else
            --c;
        filterA = wrapAdd(filterA, lastA);
        return filterA;
    }
};

} // namespace

LegacyFrameDecoder::LegacyFrameDecoder(const ApeContainer& container, ByteSource& source)
    : version(container.version), level(container.level), channels(container.channels), reader(source), rc(reader),
      capacity(container.blocksPerFrame), slot0(std::make_unique_for_overwrite<std::int32_t[]>(capacity)),
      slot1(channels == 2 ? std::make_unique_for_overwrite<std::int32_t[]>(capacity) : nullptr)
{
}

void LegacyFrameDecoder::start(const FrameSpan& span)
{
    frameSpan = span;
    frameBlocks = span.blocks;
    handedOut = 0;
    if (frameBlocks > capacity)
        corrupt("frame longer than the file's frames");
}

void LegacyFrameDecoder::readRangeCoded(std::size_t count, bool stereo)
{
    // The failure flag is sticky and fails the whole frame, so a frame that
    // has run out of data stops here instead of decoding zeros to its end:
    // a damaged or cut file costs no more than the bytes it holds.
    constexpr std::size_t valuesPerCheck = 1024;
    auto read = [&](std::int32_t* out) {
        StreamState s;
        for (std::size_t i = 0; i < count && !rc.failed();) {
            const std::size_t runEnd = std::min(count, i + valuesPerCheck);
            if (version >= version::splitWideValues)
                for (; i < runEnd; ++i)
                    out[i] = KValues<true>::decode(rc, s);
            else
                for (; i < runEnd; ++i)
                    out[i] = KValues<false>::decode(rc, s);
        }
    };
    read(slot0.get());
    if (rc.failed())
        return;
    if (stereo) {
        // The second channel restarts the coder on the last byte it read.
        rc.normalise();
        reader.stepBack();
        rc.start();
        read(slot1.get());
    }
}

void LegacyFrameDecoder::decodeWholeFrame()
{
    reader.begin(frameSpan, 2);
    const std::size_t n = frameBlocks;
    const bool stereoFile = channels == 2;
    BitReader bits(reader);
    std::uint32_t crcWord;
    if (version >= version::rangeCoder) {
        crcWord = readBe32(reader);
        flags = 0;
        if (crcWord & frameFlag::present)
            flags = readBe32(reader);
        reader.next();
        rc.clearFailure();
        rc.start();
    } else {
        bits.skip(frameSpan.skipBits % 8);
        crcWord = bits.bits(32);
        flags = 0;
        // No trustworthy reference exists for flags in bit-stream frames.
        if (crcWord & frameFlag::present)
            corrupt("frame flags in a bit-stream frame");
    }
    storedCrcValue = crcWord & ~frameFlag::present;

    const bool monoPath = !stereoFile || (flags & frameFlag::pseudoStereo);
    const bool silent = monoPath ? (flags & frameFlag::stereoSilence) != 0
                                 : (flags & frameFlag::stereoSilence) == frameFlag::stereoSilence;
    if (silent) {
        std::fill_n(slot0.get(), n, 0);
        if (stereoFile)
            std::fill_n(slot1.get(), n, 0);
        return;
    }
    const bool stereo = !monoPath;
    if (version >= version::rangeCoder) {
        readRangeCoded(n, stereo);
        if (rc.failed())
            corrupt("corrupt frame data");
    } else {
        for (int slot = 0; slot < (stereo ? 2 : 1); ++slot) {
            std::int32_t* out = slot ? slot1.get() : slot0.get();
            if (version >= version::perValueRice)
                readPerValueRice(bits, version, out, n);
            else
                readWholeFrameRice(bits, out, n);
        }
        if (bits.overrun())
            corrupt("bit stream ends inside the frame");
    }
    predict(n, stereo);
    if (monoPath && stereoFile)
        std::copy_n(slot0.get(), n, slot1.get());
}

void LegacyFrameDecoder::predict(std::size_t n, bool stereo)
{
    const LegacyFilterSet& set = legacyFilterSet(level, version);
    const std::size_t start = set.start;
    const int shift = set.shiftB;
    for (int slot = 0; slot < (stereo ? 2 : 1); ++slot) {
        std::int32_t* r = slot ? slot1.get() : slot0.get();
        if (set.order8First)
            extraHighFilter(r, n);
        if (set.order > 0)
            highFilter(r, n, set.order, set.shift);
    }
    // Y takes slot 1 and X slot 0; both are stepped per block.
    std::int32_t* y = stereo ? slot1.get() : slot0.get();
    std::int32_t* x = slot0.get();
    if (level == level::fast) {
        FastStep py, px;
        for (std::size_t i = 0; i < n; ++i) {
            std::int32_t outY = py.step(y[i], i);
            if (stereo)
                x[i] = px.step(x[i], i);
            y[i] = outY;
        }
    } else {
        NormalStep py, px;
        for (std::size_t i = 0; i < n; ++i) {
            std::int32_t outY = py.step(y[i], i, start, shift);
            if (stereo)
                x[i] = px.step(x[i], i, start, shift);
            y[i] = outY;
        }
    }
    if (stereo) {
        // slot 0 holds X, slot 1 holds Y: reconstruct left into slot 0, right into slot 1.
        for (std::size_t i = 0; i < n; ++i) {
            std::int32_t yv = slot1[i], xv = slot0[i];
            std::int32_t left = wrapSub(xv, yv / 2);
            slot0[i] = left;
            slot1[i] = wrapAdd(left, yv);
        }
    }
}

void LegacyFrameDecoder::decode(std::int32_t* left, std::int32_t* right, std::size_t count)
{
    if (handedOut == 0)
        decodeWholeFrame();
    std::copy_n(slot0.get() + handedOut, count, left);
    if (channels == 2)
        std::copy_n(slot1.get() + handedOut, count, right);
    handedOut += count;
}

} // namespace ape
