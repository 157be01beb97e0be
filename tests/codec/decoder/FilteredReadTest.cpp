// The single-pass decoding loops (values read and run through a slot's first
// NN filter, and at levels with one filter through the predictor too) must
// give what the separate passes give, chunk after chunk, with the filter's
// state handed back between chunks and on to the pass-wise decode.
#include "decoder/FilteredRead.h"
#include "decoder/FrameReader.h"
#include "decoder/MemoryByteSource.h"
#include "decoder/Predictor3950.h"
#include "decoder/Predictor3950Sse2.h"
#include "decoder/RangeDecoder.h"
#include "decoder/ValueDecoder.h"
#include "dsp/NNFilter.h"
#include "dsp/NNFilterSets.h"
#include "encoder/RangeEncoder.h"
#include "encoder/ValueEncoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

namespace {

constexpr std::size_t blocks = 3000; // several slides of the filters' windows

// Residuals of `slots` streams, interleaved per block, range-coded as a
// version 3990 frame stores them (words as the file holds them).
std::vector<std::uint8_t> encodeFrame(const std::vector<std::vector<std::int32_t>>& slots)
{
    std::vector<std::uint8_t> logical;
    ape::RangeEncoder coder(logical);
    std::vector<ape::ValueEncoder> streams(slots.size(), ape::ValueEncoder(3990));
    for (auto& s : streams)
        s.reset();
    for (std::size_t i = 0; i < blocks; ++i)
        for (std::size_t slot = 0; slot < slots.size(); ++slot)
            streams[slot].encode(coder, slots[slot][i]);
    coder.finish();
    logical.resize((logical.size() + 7) / 4 * 4, 0);
    for (std::size_t i = 0; i < logical.size(); i += 4)
        std::reverse(logical.begin() + std::ptrdiff_t(i), logical.begin() + std::ptrdiff_t(i) + 4);
    return logical;
}

// A coder positioned at the frame's first value.
struct Frame {
    explicit Frame(const std::vector<std::uint8_t>& bytes)
        : source(bytes.data(), bytes.size()), reader(source), rc(reader)
    {
        reader.begin(ape::FrameSpan{0, bytes.size(), 0, std::uint32_t(blocks)}, 0);
        reader.next();
        rc.start();
    }
    ape::MemoryByteSource source;
    ape::FrameReader reader;
    ape::RangeDecoder rc;
    ape::StreamState streams[2];
};

// Scaled by 300, the values are coded against divisors of 2^16 and more.
std::vector<std::int32_t> residuals(std::mt19937& random, std::int32_t scale = 1)
{
    std::vector<std::int32_t> out(blocks);
    for (auto& r : out) {
        const unsigned kind = random() % 8;
        // Zeros (no adaptation), large values (clipped history), the rest moderate.
        r = kind == 0 ? 0 : kind == 1 ? std::int32_t(random() % 400001) - 200000 : std::int32_t(random() % 4001) - 2000;
        r *= scale;
    }
    return out;
}

// Chunk sizes that end at no multiple of the windows' length.
const std::vector<std::size_t> chunks = {700, 1, 1299, 1000};

} // namespace

