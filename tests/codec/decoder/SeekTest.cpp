#include "DecoderTestSupport.h"
#include "apecodec.h"

#include <gtest/gtest.h>

#include <random>

using namespace apetest;

namespace {

struct Whole {
    std::vector<std::uint8_t> pcm;
    std::uint32_t align = 0;
    std::uint64_t total = 0;
};

Whole decodeWhole(const std::string& file)
{
    auto d = openFile(realFile(file));
    Whole w;
    w.align = std::uint32_t(d->container().blockAlign());
    w.total = d->totalBlocks();
    w.pcm = decodeRest(*d, 1 << 20);
    return w;
}

std::vector<std::uint8_t> readBlocks(ape::Decompressor& d, std::uint32_t blocks)
{
    std::vector<std::uint8_t> out(std::size_t(blocks) * std::uint32_t(d.container().blockAlign()));
    std::uint32_t got = 0;
    EXPECT_EQ(d.getData(out.data(), blocks, &got), 0);
    out.resize(std::size_t(got) * std::uint32_t(d.container().blockAlign()));
    return out;
}

// Counts the bytes read through it, to tell a seek that decodes from one
// that does not.
class CountingSource : public ape::ByteSource {
public:
    explicit CountingSource(const std::string& path) : file(path) {}
    std::uint64_t size() const override { return file.size(); }
    bool read(std::uint64_t offset, void* out, std::size_t count) override
    {
        bytesRead += count;
        return file.read(offset, out, count);
    }
    std::uint64_t bytesRead = 0;

private:
    ape::FileByteSource file;
};

} // namespace

TEST(Seek, RandomBlocksGiveTheMatchingSliceOfTheWholeDecode)
{
    for (const char* file : {"atl-ape.ape", "atl-v394.ape", "taglib-mac-399-tagged.ape", "waxflow-noise-c4000-s24.ape",
                             "waxflow-noise-c5000-s8.ape"}) {
        SCOPED_TRACE(file);
        Whole w = decodeWhole(file);
        ASSERT_EQ(w.pcm.size(), w.total * w.align);
        auto d = openFile(realFile(file));
        std::mt19937 random(12345);
        for (int i = 0; i < 12; ++i) {
            std::uint64_t block = random() % w.total;
            std::uint32_t count = 1 + random() % 9000;
            ASSERT_EQ(d->seek(block), 0);
            EXPECT_EQ(d->currentBlock(), block);
            auto got = readBlocks(*d, count);
            std::uint64_t expectBlocks = std::min<std::uint64_t>(count, w.total - block);
            ASSERT_EQ(got.size(), expectBlocks * w.align);
            EXPECT_TRUE(std::equal(got.begin(), got.end(), w.pcm.begin() + std::ptrdiff_t(block * w.align)))
                << "block " << block;
        }
    }
}

TEST(Seek, FrameBoundariesAndTheLastBlockAreExact)
{
    Whole w = decodeWhole("atl-ape.ape"); // frames of 73728 blocks
    auto d = openFile(realFile("atl-ape.ape"));
    for (std::uint64_t block :
         {std::uint64_t(73727), std::uint64_t(73728), std::uint64_t(73729), std::uint64_t(4 * 73728), w.total - 1}) {
        SCOPED_TRACE(block);
        ASSERT_EQ(d->seek(block), 0);
        auto got = readBlocks(*d, 3);
        ASSERT_EQ(got.size(), std::min<std::uint64_t>(3, w.total - block) * w.align);
        EXPECT_TRUE(std::equal(got.begin(), got.end(), w.pcm.begin() + std::ptrdiff_t(block * w.align)));
    }
}

TEST(Seek, ToTheTotalEndsTheStreamAndBeyondIsRefusedWithoutMoving)
{
    auto source = std::make_unique<CountingSource>(realFile("picard-test.ape"));
    CountingSource& counted = *source;
    auto d = ape::Decompressor::open(std::move(source));
    const std::uint64_t total = d->totalBlocks();
    ASSERT_EQ(d->seek(100), 0);
    EXPECT_EQ(d->seek(total + 1), APE_ERROR_BAD_PARAMETER);
    EXPECT_EQ(d->currentBlock(), 100u);
    EXPECT_EQ(d->seek(std::uint32_t(-1)), APE_ERROR_BAD_PARAMETER);
    EXPECT_EQ(d->currentBlock(), 100u);
    // The end needs no decoding, so a damaged last frame cannot fail it.
    ASSERT_EQ(d->seek(0), 0);
    const std::uint64_t readBefore = counted.bytesRead;
    EXPECT_EQ(d->seekDecodingLead(total), 0u);
    ASSERT_EQ(d->seek(total), 0);
    EXPECT_EQ(counted.bytesRead, readBefore) << "a seek to the end decoded the last frame";
    EXPECT_EQ(d->currentBlock(), total);
    EXPECT_TRUE(readBlocks(*d, 10).empty());
    ASSERT_EQ(d->seek(0), 0);
    EXPECT_EQ(readBlocks(*d, 10).size(), std::size_t(10) * std::uint32_t(d->container().blockAlign()));
}

