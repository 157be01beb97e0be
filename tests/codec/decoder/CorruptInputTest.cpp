// Damaged copies of a real file: cut short anywhere, bytes flipped in the
// header, seek table and frames. Every outcome must be a clean error code or
// data, never a crash, hang or read outside the bytes (ASan watches).
#include "DecoderTestSupport.h"
#include "apecodec.h"
#include "format/ByteOrder.h"
#include "format/CodecError.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

using namespace apetest;

namespace {

const std::set<int> allowedCodes = {0,
                                    APE_ERROR_INVALID_INPUT_FILE,
                                    APE_ERROR_INVALID_CHECKSUM,
                                    APE_ERROR_DECOMPRESSING_FRAME,
                                    APE_ERROR_UNSUPPORTED_FILE_TYPE,
                                    APE_ERROR_INPUT_FILE_TOO_LARGE,
                                    APE_ERROR_INSUFFICIENT_MEMORY};

// Opens and decodes everything; returns the first error code (0 if none).
int decodeBytes(const std::vector<std::uint8_t>& bytes)
{
    try {
        auto d = ape::Decompressor::open(std::make_unique<ape::MemoryByteSource>(bytes.data(), bytes.size()));
        int rc = 0;
        decodeRest(*d, 50000, &rc);
        if (rc != 0 && d->totalBlocks() > 0) {
            // Still usable after the error.
            EXPECT_EQ(d->seek(0), 0);
        }
        return rc;
    } catch (const ape::CodecError& e) {
        return e.code();
    }
}

// A file in memory whose reads fail from the n-th on, as a disk or network
// share may after a good start.
class FailingByteSource : public ape::ByteSource {
public:
    FailingByteSource(const std::vector<std::uint8_t>& bytes, int goodReads)
        : bytes(bytes.data(), bytes.size()), left(goodReads)
    {
    }
    std::uint64_t size() const override { return bytes.size(); }
    bool read(std::uint64_t offset, void* out, std::size_t count) override
    {
        ++reads;
        return left-- > 0 && bytes.read(offset, out, count);
    }
    int reads = 0;

private:
    ape::MemoryByteSource bytes;
    int left;
};

} // namespace

TEST(CorruptInput, ReadFailuresWhileOpeningAreReportedAsReadErrors)
{
    // A new-style header and an old one: each reads its header elsewhere.
    for (const char* file : {"picard-test.ape", "atl-v394.ape"}) {
        SCOPED_TRACE(file);
        const auto bytes = readBytes(realFile(file));
        FailingByteSource sound(bytes, INT32_MAX);
        ape::ApeContainer::open(sound);
        ASSERT_GT(sound.reads, 2);
        // Tag reads that fail count as no tag; the header read after them
        // still fails and must say so.
        for (int goodReads = 0; goodReads < sound.reads; ++goodReads) {
            FailingByteSource failing(bytes, goodReads);
            try {
                ape::ApeContainer::open(failing);
                ADD_FAILURE() << "opened with reads failing after " << goodReads;
            } catch (const ape::CodecError& e) {
                EXPECT_EQ(e.code(), APE_ERROR_IO_READ) << "reads failing after " << goodReads << ": " << e.what();
            }
        }
    }
}

TEST(CorruptInput, TruncationAtAnyPointGivesAnErrorNotACrash)
{
    for (const char* file : {"picard-test.ape", "atl-v394.ape", "waxflow-noise-c5000-s8.ape"}) {
        SCOPED_TRACE(file);
        auto bytes = readBytes(realFile(file));
        std::mt19937 random(7);
        std::vector<std::size_t> cuts = {0, 1, 4, 31, 52, 76, 100, bytes.size() - 1};
        for (int i = 0; i < 25; ++i)
            cuts.push_back(random() % bytes.size());
        for (std::size_t cut : cuts) {
            std::vector<std::uint8_t> part(bytes.begin(), bytes.begin() + std::ptrdiff_t(cut));
            int rc = decodeBytes(part);
            EXPECT_TRUE(allowedCodes.count(rc)) << "cut " << cut << " code " << rc;
            if (cut < bytes.size() / 2) {
                EXPECT_NE(rc, 0) << "cut " << cut;
            }
        }
    }
}

TEST(CorruptInput, FlippedBytesAnywhereGiveErrorsOrDataNeverACrash)
{
    for (const char* file : {"picard-test.ape", "atl-v394.ape", "waxflow-noise-c4000-s24.ape"}) {
        SCOPED_TRACE(file);
        auto bytes = readBytes(realFile(file));
        std::mt19937 random(99);
        int errors = 0;
        for (int i = 0; i < 60; ++i) {
            auto copy = bytes;
            // Half of the damage in the first 200 bytes (headers, seek table).
            std::size_t span = (i % 2) ? copy.size() : std::min<std::size_t>(200, copy.size());
            for (int k = 0; k < 3; ++k)
                copy[random() % span] ^= std::uint8_t(1 + random() % 255);
            int rc = decodeBytes(copy);
            EXPECT_TRUE(allowedCodes.count(rc)) << "code " << rc;
            errors += rc != 0;
        }
        EXPECT_GT(errors, 0);
    }
}

TEST(CorruptInput, HugeFrameCountsAndBlockCountsAreRejectedBeforeAllocating)
{
    auto bytes = readBytes(realFile("picard-test.ape"));
    // Header of a 3990 file: blocksperframe at 52+4, totalframes at 52+12.
    auto withField = [&](std::size_t offset, std::uint32_t value) {
        auto copy = bytes;
        ape::writeLe32(copy.data() + offset, value);
        return copy;
    };
    EXPECT_EQ(decodeBytes(withField(52 + 12, 0xFFFFFFFF)), APE_ERROR_INVALID_INPUT_FILE);
    EXPECT_EQ(decodeBytes(withField(52 + 12, 0)), APE_ERROR_INVALID_INPUT_FILE);
    EXPECT_EQ(decodeBytes(withField(52 + 4, 0)), APE_ERROR_INVALID_INPUT_FILE);
    // No compression level writes frames past level 5000's 1,179,648 blocks;
    // a larger claim would make every seek decode that much.
    EXPECT_EQ(decodeBytes(withField(52 + 4, 1179649)), APE_ERROR_INVALID_INPUT_FILE);
    EXPECT_EQ(decodeBytes(withField(52 + 4, 268435447)), APE_ERROR_INVALID_INPUT_FILE);
    EXPECT_EQ(decodeBytes(withField(52 + 4, 1179648)), APE_SUCCESS);
    EXPECT_EQ(decodeBytes(withField(52 + 8, 0xFFFFFFFF)), APE_ERROR_INVALID_INPUT_FILE);
    EXPECT_EQ(decodeBytes(withField(16, 0xFFFFFFF0)), APE_ERROR_INVALID_INPUT_FILE); // seek table length
    EXPECT_EQ(decodeBytes(withField(8, 0xFFFFFFF0)), APE_ERROR_INVALID_INPUT_FILE);  // descriptor length
}
