// No real files of versions 3800..3929 are at hand. The frames of the 3940
// sample, read as older versions (header relabelled, frames shortened to the
// older 9216 blocks), are noise to those decoders, but deterministic noise:
// the bit-stream value coders, long filters and old predictors must turn it
// into exactly what the ffmpeg binary makes of the same bytes.
#include "DecoderTestSupport.h"
#include "format/ByteOrder.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace apetest;

namespace {

std::vector<uint8_t> ffmpegPcm(const std::string& file)
{
    std::string command = "ffmpeg -nostdin -v quiet -threads 1 -i '" + file + "' -f s16le -";
    std::vector<uint8_t> out;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return out;
    uint8_t buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.insert(out.end(), buffer, buffer + n);
    pclose(pipe);
    return out;
}

} // namespace

TEST(LegacyVersions, BitStreamVersionsDecodeTheSameBytesAsFfmpeg)
{
    const auto original = readBytes(realFile("atl-v394.ape"));
    ASSERT_GT(original.size(), 40u);
    for (int version : {3820, 3850, 3860, 3880, 3890}) {
        for (int level : {1000, 2000, 3000}) {
            SCOPED_TRACE(testing::Message() << "version " << version << " level " << level);
            auto bytes = original;
            ape::writeLe16(bytes.data() + 4, uint16_t(version));
            ape::writeLe16(bytes.data() + 6, uint16_t(level));
            ape::writeLe32(bytes.data() + 28, 5000); // final frame within the 9216-block frames
            const std::string file = "legacy-" + std::to_string(version) + "-" + std::to_string(level) + ".ape";
            {
                std::ofstream out(file, std::ios::binary);
                out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
            }
            auto d = openFile(file);
            int rc = 0;
            auto ours = decodeRest(*d, 4096, &rc);
            auto theirs = ffmpegPcm(file);
            // Where one frame is corrupt, we stop and ffmpeg skips it: compare what both delivered.
            const size_t common = std::min(ours.size(), theirs.size());
            EXPECT_GE(common, size_t(2 * 9216 * 4)) << "too little decoded to compare";
            EXPECT_TRUE(std::equal(ours.begin(), ours.begin() + ptrdiff_t(common), theirs.begin()));
            if (rc == 0)
                EXPECT_EQ(ours.size(), theirs.size());
            std::remove(file.c_str());
        }
    }
}