TEST(FilteredRead, ReadingThroughTheFirstFilterEqualsReadingThenFiltering)
{
    std::mt19937 random(2000);
    for (int order : {16, 32, 64}) {
        for (int slots : {1, 2}) {
            SCOPED_TRACE(testing::Message() << "order " << order << ", slots " << slots);
            const ape::FilteredRead<ape::PivotValues> read = ape::sse2FilteredRead(order, slots);
            if (!read)
                GTEST_SKIP() << "no single-pass loops on this machine";
            std::vector<std::vector<std::int32_t>> input;
            for (int slot = 0; slot < slots; ++slot)
                input.push_back(residuals(random));
            const auto bytes = encodeFrame(input);

            Frame reference(bytes), fused(bytes);
            std::vector<ape::NNFilter> referenceFilters, fusedFilters;
            for (int slot = 0; slot < 2; ++slot) {
                referenceFilters.emplace_back(order, 11, ape::NNAdaptation::new3980);
                fusedFilters.emplace_back(order, 11, ape::NNAdaptation::new3980);
            }
            std::vector<std::int32_t> expect[2], got[2];
            for (int slot = 0; slot < 2; ++slot) {
                expect[slot].resize(blocks);
                got[slot].resize(blocks);
            }
            std::size_t at = 0;
            for (std::size_t n : chunks) {
                for (std::size_t i = at; i < at + n; ++i)
                    for (int slot = 0; slot < slots; ++slot)
                        expect[slot][i] = ape::PivotValues::decode(reference.rc, reference.streams[slot]);
                for (int slot = 0; slot < slots; ++slot)
                    referenceFilters[std::size_t(slot)].decode(expect[slot].data() + at, n);

                ape::NNRunState states[2]{};
                for (int slot = 0; slot < slots; ++slot)
                    states[slot] = fusedFilters[std::size_t(slot)].runState();
                read(fused.rc, fused.streams, states, got[0].data() + at, got[1].data() + at, n);
                for (int slot = 0; slot < slots; ++slot)
                    fusedFilters[std::size_t(slot)].finish(states[slot]);
                at += n;
            }
            EXPECT_FALSE(fused.rc.failed());
            for (int slot = 0; slot < slots; ++slot) {
                EXPECT_TRUE(got[slot] == expect[slot]) << "slot " << slot;
                // The state handed back carries on in the pass-wise decode.
                std::vector<std::int32_t> more = residuals(random), moreExpect = more;
                referenceFilters[std::size_t(slot)].decode(moreExpect.data(), more.size());
                fusedFilters[std::size_t(slot)].decode(more.data(), more.size());
                EXPECT_TRUE(more == moreExpect) << "slot " << slot;
            }
        }
    }
}

TEST(FilteredRead, StereoPredictorLoopWithTheOnlyFilterEqualsThePasses)
{
    std::mt19937 random(3000);
    for (int order : {0, 16, 64}) {
        SCOPED_TRACE(testing::Message() << "order " << order);
        const auto bytes = encodeFrame({residuals(random), residuals(random)});
        Frame reference(bytes), fused(bytes), checked(bytes);
        std::vector<ape::NNFilter> referenceFilters, fusedFilters, checkedFilters;
        for (int slot = 0; order && slot < 2; ++slot) {
            referenceFilters.emplace_back(order, 11, ape::NNAdaptation::new3980);
            fusedFilters.emplace_back(order, 11, ape::NNAdaptation::new3980);
            checkedFilters.emplace_back(order, 11, ape::NNAdaptation::new3980);
        }
        ape::Predictor3950 referencePredictor, fusedPredictor, checkedPredictor;
        referencePredictor.reset();
        fusedPredictor.reset();
        checkedPredictor.reset();
        std::vector<std::int32_t> slot0(blocks), slot1(blocks), expectY(blocks), expectX(blocks), y(blocks), x(blocks);
        // The checked loop of 24-bit streams keeps its slot values for the 64-bit trial.
        std::vector<std::int32_t> keptSlot0(blocks), keptSlot1(blocks), checkedY(blocks), checkedX(blocks);
        std::size_t at = 0;
        for (std::size_t n : chunks) {
            for (std::size_t i = at; i < at + n; ++i) {
                slot0[i] = ape::PivotValues::decode(reference.rc, reference.streams[0]);
                slot1[i] = ape::PivotValues::decode(reference.rc, reference.streams[1]);
            }
            if (order) {
                referenceFilters[0].decode(slot0.data() + at, n);
                referenceFilters[1].decode(slot1.data() + at, n);
            }
            const bool reallyFits = referencePredictor.stereoInBothWidths(
                slot0.data() + at, slot1.data() + at, expectY.data() + at, expectX.data() + at, n, true);

            ape::NNRunState states[2]{};
            for (std::size_t slot = 0; slot < fusedFilters.size(); ++slot)
                states[slot] = fusedFilters[slot].runState();
            if (!fusedPredictor.decodeStereo32<ape::PivotValues>(fused.rc, fused.streams, order ? states : nullptr,
                                                                 y.data() + at, x.data() + at, n))
                GTEST_SKIP() << "no single-pass loops on this machine";
            for (std::size_t slot = 0; slot < fusedFilters.size(); ++slot)
                fusedFilters[slot].finish(states[slot]);

            for (std::size_t slot = 0; slot < checkedFilters.size(); ++slot)
                states[slot] = checkedFilters[slot].runState();
            bool fits = false;
            ASSERT_TRUE(checkedPredictor.decodeStereoInBothWidths<ape::PivotValues>(
                checked.rc, checked.streams, order ? states : nullptr, keptSlot0.data() + at, keptSlot1.data() + at,
                checkedY.data() + at, checkedX.data() + at, n, fits));
            EXPECT_TRUE(!fits || reallyFits);
            for (std::size_t slot = 0; slot < checkedFilters.size(); ++slot)
                checkedFilters[slot].finish(states[slot]);
            at += n;
        }
        EXPECT_FALSE(fused.rc.failed());
        EXPECT_TRUE(y == expectY);
        EXPECT_TRUE(x == expectX);
        EXPECT_FALSE(checked.rc.failed());
        EXPECT_TRUE(checkedY == expectY);
        EXPECT_TRUE(checkedX == expectX);
        EXPECT_TRUE(keptSlot0 == slot0);
        EXPECT_TRUE(keptSlot1 == slot1);
    }
}

