// Loud 24-bit stereo makes the stereo predictor's sums leave 32 bits, and the
// file does not record which width its encoder used. The decoder chooses
// from the data (StereoWidthRule); files encoded either way must come back
// exactly.
#include "DecoderTestSupport.h"
#include "encoder/ApeEncoder.h"
#include "encoder/Predictor3950Encoder.h"
#include "decoder/ExactSumWatch.h"
#include "decoder/StereoStepSse2.h"
#include "decoder/StereoWidthRule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace apetest;

namespace {

// Full-scale 24-bit stereo noise: the material that exercises the conflict.
std::vector<std::uint8_t> loudNoise(std::uint32_t blocks)
{
    std::mt19937 random(2024);
    std::vector<std::uint8_t> pcm;
    for (std::uint32_t i = 0; i < blocks * 2; ++i) {
        std::int32_t v = std::int32_t(random() % (1u << 24)) - (1 << 23);
        pcm.push_back(std::uint8_t(v));
        pcm.push_back(std::uint8_t(v >> 8));
        pcm.push_back(std::uint8_t(v >> 16));
    }
    return pcm;
}

} // namespace

TEST(StereoWidth, LoudTwentyFourBitStereoDecodesExactlyWhicheverWidthItWasEncodedWith)
{
    const auto pcm = loudNoise(20000);
    // Levels up to 4000 under this policy are encoded with 32-bit sums, level 5000 with 64-bit ones; up to
    // 3000 the decoder reads and predicts in one loop.
    for (unsigned level : {1000u, 2000u, 3000u, 4000u, 5000u}) {
        SCOPED_TRACE(level);
        ape::EncoderOptions options;
        options.level = level;
        options.blocksPerFrame = 9000;
        options.widthPolicy = ape::WidthPolicy::ffmpeg51;
        ape::ApeEncoder encoder(ape::PcmFormat{2, 24, 48000}, options);
        auto file = encoder.encode(pcm);
        ASSERT_GT(encoder.widthConflicts(), 0u) << "the material does not exercise the width choice";
        auto d = ape::Decompressor::open(std::make_unique<ape::MemoryByteSource>(file.data(), file.size()));
        int rc = -1;
        auto decoded = decodeRest(*d, 7000, &rc);
        EXPECT_EQ(rc, 0);
        EXPECT_TRUE(decoded == pcm);
    }
}

