// No real files of versions 3800..3929 are at hand, so the ffmpeg binary is
// the reference: (1) the frames of the 3940 sample, read as older versions
// (header relabelled, frames shortened to the older 9216 blocks), are noise to
// the bit-stream decoders, but deterministic noise that must come out exactly
// as ffmpeg makes it; (2) range-coded frames of random residuals built for
// 3900..3929, mono and stereo (with the coder restart between the channels),
// must decode like ffmpeg with the CRCs that ffmpeg's output implies; (3)
// bit-stream frames built for 3800..3880 (Rice coders, seek bit table) at
// every level, mono and stereo, must decode like ffmpeg.
#include "DecoderTestSupport.h"
#include "encoder/RangeEncoder.h"
#include "encoder/ValueEncoder.h"
#include "format/ByteOrder.h"
#include "format/Crc32.h"
#include "decoder/FrameReader.h"
#include "decoder/RangeDecoder.h"
#include "decoder/ValueDecoder.h"

#include <gtest/gtest.h>

#include <cstring>

#include <cstdio>
#include <random>

using namespace apetest;

namespace {

struct OldFile {
    std::vector<std::uint8_t> bytes;
    std::vector<std::size_t> crcAt; // file offsets of each frame's CRC word
};

std::vector<std::uint8_t> encodeStream(int version, std::uint32_t blocks, std::mt19937& random, std::size_t reserve)
{
    std::vector<std::uint8_t> out(reserve, 0);
    ape::RangeEncoder coder(out);
    ape::ValueEncoder values{static_cast<unsigned>(version)};
    values.reset();
    for (std::uint32_t i = 0; i < blocks; ++i)
        values.encode(coder, std::int32_t(random() % 401) - 200);
    coder.finish();
    return out;
}

// Bytes the decoder's extra normalisation reads after the first stream of a
// stereo frame (logical bytes, CRC word first): where the second stream starts.
std::uint64_t bytesReadByTheRestart(int version, const std::vector<std::uint8_t>& logical, std::uint32_t blocks)
{
    std::vector<std::uint8_t> words(logical);
    words.resize((words.size() + 3) / 4 * 4 + 4, 0);
    for (std::size_t i = 0; i < words.size(); i += 4) {
        std::swap(words[i], words[i + 3]);
        std::swap(words[i + 1], words[i + 2]);
    }
    ape::MemoryByteSource source(words.data(), words.size());
    ape::FrameReader reader(source);
    reader.begin(ape::FrameSpan{0, words.size(), 0, blocks}, 0);
    for (int i = 0; i < 5; ++i) // CRC word and the skipped byte
        reader.next();
    ape::RangeDecoder rc(reader);
    rc.start();
    ape::StreamState state;
    for (std::uint32_t i = 0; i < blocks; ++i) {
        if (version >= 3910)
            ape::KValues<true>::decode(rc, state);
        else
            ape::KValues<false>::decode(rc, state);
    }
    std::uint64_t before = reader.remaining();
    rc.normalise();
    return before - reader.remaining();
}

// A file of versions 3900..3929 with the old header: frames of random
// residuals, range-coded as those versions read them, CRCs 0 until patched.
// A stereo frame codes channel 0, then channel 1 with a coder that restarts on
// the last byte the decoder read; frames are drawn until that byte can be the
// second coder's first.
OldFile oldFile(int version, int level, int channels, const std::vector<std::uint32_t>& frameBlocks, std::uint32_t seed)
{
    constexpr std::uint32_t headerLength = 32;
    const std::uint32_t frames = std::uint32_t(frameBlocks.size());
    std::vector<std::vector<std::uint8_t>> logical;
    std::mt19937 random(seed);
    for (std::uint32_t blocks : frameBlocks) {
        std::vector<std::uint8_t> frame = encodeStream(version, blocks, random, 4);
        if (channels == 2) {
            std::uint64_t extra;
            while ((extra = bytesReadByTheRestart(version, frame, blocks)) == 0)
                frame = encodeStream(version, blocks, random, 4);
            std::vector<std::uint8_t> second = encodeStream(version, blocks, random, 0);
            frame.insert(frame.end(), std::size_t(extra - 1), 0);
            frame.insert(frame.end(), second.begin() + 1, second.end()); // its first byte is the re-read one
        }
        frame.resize((frame.size() + 3) / 4 * 4, 0);
        logical.push_back(std::move(frame));
    }
    OldFile file;
    file.bytes.resize(headerLength);
    std::uint8_t* h = file.bytes.data();
    std::memcpy(h, "MAC ", 4);
    ape::writeLe16(h + 4, std::uint16_t(version));
    ape::writeLe16(h + 6, std::uint16_t(level));
    ape::writeLe16(h + 8, 32); // no stored WAV header; 16-bit
    ape::writeLe16(h + 10, std::uint16_t(channels));
    ape::writeLe32(h + 12, 44100);
    ape::writeLe32(h + 24, frames);
    ape::writeLe32(h + 28, frameBlocks.back());
    std::uint32_t position = headerLength + 4 * frames;
    for (const auto& frame : logical) {
        std::uint8_t entry[4];
        ape::writeLe32(entry, position);
        file.bytes.insert(file.bytes.end(), entry, entry + 4);
        position += std::uint32_t(frame.size());
    }
    for (const auto& frame : logical) {
        file.crcAt.push_back(file.bytes.size());
        for (std::size_t i = 0; i < frame.size(); i += 4)
            for (int k = 3; k >= 0; --k)
                file.bytes.push_back(frame[i + std::size_t(k)]);
    }
    return file;
}

// Bits, most significant first, into logical bytes.
class BitWriter {
public:
    void bit(std::uint32_t b)
    {
        if (used % 8 == 0)
            bytes.push_back(0);
        if (b)
            bytes.back() |= std::uint8_t(0x80 >> (used % 8));
        ++used;
    }
    void bits(std::uint32_t value, unsigned count)
    {
        for (unsigned i = count; i-- > 0;)
            bit((value >> i) & 1);
    }
    void rice(std::uint32_t value, std::uint32_t k)
    {
        for (std::uint32_t q = value >> k; q > 0; --q)
            bit(0);
        bit(1);
        bits(value & ((1u << k) - 1), k);
    }
    std::vector<std::uint8_t> bytes;

private:
    std::uint64_t used = 0;
};

std::uint32_t folded(std::int32_t r)
{
    return r > 0 ? 2 * std::uint32_t(r) - 1 : 2 * std::uint32_t(-r);
}

std::uint32_t bitLength(std::uint32_t v)
{
    std::uint32_t n = 0;
    for (; v; v >>= 1)
        ++n;
    return n;
}

// Versions 3800..3859: Rice codes whose k follows a running sum over the frame.
void writeWholeFrameRice(BitWriter& out, const std::vector<std::uint32_t>& x)
{
    const std::size_t n = x.size();
    std::uint32_t kSum = 0;
    std::size_t i = 0;
    for (; i < std::min<std::size_t>(n, 5); ++i) {
        out.rice(x[i], 10);
        kSum += x[i];
    }
    if (n > 5) {
        std::uint32_t k = bitLength(kSum / 10);
        for (; i < std::min<std::size_t>(n, 64); ++i) {
            out.rice(x[i], k);
            kSum += x[i];
            k = bitLength(kSum / std::uint32_t((i + 1) * 2));
        }
    }
    if (n > 64) {
        std::uint32_t k = bitLength(kSum >> 7);
        std::uint64_t kSumMax = std::uint64_t(1) << (k + 7), kSumMin = k ? std::uint64_t(1) << (k + 6) : 0;
        for (; i < n; ++i) {
            out.rice(x[i], k);
            kSum = kSum + x[i] - x[i - 64];
            while (kSum < kSumMin) {
                --k;
                kSumMin = k ? kSumMin >> 1 : 0;
                kSumMax >>= 1;
            }
            while (kSum >= kSumMax) {
                ++k;
                kSumMax <<= 1;
                kSumMin = kSumMin ? kSumMin << 1 : 128;
            }
        }
    }
}

// Versions 3860..3880: a Rice-like code per value with adaptive k (values
// small enough never to need the later versions' escape).
void writePerValueRice(BitWriter& out, const std::vector<std::uint32_t>& x)
{
    std::uint32_t k = 10, kSum = 16384;
    for (std::uint32_t v : x) {
        out.rice(v, k);
        kSum = kSum + v - ((kSum + 8) >> 4);
        if (kSum < (k ? 1u << (k + 4) : 0u))
            --k;
        else if (kSum >= (1u << (k + 5)) && k < 24)
            ++k;
    }
}

// A bit-stream file (versions 3800..3880), frames padded to whole words. CRCs
// stay 0: they are not checked below version 3900.
std::vector<std::uint8_t> oldBitStreamFile(int version, int level, int channels,
                                           const std::vector<std::uint32_t>& frameBlocks, std::uint32_t seed)
{
    constexpr std::uint32_t headerLength = 32;
    const std::uint32_t frames = std::uint32_t(frameBlocks.size());
    std::mt19937 random(seed);
    std::vector<std::vector<std::uint8_t>> logical;
    for (std::uint32_t blocks : frameBlocks) {
        BitWriter out;
        out.bits(0, 32); // CRC word
        for (int c = 0; c < channels; ++c) {
            std::vector<std::uint32_t> x(blocks);
            for (auto& v : x)
                v = folded(std::int32_t(random() % 401) - 200);
            if (version < 3860)
                writeWholeFrameRice(out, x);
            else
                writePerValueRice(out, x);
        }
        out.bytes.resize((out.bytes.size() + 3) / 4 * 4, 0);
        logical.push_back(std::move(out.bytes));
    }
    std::vector<std::uint8_t> file(headerLength);
    std::uint8_t* h = file.data();
    std::memcpy(h, "MAC ", 4);
    ape::writeLe16(h + 4, std::uint16_t(version));
    ape::writeLe16(h + 6, std::uint16_t(level));
    ape::writeLe16(h + 8, 32);
    ape::writeLe16(h + 10, std::uint16_t(channels));
    ape::writeLe32(h + 12, 44100);
    ape::writeLe32(h + 24, frames);
    ape::writeLe32(h + 28, frameBlocks.back());
    const std::uint32_t seekBitTable = version < 3810 ? frames : 0; // one bit offset per frame, all 0 here
    std::uint32_t position = headerLength + 4 * frames + seekBitTable;
    for (const auto& frame : logical) {
        std::uint8_t entry[4];
        ape::writeLe32(entry, position);
        file.insert(file.end(), entry, entry + 4);
        position += std::uint32_t(frame.size());
    }
    file.insert(file.end(), seekBitTable, 0);
    for (const auto& frame : logical)
        for (std::size_t i = 0; i < frame.size(); i += 4)
            for (int k = 3; k >= 0; --k)
                file.push_back(frame[i + std::size_t(k)]);
    return file;
}

void writeFile(const std::string& name, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<std::uint8_t> ffmpegPcm(const std::string& file)
{
    return ffmpegDecode(file, "s16le");
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
            ape::writeLe16(bytes.data() + 4, std::uint16_t(version));
            ape::writeLe16(bytes.data() + 6, std::uint16_t(level));
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
            const std::size_t common = std::min(ours.size(), theirs.size());
            EXPECT_GE(common, std::size_t(2 * 9216 * 4)) << "too little decoded to compare";
            EXPECT_TRUE(std::equal(ours.begin(), ours.begin() + std::ptrdiff_t(common), theirs.begin()));
            if (rc == 0) {
                EXPECT_EQ(ours.size(), theirs.size());
            }
            std::remove(file.c_str());
        }
    }
}