// Levels 4000 and 5000's loops: values from the coder through all the
// slots' filters into the predictor, stereo plain and watched and mono, in
// AVX2 and in the best code the machine runs, against reading, the plain
// filter loops and the predictor in passes.
TEST(FilteredRead, LoopsFromTheCoderThroughEveryFilterEqualThePasses)
{
    using ape::VectorCode;
    if (!ape::decodingFilteringStereo32Run(16, 1280, false))
        GTEST_SKIP() << "no AVX2 on this machine";
    std::mt19937 random(5000);
    for (VectorCode code : {VectorCode::avx2, VectorCode::best}) {
        for (auto [level, scale] :
             {std::pair{4000, 1}, std::pair{5000, 1}, std::pair{4000, 300}, std::pair{5000, 300}}) {
            SCOPED_TRACE(testing::Message() << "level " << level << ", scale " << scale
                                            << (code == VectorCode::avx2 ? ", AVX2" : ", best"));
            const ape::NNFilterSet& set = ape::nnFilterSet(level);
            const int firstOrder = set.filters[0].order, lastOrder = set.filters[std::size_t(set.count - 1)].order;
            const auto bytes = encodeFrame({residuals(random, scale), residuals(random, scale)});
            const auto monoBytes = encodeFrame({residuals(random, scale)});
            // Reference, stereo plain, stereo watched, then the same three for mono.
            Frame frames[6] = {Frame(bytes),     Frame(bytes),     Frame(bytes),
                               Frame(monoBytes), Frame(monoBytes), Frame(monoBytes)};
            std::vector<ape::NNFilter> filters[6][2];
            ape::Predictor3950 reference[2];
            ape::Predictor3950::Channel<std::int32_t> ys[6], xs[6]; // the single loops' predictors, from a reset
            std::vector<std::int32_t> slots[6][2], y[6], x[6];
            for (int k = 0; k < 6; ++k) {
                for (int slot = 0; slot < 2; ++slot) {
                    for (int f = 0; f < set.count; ++f)
                        filters[k][slot].emplace_back(set.filters[std::size_t(f)].order,
                                                      set.filters[std::size_t(f)].fraction, ape::NNAdaptation::new3980,
                                                      k % 3 == 0 ? ape::scalarNNKernels() : ape::bestNNKernels());
                    slots[k][slot].resize(blocks);
                }
                y[k].resize(blocks);
                x[k].resize(blocks);
            }
            reference[0].reset();
            reference[1].reset();
            std::size_t at = 0;
            for (std::size_t n : chunks) {
                for (int mono = 0; mono < 2; ++mono) {
                    const int k0 = 3 * mono, slotCount = 2 - mono;
                    for (std::size_t i = at; i < at + n; ++i)
                        for (int slot = 0; slot < slotCount; ++slot)
                            slots[k0][slot][i] = ape::PivotValues::decode(frames[k0].rc, frames[k0].streams[slot]);
                    for (int slot = 0; slot < slotCount; ++slot)
                        for (auto& filter : filters[k0][slot])
                            filter.decode(slots[k0][slot].data() + at, n);
                    bool reallyFits = true;
                    if (mono) {
                        std::copy_n(slots[k0][0].data() + at, n, y[k0].data() + at);
                        reference[1].mono(y[k0].data() + at, n);
                    } else {
                        reallyFits = reference[0].stereoInBothWidths(slots[k0][0].data() + at, slots[k0][1].data() + at,
                                                                     y[k0].data() + at, x[k0].data() + at, n, true);
                    }
                    for (int k = k0 + 1; k < k0 + 3 - mono; ++k) {
                        ape::NNRunState states[3][2];
                        for (int f = 0; f < set.count; ++f)
                            for (int slot = 0; slot < 2; ++slot)
                                states[f][slot] = filters[k][slot][std::size_t(f)].runState();
                        ape::NNRunState* second = set.count == 3 ? states[1] : nullptr;
                        ape::NNRunState* last = states[set.count - 1];
                        if (mono) {
                            ape::decodingFilteringMono32Run(firstOrder, lastOrder, code)(
                                frames[k].rc, frames[k].streams, states[0], second, last, ys[k], y[k].data() + at, n);
                        } else {
                            const bool held = ape::decodingFilteringStereo32Run(firstOrder, lastOrder, k == 2, code)(
                                frames[k].rc, frames[k].streams, states[0], second, last, ys[k], xs[k],
                                slots[k][0].data() + at, slots[k][1].data() + at, y[k].data() + at, x[k].data() + at,
                                n);
                            EXPECT_TRUE(k != 2 || !held || reallyFits);
                        }
                        for (int f = 0; f < set.count; ++f)
                            for (int slot = 0; slot < 2; ++slot)
                                filters[k][slot][std::size_t(f)].finish(states[f][slot]);
                    }
                }
                at += n;
            }
            for (int k : {1, 2, 4}) {
                SCOPED_TRACE(k == 1 ? "plain" : k == 2 ? "watched" : "mono");
                const int k0 = k < 3 ? 0 : 3;
                EXPECT_FALSE(frames[k].rc.failed());
                EXPECT_EQ(frames[k].reader.remaining(), frames[k0].reader.remaining());
                EXPECT_TRUE(y[k] == y[k0]);
                if (k < 3) {
                    EXPECT_TRUE(slots[k][0] == slots[k0][0] && slots[k][1] == slots[k0][1]);
                    EXPECT_TRUE(x[k] == x[k0]);
                }
            }
        }
    }
}