// The rule computes a chunk once when no value leaves 32 bits and twice
// otherwise; its samples and decisions must be those of the rule as stated:
// every undecided chunk in 32 bits, then the switch to 64 bits on an
// out-of-range sample, else a 64-bit trial that may settle on 32 bits.
TEST(StereoWidth, RuleGivesTheSamplesOfComputingBothWidthsForEveryChunk)
{
    constexpr std::size_t chunk = 4608;
    constexpr std::int32_t largest = 1 << 23;
    auto beyond = [&](const std::vector<std::int32_t>& v) {
        return std::any_of(v.begin(), v.end(), [&](std::int32_t s) { return s > largest || s < -largest; });
    };
    std::mt19937 random(15);
    // Residual magnitudes per chunk: quiet (both widths agree), loud enough
    // for the sums to leave 32 bits, and wild (samples leave 24 bits); 0 for
    // the residuals of loud noise encoded with 32-bit sums, which stay in
    // range in 32 bits only.
    const std::vector<std::vector<int>> plans = {{8, 8, 8, 8},    {8, 22, 8, 22, 8}, {8, 26, 8}, {12, 30, 12},
                                                 {22, 22, 30, 8}, {30, 8, 8},        {0, 0, 0},  {0, 8, 30}};
    // Chunks where the widths differ although the 32-bit samples stay in range
    // are the ones a single pass must not take for both.
    bool sawWide = false, sawDifferenceInRange = false;
    for (const auto& plan : plans) {
        ape::StereoWidthRule rule(24, chunk);
        ape::Predictor3950Encoder encoder(ape::StereoWidth::Bits32);
        ape::Predictor3950 ours, reference;
        ours.reset();
        reference.reset();
        enum { undecided, narrow, wide } mode = undecided;
        for (std::size_t c = 0; c < plan.size(); ++c) {
            SCOPED_TRACE(testing::Message() << "plan of " << plan.size() << " chunks, chunk " << c);
            std::vector<std::int32_t> slot0(chunk), slot1(chunk);
            for (std::size_t i = 0; i < chunk; ++i) {
                if (plan[c] == 0) {
                    const std::int32_t l = std::int32_t(random() % (1u << 24)) - (1 << 23);
                    const std::int32_t r = std::int32_t(random() % (1u << 24)) - (1 << 23);
                    const std::int32_t y = r - l;
                    encoder.encodeStereo(y, l + y / 2, slot0[i], slot1[i]);
                    continue;
                }
                slot0[i] = std::int32_t(random() % (2u << plan[c])) - (1 << plan[c]);
                slot1[i] = std::int32_t(random() % (2u << plan[c])) - (1 << plan[c]);
            }
            std::vector<std::int32_t> left(chunk), right(chunk);
            rule.run(ours, slot0.data(), slot1.data(), left.data(), right.data(), chunk);

            std::vector<std::int32_t> expectLeft(chunk), expectRight(chunk);
            auto compute = [&](ape::Predictor3950& p, bool wideWidth, std::vector<std::int32_t>& l,
                               std::vector<std::int32_t>& r) {
                if (wideWidth)
                    p.stereo<ape::PredictorWidth::exact64>(slot0.data(), slot1.data(), l.data(), r.data(), chunk);
                else
                    p.stereo<ape::PredictorWidth::wrap32>(slot0.data(), slot1.data(), l.data(), r.data(), chunk);
                ape::reconstructStereo(l.data(), r.data(), chunk);
            };
            if (mode != undecided) {
                compute(reference, mode == wide, expectLeft, expectRight);
            } else {
                const ape::Predictor3950 atStart = reference;
                compute(reference, false, expectLeft, expectRight);
                if (beyond(expectLeft) || beyond(expectRight)) {
                    mode = wide;
                    reference = atStart;
                    compute(reference, true, expectLeft, expectRight);
                } else {
                    ape::Predictor3950 trial = atStart;
                    std::vector<std::int32_t> l(chunk), r(chunk);
                    compute(trial, true, l, r);
                    sawDifferenceInRange |= l != expectLeft || r != expectRight;
                    if (beyond(l) || beyond(r))
                        mode = narrow;
                }
            }
            ASSERT_TRUE(left == expectLeft);
            ASSERT_TRUE(right == expectRight);
        }
        sawWide |= mode == wide;
    }
    EXPECT_TRUE(sawWide && sawDifferenceInRange) << "the plans no longer reach the interesting cases";
}

// The 32-bit run (vector code where the machine has it) against the scalar
// 32-bit computation that the checked run performs, over chunks from quiet
// to values that wrap every sum.
TEST(StereoWidth, ThirtyTwoBitRunMatchesTheScalarComputationIncludingWraparound)
{
    constexpr std::size_t chunk = 4608;
    std::mt19937 random(3950);
    ape::Predictor3950 vector, scalar;
    vector.reset();
    scalar.reset();
    for (int bits : {4, 12, 20, 28, 31, 8, 16}) {
        SCOPED_TRACE(bits);
        std::vector<std::int32_t> slot0(chunk), slot1(chunk);
        for (std::size_t i = 0; i < chunk; ++i) {
            slot0[i] = i % 97 == 0 ? 0 : std::int32_t(std::uint32_t(random()) >> (32 - bits)) - (1 << (bits - 1));
            slot1[i] = i % 89 == 0 ? 0 : std::int32_t(std::uint32_t(random()) >> (32 - bits)) - (1 << (bits - 1));
        }
        std::vector<std::int32_t> y(chunk), x(chunk), expectY(chunk), expectX(chunk);
        vector.stereo<ape::PredictorWidth::wrap32>(slot0.data(), slot1.data(), y.data(), x.data(), chunk);
        scalar.stereoInBothWidths(slot0.data(), slot1.data(), expectY.data(), expectX.data(), chunk, true);
        ASSERT_TRUE(y == expectY);
        ASSERT_TRUE(x == expectX);
    }
}