TEST(Seek, AfterAFrameErrorAnEarlierPositionDecodesAsBefore)
{
    auto d = openFile(realFile("audioscan-apev1.ape"));
    int rc = 0;
    auto first = decodeRest(*d, 4096, &rc);
    ASSERT_NE(rc, 0);
    // A seek decodes up to its block, so one just past the last good block
    // meets the damage itself, and stays there.
    const std::uint64_t damaged = first.size() / 4 + 1;
    EXPECT_EQ(d->seek(damaged), rc);
    EXPECT_EQ(d->currentBlock(), damaged);
    ASSERT_EQ(d->seek(1000), 0);
    auto again = readBlocks(*d, 2000);
    ASSERT_EQ(again.size(), std::size_t(2000) * 4);
    EXPECT_TRUE(std::equal(again.begin(), again.end(), first.begin() + 1000 * 4));
}

// A player stopped at its clock's position seeks back a second or so behind
// what was decoded, also after its stream started again at the start: that
// is served from memory, without reading the file again. Seeks on within the frame under way, past it and far back still
// give exact data.
TEST(Seek, BackIntoTheLastSecondsReadsNothingAgainAndEveryOtherSeekStaysExact)
{
    Whole w = decodeWhole("atl-ape.ape"); // 44.1 kHz, frames of 73728 blocks
    auto source = std::make_unique<CountingSource>(realFile("atl-ape.ape"));
    CountingSource& counted = *source;
    auto d = ape::Decompressor::open(std::move(source));
    auto expectSlice = [&](std::uint64_t block, std::uint32_t count) {
        SCOPED_TRACE(block);
        auto got = readBlocks(*d, count);
        ASSERT_EQ(got.size(), std::min<std::uint64_t>(count, w.total - block) * w.align);
        EXPECT_TRUE(std::equal(got.begin(), got.end(), w.pcm.begin() + std::ptrdiff_t(block * w.align)));
    };
    ASSERT_EQ(d->seek(80000), 0); // the second frame, decoded from its start
    expectSlice(80000, 60000);
    const std::uint64_t readSoFar = counted.bytesRead;
    for (std::uint64_t back : {139999u, 130000u, 100000u, 73728u, 80000u}) {
        EXPECT_EQ(d->seekDecodingLead(back), 0u);
        ASSERT_EQ(d->seek(back), 0);
        EXPECT_EQ(d->currentBlock(), back);
        expectSlice(back, 2000);
    }
    EXPECT_EQ(counted.bytesRead, readSoFar) << "a seek back into what was decoded read the file again";
    // As a filter does when its stream starts again: to the start, and back
    // to where the clock stood. Reading on past what is held goes on
    // decoding where it stood: at most one more fetch (64 KiB), not the
    // frame's bytes (about 140 KB) again.
    ASSERT_EQ(d->seek(0), 0);
    ASSERT_EQ(d->seek(135000), 0);
    expectSlice(135000, 10000); // to 145000, within the frame
    EXPECT_LE(counted.bytesRead - readSoFar, 64u * 1024) << "decoding started the frame again";
    for (std::uint64_t block : {147000u, 147455u, 147456u, 5u, 73727u, 200000u}) {
        ASSERT_EQ(d->seek(block), 0);
        expectSlice(block, 3000);
    }
    // Far into a frame: the lead is the frame's start, and seeks on within
    // it in steps decode it once, as one seek would, and land exactly.
    const std::uint64_t far = 3 * 73728 + 60000;
    EXPECT_EQ(d->seekDecodingLead(far), 60000u);
    const std::uint64_t readBeforeSteps = counted.bytesRead;
    for (std::uint64_t step = far - 60000 + 7000; step < far; step += 7000) {
        ASSERT_EQ(d->seek(step), 0);
        EXPECT_LE(d->seekDecodingLead(far), far - step);
    }
    ASSERT_EQ(d->seek(far), 0);
    auto oneSeekSource = std::make_unique<CountingSource>(realFile("atl-ape.ape"));
    CountingSource& oneSeek = *oneSeekSource;
    auto plain = ape::Decompressor::open(std::move(oneSeekSource));
    const std::uint64_t opening = oneSeek.bytesRead;
    ASSERT_EQ(plain->seek(far), 0);
    EXPECT_LE(counted.bytesRead - readBeforeSteps, oneSeek.bytesRead - opening + 64 * 1024)
        << "a step started the frame again";
    expectSlice(far, 3000);
    // The end of the stream, reached by reading on from a held block.
    ASSERT_EQ(d->seek(w.total - 10), 0);
    ASSERT_EQ(d->seek(w.total - 4000), 0);
    expectSlice(w.total - 4000, 5000);
}