TEST(FilteredRead, MonoPredictorLoopEqualsThePasses)
{
    std::mt19937 random(1000);
    for (int order : {0, 16, 32, 64}) {
        SCOPED_TRACE(testing::Message() << "order " << order);
        const auto bytes = encodeFrame({residuals(random)});
        Frame reference(bytes), fused(bytes);
        ape::NNFilter referenceFilter(order ? order : 16, 11, ape::NNAdaptation::new3980);
        ape::NNFilter fusedFilter(order ? order : 16, 11, ape::NNAdaptation::new3980);
        ape::Predictor3950 referencePredictor, fusedPredictor;
        referencePredictor.reset();
        fusedPredictor.reset();
        std::vector<std::int32_t> expect(blocks), out(blocks);
        std::size_t at = 0;
        for (std::size_t n : chunks) {
            for (std::size_t i = at; i < at + n; ++i)
                expect[i] = ape::PivotValues::decode(reference.rc, reference.streams[0]);
            if (order)
                referenceFilter.decode(expect.data() + at, n);
            referencePredictor.mono(expect.data() + at, n);
            ape::NNRunState state = fusedFilter.runState();
            if (!fusedPredictor.decodeMono<ape::PivotValues>(fused.rc, fused.streams[0], order ? &state : nullptr,
                                                             out.data() + at, n))
                GTEST_SKIP() << "no single-pass loops on this machine";
            fusedFilter.finish(state);
            at += n;
        }
        EXPECT_FALSE(fused.rc.failed());
        EXPECT_TRUE(out == expect);
    }
    // Versions whose filters adapt by the old rule have no such loop.
    const auto bytes = encodeFrame({residuals(random)});
    Frame frame(bytes);
    ape::NNFilter filter(16, 11, ape::NNAdaptation::old3930);
    ape::NNRunState state = filter.runState();
    ape::Predictor3950 predictor;
    predictor.reset();
    std::vector<std::int32_t> out(blocks);
    EXPECT_FALSE(predictor.decodeMono<ape::KValues<true>>(frame.rc, frame.streams[0], &state, out.data(), blocks));
}