// The vector run's watch may refuse a chunk that fit, but must never pass
// one that wrapped; it must pass ordinary chunks, or the width rule would
// compute them twice. Its output is the 32-bit width's either way.
TEST(StereoWidth, VectorWatchPassesOnlyChunksThatFitAndMostThatDo)
{
    constexpr std::size_t chunk = 1024;
    std::mt19937 random(1517);
    ape::Predictor3950 predictor;
    predictor.reset();
    int passed = 0, wrapped = 0, refusedAlthoughFit = 0;
    for (int round = 0; round < 3; ++round) {
        for (int bits : {6, 12, 16, 19, 20, 21, 22, 23, 24, 26, 30, 10, 14}) {
            SCOPED_TRACE(testing::Message() << "round " << round << ", residuals of " << bits << " bits");
            std::vector<std::int32_t> slot0(chunk), slot1(chunk);
            for (std::size_t i = 0; i < chunk; ++i) {
                slot0[i] = std::int32_t(std::uint32_t(random()) >> (32 - bits)) - (1 << (bits - 1));
                slot1[i] = std::int32_t(std::uint32_t(random()) >> (32 - bits)) - (1 << (bits - 1));
            }
            const ape::Predictor3950 atStart = predictor;
            ape::Predictor3950 exact = atStart, wide = atStart;
            std::vector<std::int32_t> y(chunk), x(chunk), exactY(chunk), exactX(chunk), wideY(chunk), wideX(chunk);
            const bool fits = predictor.stereoInBothWidths(slot0.data(), slot1.data(), y.data(), x.data(), chunk);
            const bool reallyFits =
                exact.stereoInBothWidths(slot0.data(), slot1.data(), exactY.data(), exactX.data(), chunk, true);
            ASSERT_TRUE(y == exactY);
            ASSERT_TRUE(x == exactX);
            ASSERT_TRUE(!fits || reallyFits);
            if (fits && atStart.fitsIn32Bits()) {
                wide.stereo<ape::PredictorWidth::exact64>(slot0.data(), slot1.data(), wideY.data(), wideX.data(),
                                                          chunk);
                ASSERT_TRUE(y == wideY);
                ASSERT_TRUE(x == wideX);
            }
            if (bits <= 16 && atStart.fitsIn32Bits()) {
                EXPECT_TRUE(fits);
            }
            passed += fits;
            wrapped += !reallyFits;
            refusedAlthoughFit += reallyFits && !fits;
            if (!atStart.fitsIn32Bits() || !reallyFits)
                predictor.reset();
        }
    }
    EXPECT_GT(passed, 10);
    EXPECT_GT(wrapped, 3) << "the chunks no longer reach the limit";
    EXPECT_LE(refusedAlthoughFit, passed / 2);
}

// The watch's margin under 2^31 grows with the products' magnitudes, the
// bound of the single-precision sums' error: large products that cancel
// pass, and a sum within that margin of the limit does not.
TEST(StereoWidth, WatchMarginFollowsTheProductsMagnitudes)
{
    auto held = [](std::int32_t r, std::int32_t c0, std::int32_t c1) {
        ape::sse2::RangeWatch watch;
        const __m128i rA = _mm_set1_epi32(r), cA = _mm_setr_epi32(c0, c1, 0, 0), zero = _mm_setzero_si128();
        watch.products(rA, cA, zero, zero, 0, 0);
        return watch.held();
    };
    // Products of 2^36 each: the rounding stays under 2^17.
    EXPECT_TRUE(held(1 << 20, 1 << 16, -(1 << 16)));
    EXPECT_TRUE(held(1 << 16, (1 << 20) + (1 << 15) - 4, -(1 << 20)));  // a sum of 2^31 - 2^18
    EXPECT_FALSE(held(1 << 16, (1 << 20) + (1 << 15) - 1, -(1 << 20))); // 2^31 - 2^16, within the margin
    // Small products keep the margin small.
    EXPECT_TRUE(held(1 << 20, 2047, 0));
    EXPECT_FALSE(held(1 << 20, 2048, 0));
}

namespace {

struct ExactVerdict {
    bool held;
    ape::sse2::StepSums sums;
};

// One step's sums through the AVX2 runs' watch, from a channel whose
// registers and coefficients are given.
APE_AVX2 ExactVerdict exactWatch(const ape::Predictor3950::Channel<std::int32_t>& c)
{
    const ape::sse2::VectorChannel v(c);
    ape::avx2::ExactSumWatch watch;
    v.watchStart(watch);
    const ape::sse2::StepSums sums = watch.sums(v);
    return {watch.held(), sums};
}

} // namespace

