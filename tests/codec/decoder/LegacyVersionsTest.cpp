// No real files of versions 3800..3929 are at hand. The frames of the 3940
// sample, read as older versions (header relabelled, frames shortened to the
// older 9216 blocks), are noise to those decoders, but deterministic noise:
// the bit-stream value coders, long filters and old predictors must turn it
// into exactly what the ffmpeg binary makes of the same bytes.
#include "DecoderTestSupport.h"
#include "RangeEncoder.h"
#include "ValueEncoder.h"
#include "format/ByteOrder.h"
#include "format/Crc32.h"

#include <gtest/gtest.h>

#include <cstring>

#include <cstdio>
#include <random>

using namespace apetest;

namespace {

struct OldMonoFile {
    std::vector<uint8_t> bytes;
    std::vector<size_t> crcAt; // file offsets of each frame's CRC word
};

// A mono file of versions 3900..3929 with the old header: `frames` frames of
// random residuals, range-coded as those versions read them. CRCs are 0 until
// patched.
OldMonoFile oldMonoFile(int version, int level, const std::vector<uint32_t>& frameBlocks, uint32_t seed)
{
    constexpr uint32_t headerLength = 32;
    const uint32_t frames = uint32_t(frameBlocks.size());
    std::vector<std::vector<uint8_t>> logical;
    std::mt19937 random(seed);
    for (uint32_t blocks : frameBlocks) {
        std::vector<uint8_t> frame(4, 0); // CRC word
        ape::RangeEncoder coder(frame);
        ape::ValueEncoder values{static_cast<unsigned>(version)};
        values.reset();
        for (uint32_t i = 0; i < blocks; ++i)
            values.encode(coder, int32_t(random() % 401) - 200);
        coder.finish();
        frame.resize((frame.size() + 3) / 4 * 4, 0);
        logical.push_back(std::move(frame));
    }
    OldMonoFile file;
    file.bytes.resize(headerLength);
    uint8_t* h = file.bytes.data();
    std::memcpy(h, "MAC ", 4);
    ape::writeLe16(h + 4, uint16_t(version));
    ape::writeLe16(h + 6, uint16_t(level));
    ape::writeLe16(h + 8, 32); // no stored WAV header; 16-bit
    ape::writeLe16(h + 10, 1);
    ape::writeLe32(h + 12, 44100);
    ape::writeLe32(h + 24, frames);
    ape::writeLe32(h + 28, frameBlocks.back());
    uint32_t position = headerLength + 4 * frames;
    for (const auto& frame : logical) {
        uint8_t entry[4];
        ape::writeLe32(entry, position);
        file.bytes.insert(file.bytes.end(), entry, entry + 4);
        position += uint32_t(frame.size());
    }
    for (const auto& frame : logical) {
        file.crcAt.push_back(file.bytes.size());
        for (size_t i = 0; i < frame.size(); i += 4)
            for (int k = 3; k >= 0; --k)
                file.bytes.push_back(frame[i + size_t(k)]);
    }
    return file;
}

void writeFile(const std::string& name, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

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

TEST(LegacyVersions, RangeCodedMonoFramesDecodeLikeFfmpegWithTheirCrcs)
{
    const std::vector<uint32_t> frameBlocks = {73728, 5000};
    for (int version : {3900, 3920}) {
        for (int level : {1000, 2000, 3000, 4000}) {
            SCOPED_TRACE(testing::Message() << "version " << version << " level " << level);
            OldMonoFile file = oldMonoFile(version, level, frameBlocks, uint32_t(version + level));
            const std::string name = "legacy-mono-" + std::to_string(version) + "-" + std::to_string(level) + ".ape";
            writeFile(name, file.bytes);
            // ffmpeg does not check CRCs: its PCM gives each frame's CRC, which makes the file whole.
            auto theirs = ffmpegPcm(name);
            ASSERT_EQ(theirs.size(), size_t(73728 + 5000) * 2);
            size_t at = 0;
            for (size_t f = 0; f < frameBlocks.size(); ++f) {
                ape::Crc32 crc;
                crc.update(theirs.data() + at, size_t(frameBlocks[f]) * 2);
                at += size_t(frameBlocks[f]) * 2;
                uint32_t stored = crc.value() >> 1;
                for (int k = 0; k < 4; ++k) // the CRC word, most significant byte last in the file word
                    file.bytes[file.crcAt[f] + size_t(k)] = uint8_t(stored >> (8 * k));
            }
            auto d = ape::Decompressor::open(
                std::make_unique<ape::MemoryByteSource>(file.bytes.data(), file.bytes.size()));
            int rc = -1;
            auto ours = decodeRest(*d, 4096, &rc);
            EXPECT_EQ(rc, 0);
            EXPECT_TRUE(ours == theirs);
            std::remove(name.c_str());
        }
    }
}