TEST(LegacyVersions, RangeCodedFramesDecodeLikeFfmpegWithTheirCrcs)
{
    const std::vector<std::uint32_t> frameBlocks = {73728, 5000};
    for (int channels : {1, 2}) {
        for (int version : {3900, 3920}) {
            for (int level : {1000, 2000, 3000, 4000}) {
                SCOPED_TRACE(testing::Message() << channels << " channels, version " << version << " level " << level);
                OldFile file =
                    oldFile(version, level, channels, frameBlocks, std::uint32_t(version + level + channels));
                const std::string name = "legacy-rc-" + std::to_string(channels) + "-" + std::to_string(version) + "-" +
                                         std::to_string(level) + ".ape";
                writeFile(name, file.bytes);
                // ffmpeg does not check CRCs: its PCM gives each frame's CRC, which makes the file whole.
                auto theirs = ffmpegPcm(name);
                const std::size_t blockBytes = std::size_t(channels) * 2;
                ASSERT_EQ(theirs.size(), std::size_t(73728 + 5000) * blockBytes);
                std::size_t at = 0;
                for (std::size_t f = 0; f < frameBlocks.size(); ++f) {
                    ape::Crc32 crc;
                    crc.update(theirs.data() + at, std::size_t(frameBlocks[f]) * blockBytes);
                    at += std::size_t(frameBlocks[f]) * blockBytes;
                    std::uint32_t stored = crc.value() >> 1;
                    for (int k = 0; k < 4; ++k) // the CRC word is stored as a little-endian word
                        file.bytes[file.crcAt[f] + std::size_t(k)] = std::uint8_t(stored >> (8 * k));
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
}

TEST(LegacyVersions, BitStreamFramesOfEveryOldFamilyDecodeLikeFfmpeg)
{
    for (int channels : {1, 2}) {
        for (int version : {3800, 3820, 3850, 3860, 3880}) {
            for (int level : {1000, 2000, 3000, 4000}) {
                SCOPED_TRACE(testing::Message() << channels << " channels, version " << version << " level " << level);
                const std::uint32_t framesBlocks = level >= 4000 ? 73728 : 9216;
                auto bytes = oldBitStreamFile(version, level, channels, {framesBlocks, 3000},
                                              std::uint32_t(version * 7 + level + channels));
                const std::string name = "legacy-bits-" + std::to_string(channels) + "-" + std::to_string(version) +
                                         "-" + std::to_string(level) + ".ape";
                writeFile(name, bytes);
                auto theirs = ffmpegPcm(name);
                ASSERT_EQ(theirs.size(), std::size_t(framesBlocks + 3000) * std::size_t(channels) * 2);
                auto d = ape::Decompressor::open(std::make_unique<ape::MemoryByteSource>(bytes.data(), bytes.size()));
                int rc = -1;
                auto ours = decodeRest(*d, 4096, &rc);
                EXPECT_EQ(rc, 0);
                EXPECT_TRUE(ours == theirs);
                std::remove(name.c_str());
            }
        }
    }
}