// The AVX2 runs' watch passes a step exactly when the two sums the format
// shifts right, pB and pA + pB / 2 (rounded down), are those of 32-bit
// arithmetic, and hands the step the sums 32-bit arithmetic wraps: against
// 64-bit sums of random registers from small to full-scale, and at the
// limits themselves.
TEST(StereoWidth, ExactWatchPassesExactlyTheStepsWhoseShiftedSumsFit)
{
    if (!ape::processorHasAvx2())
        GTEST_SKIP() << "no AVX2 on this machine";
    auto channel = [](std::initializer_list<std::int32_t> rA, std::initializer_list<std::int32_t> cA,
                      std::initializer_list<std::int32_t> rB, std::initializer_list<std::int32_t> cB) {
        ape::Predictor3950::Channel<std::int32_t> c;
        std::copy(rA.begin(), rA.end(), c.rA);
        std::copy(cA.begin(), cA.end(), c.cA);
        std::copy(rB.begin(), rB.end(), c.rB);
        std::copy(cB.begin(), cB.end(), c.cB);
        c.lastA = 0;
        return c;
    };
    std::mt19937 random(64);
    int passed = 0, refused = 0;
    for (int n = 0; n < 20000; ++n) {
        const int registerBits = 4 + int(random() % 28), coefficientBits = 1 + int(random() % 25);
        auto value = [&](int bits) {
            return std::int32_t(std::int64_t(std::uint64_t(random()) % (std::uint64_t(2) << bits)) - (1ll << bits));
        };
        ape::Predictor3950::Channel<std::int32_t> c;
        for (int i = 0; i < 4; ++i) {
            c.rA[i] = value(registerBits);
            c.cA[i] = value(coefficientBits);
        }
        for (int i = 0; i < 5; ++i) {
            c.rB[i] = value(registerBits);
            c.cB[i] = value(coefficientBits);
        }
        // The heads of the registers within the bound of the values they hold.
        c.rA[0] = value(std::min(registerBits, 29));
        c.rB[0] = value(std::min(registerBits, 29));
        c.lastA = 0;
        std::int64_t pA = 0, pB = 0;
        for (int i = 0; i < 4; ++i)
            pA += std::int64_t(c.rA[i]) * c.cA[i];
        for (int i = 0; i < 5; ++i)
            pB += std::int64_t(c.rB[i]) * c.cB[i];
        const auto fits = [](std::int64_t v) { return v == std::int32_t(v); };
        const ExactVerdict verdict = exactWatch(c);
        ASSERT_EQ(verdict.held, fits(pB) && fits(pA + (pB >> 1))) << pA << " " << pB;
        ASSERT_EQ(verdict.sums.a, std::int32_t(std::uint64_t(pA)));
        ASSERT_EQ(verdict.sums.b, std::int32_t(std::uint64_t(pB)));
        passed += verdict.held;
        refused += !verdict.held;
    }
    EXPECT_GT(passed, 1000);
    EXPECT_GT(refused, 1000);

    constexpr std::int32_t big = 1 << 30, half = 1 << 25;
    // Products of 2^55 that cancel.
    EXPECT_TRUE(exactWatch(channel({0, big, big, big}, {0, half, -half, 0}, {}, {})).held);
    // pB at the ends of the range, and one past.
    EXPECT_TRUE(exactWatch(channel({}, {}, {1 << 16, -1}, {1 << 15, 1})).held); // 2^31 - 1
    EXPECT_FALSE(exactWatch(channel({}, {}, {1 << 16, 0}, {1 << 15, 1})).held); // 2^31
    EXPECT_TRUE(exactWatch(channel({}, {}, {1 << 16}, {-(1 << 15)})).held);     // -2^31
    // pA + pB / 2 at the ends of the range, and one past.
    EXPECT_TRUE(exactWatch(channel({1 << 16, -1}, {1 << 15, 1}, {1}, {1})).held);  // 2^31 - 1 + 0
    EXPECT_FALSE(exactWatch(channel({1 << 16, -1}, {1 << 15, 1}, {2}, {1})).held); // 2^31 - 1 + 1
    EXPECT_TRUE(exactWatch(channel({1 << 16}, {-(1 << 15)}, {}, {})).held);        // -2^31
    EXPECT_FALSE(exactWatch(channel({1 << 16}, {-(1 << 15)}, {-1}, {1})).held);    // -2^31 - 1
    // Coefficients from 2^26 on could let a chunk's sums overflow 64 bits.
    EXPECT_TRUE(exactWatch(channel({}, {(1 << 26) - 1}, {}, {-(1 << 26) + 1})).held);
    EXPECT_FALSE(exactWatch(channel({}, {1 << 26}, {}, {})).held);
    EXPECT_FALSE(exactWatch(channel({}, {}, {}, {0, 0, 0, 0, -(1 << 26) - 1})).held);
}
