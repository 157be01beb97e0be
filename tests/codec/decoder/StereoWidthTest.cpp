// Loud 24-bit stereo makes the stereo predictor's sums leave 32 bits, and the
// file does not record which width its encoder used. The decoder chooses
// from the data (StereoWidthRule); files encoded either way must come back
// exactly.
#include "DecoderTestSupport.h"
#include "ApeEncoder.h"

#include <gtest/gtest.h>

#include <random>

using namespace apetest;

namespace {

// Full-scale 24-bit stereo noise: the material that exercises the conflict.
std::vector<uint8_t> loudNoise(uint32_t blocks)
{
    std::mt19937 random(2024);
    std::vector<uint8_t> pcm;
    for (uint32_t i = 0; i < blocks * 2; ++i) {
        int32_t v = int32_t(random() % (1u << 24)) - (1 << 23);
        pcm.push_back(uint8_t(v));
        pcm.push_back(uint8_t(v >> 8));
        pcm.push_back(uint8_t(v >> 16));
    }
    return pcm;
}

} // namespace

TEST(StereoWidth, LoudTwentyFourBitStereoDecodesExactlyWhicheverWidthItWasEncodedWith)
{
    const auto pcm = loudNoise(20000);
    // Level 4000 under this policy is encoded with 32-bit sums, level 5000 with 64-bit ones.
    for (unsigned level : {4000u, 5000u}) {
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