TEST(FilteredRead, Avx2EncodingOfTheLoopsEqualsSse2)
{
    using Channel32 = ape::Predictor3950::Channel<std::int32_t>;
    using ape::VectorCode;
    if (!ape::vectorStereo32Run(VectorCode::avx2))
        GTEST_SKIP() << "no AVX2 on this machine";
    // Every loop in one encoding: decoding stereo (first chunk plain, the
    // rest watched) and mono through a filter of `order` taps, and the
    // stereo loops over values already read.
    struct Encoding {
        Encoding(VectorCode code, const std::vector<std::uint8_t>& stereoBytes,
                 const std::vector<std::uint8_t>& monoBytes, int order)
            : code(code), order(order), stereo(stereoBytes), mono(monoBytes)
        {
            for (int slot = 0; order && slot < 3; ++slot) // slots 0 and 1, and the mono frame's
                filters.emplace_back(order, 11, ape::NNAdaptation::new3980);
            for (auto* out : {&kept0, &kept1, &outY, &outX, &outMono, &readY, &readX})
                out->resize(blocks);
        }
        void chunk(const std::vector<std::int32_t>* input, std::size_t at, std::size_t n)
        {
            ape::NNRunState states[3]{};
            for (std::size_t slot = 0; slot < filters.size(); ++slot)
                states[slot] = filters[slot].runState();
            ape::NNRunState* first = order ? states : nullptr;
            ape::vectorDecodingMono32Run<ape::PivotValues>(order, code)(
                mono.rc, mono.streams[0], order ? states + 2 : nullptr, monoChannel, outMono.data() + at, n);
            if (at == 0) {
                ape::vectorDecodingStereo32Run<ape::PivotValues>(order, code)(stereo.rc, stereo.streams, first, y, x,
                                                                              outY.data() + at, outX.data() + at, n);
                ape::vectorStereo32Run(code)(readYChannel, readXChannel, input[0].data(), input[1].data(), readY.data(),
                                             readX.data(), n);
            } else {
                answers.push_back(ape::vectorCheckedDecodingStereo32Run<ape::PivotValues>(order, code)(
                    stereo.rc, stereo.streams, first, y, x, kept0.data() + at, kept1.data() + at, outY.data() + at,
                    outX.data() + at, n));
                answers.push_back(ape::vectorCheckedStereo32Run(code)(readYChannel, readXChannel, input[0].data() + at,
                                                                      input[1].data() + at, readY.data() + at,
                                                                      readX.data() + at, n));
            }
            for (std::size_t slot = 0; slot < filters.size(); ++slot)
                filters[slot].finish(states[slot]);
        }
        VectorCode code;
        int order;
        Frame stereo, mono;
        std::vector<ape::NNFilter> filters;
        Channel32 y, x, monoChannel, readYChannel, readXChannel;
        std::vector<std::int32_t> kept0, kept1, outY, outX, outMono, readY, readX;
        std::vector<int> answers;
    };
    auto same = [](const Channel32& a, const Channel32& b) {
        return a.lastA == b.lastA && a.filterA == b.filterA && a.filterB == b.filterB &&
               std::equal(a.cA, a.cA + 4, b.cA) && std::equal(a.cB, a.cB + 5, b.cB) &&
               std::equal(a.rA, a.rA + 4, b.rA) && std::equal(a.rB, a.rB + 5, b.rB);
    };
    // Scaled residuals make the watched loops refuse some chunks.
    std::mt19937 random(5000);
    for (std::int32_t scale : {1, 300}) {
        const std::vector<std::int32_t> input[2] = {residuals(random, scale), residuals(random, scale)};
        const auto bytes = encodeFrame({input[0], input[1]}), monoBytes = encodeFrame({input[0]});
        for (int order : {0, 16, 32, 64}) {
            SCOPED_TRACE(testing::Message() << "scale " << scale << ", order " << order);
            Encoding sse2(VectorCode::sse2, bytes, monoBytes, order), avx2(VectorCode::avx2, bytes, monoBytes, order);
            std::size_t at = 0;
            for (std::size_t n : chunks) {
                sse2.chunk(input, at, n);
                avx2.chunk(input, at, n);
                at += n;
            }
            EXPECT_EQ(sse2.answers, avx2.answers);
            EXPECT_TRUE(sse2.kept0 == avx2.kept0 && sse2.kept1 == avx2.kept1);
            EXPECT_TRUE(sse2.outY == avx2.outY && sse2.outX == avx2.outX && sse2.outMono == avx2.outMono);
            EXPECT_TRUE(sse2.readY == avx2.readY && sse2.readX == avx2.readX);
            EXPECT_TRUE(same(sse2.y, avx2.y) && same(sse2.x, avx2.x) && same(sse2.monoChannel, avx2.monoChannel));
            EXPECT_TRUE(same(sse2.readYChannel, avx2.readYChannel) && same(sse2.readXChannel, avx2.readXChannel));
            EXPECT_EQ(sse2.stereo.reader.remaining(), avx2.stereo.reader.remaining());
            EXPECT_EQ(sse2.mono.reader.remaining(), avx2.mono.reader.remaining());
        }
    }
}
