// The ten C functions as a caller sees them: results always written, null
// handles refused, tag probing, and reads racing a decode.
#include "DecoderTestSupport.h"
#include "apecodec.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

using namespace apetest;

namespace {

struct Handle {
    APE_DECOMPRESS_HANDLE h = nullptr;
    explicit Handle(const std::string& path)
    {
        int error = -12345;
        h = c_APEDecompress_Create(path.c_str(), &error);
        EXPECT_EQ(error, 0);
    }
    ~Handle() { c_APEDecompress_Destroy(h); }
};

} // namespace

TEST(CodecApi, InterfaceVersionIsServedAndOthersGetAnErrorCode)
{
    EXPECT_EQ(GetInterfaceCompatibility(APE_INTERFACE_VERSION, 1, nullptr), 0);
    EXPECT_NE(GetInterfaceCompatibility(3960, 1, nullptr), 0);
    EXPECT_NE(GetInterfaceCompatibility(0, 0, nullptr), 0);
    EXPECT_EQ(GetVersionNumber(), APE_CODEC_VERSION);
}

TEST(CodecApi, CreateAlwaysWritesTheErrorCode)
{
    int error = -12345;
    EXPECT_EQ(c_APEDecompress_Create(realFile("missing.ape").c_str(), &error), nullptr);
    EXPECT_EQ(error, APE_ERROR_INVALID_INPUT_FILE);
    error = -12345;
    EXPECT_EQ(c_APEDecompress_Create(nullptr, &error), nullptr);
    EXPECT_EQ(error, APE_ERROR_BAD_PARAMETER);
    error = -12345;
    EXPECT_EQ(c_APEDecompress_Create(realFile("taglib-zerodiv.ape").c_str(), &error), nullptr);
    EXPECT_EQ(error, APE_ERROR_UNSUPPORTED_FILE_TYPE);
}

TEST(CodecApi, NullHandlesAndBuffersAreBadParametersAndStillWriteResults)
{
    char buffer[16];
    int delivered = -1;
    EXPECT_EQ(c_APEDecompress_GetData(nullptr, buffer, 1, &delivered), APE_ERROR_BAD_PARAMETER);
    EXPECT_EQ(delivered, 0);
    Handle file(realFile("picard-test.ape"));
    delivered = -1;
    EXPECT_EQ(c_APEDecompress_GetData(file.h, nullptr, 1, &delivered), APE_ERROR_BAD_PARAMETER);
    EXPECT_EQ(delivered, 0);
    EXPECT_EQ(c_APEDecompress_Seek(nullptr, 0), APE_ERROR_BAD_PARAMETER);
    int error = -1;
    c_APEDecompress_GetTag(nullptr, &error);
    EXPECT_EQ(error, APE_ERROR_BAD_PARAMETER);
    EXPECT_EQ(c_APETag_GetFieldSize(nullptr, "Title"), -1);
    c_APEDecompress_Destroy(nullptr);
}

TEST(CodecApi, InfoFieldsDescribeTheFile)
{
    Handle file(realFile("waxflow-noise-c4000-s24.ape"));
    EXPECT_EQ(c_APEDecompress_GetInfo(file.h, APE_INFO_SAMPLE_RATE, 0, 0), 48000);
    EXPECT_EQ(c_APEDecompress_GetInfo(file.h, APE_INFO_BITS_PER_SAMPLE, 0, 0), 24);
    EXPECT_EQ(c_APEDecompress_GetInfo(file.h, APE_INFO_CHANNELS, 0, 0), 2);
    EXPECT_EQ(c_APEDecompress_GetInfo(file.h, APE_INFO_BLOCK_ALIGN, 0, 0), 6);
    EXPECT_EQ(c_APEDecompress_GetInfo(file.h, APE_INFO_TOTAL_BLOCKS, 0, 0), 6000);
    EXPECT_EQ(c_APEDecompress_GetInfo(file.h, APE_INFO_CURRENT_BLOCK, 0, 0), 0);
    std::vector<char> buffer(6 * 100);
    int delivered = 0;
    ASSERT_EQ(c_APEDecompress_GetData(file.h, buffer.data(), 100, &delivered), 0);
    EXPECT_EQ(delivered, 100);
    EXPECT_EQ(c_APEDecompress_GetInfo(file.h, APE_INFO_CURRENT_BLOCK, 0, 0), 100);
}

TEST(CodecApi, TagProbesWithTooSmallBuffersAreNotReportedAsMissing)
{
    Handle file(realFile("atl-ape.ape"));
    int error = -1;
    APE_TAG_HANDLE tag = c_APEDecompress_GetTag(file.h, &error);
    ASSERT_EQ(error, 0);
    char one[1];
    int capacity = 1;
    EXPECT_NE(c_APETag_GetFieldData(tag, "Title", one, &capacity), -1);
    capacity = 1;
    EXPECT_EQ(c_APETag_GetFieldData(tag, "NoSuchField", one, &capacity), -1);
    EXPECT_EQ(c_APETag_GetFieldSize(tag, "NoSuchField"), -1);
    int size = c_APETag_GetFieldSize(tag, "TITLE");
    ASSERT_GT(size, 0);
    std::string exact(std::size_t(size), '\0');
    capacity = size;
    EXPECT_EQ(c_APETag_GetFieldData(tag, "title", exact.data(), &capacity), 0);
    std::string roomy(std::size_t(size) + 1, 'x');
    capacity = size + 1;
    EXPECT_EQ(c_APETag_GetFieldData(tag, "Title", roomy.data(), &capacity), 0);
    EXPECT_EQ(roomy, exact + '\0');
}

TEST(CodecApi, CoverArtLargerThanTheHeldLimitIsReadFromTheFile)
{
    Handle file(realFile("atl-ape.ape"));
    int error = -1;
    APE_TAG_HANDLE tag = c_APEDecompress_GetTag(file.h, &error);
    int size = c_APETag_GetFieldSize(tag, "Cover Art (Front)");
    ASSERT_GT(size, 0);
    std::vector<char> art(static_cast<std::size_t>(size), 0);
    int capacity = size;
    ASSERT_EQ(c_APETag_GetFieldData(tag, "cover art (front)", art.data(), &capacity), 0);
    // A cover-art value is a file name, a NUL, then the image.
    EXPECT_NE(std::find(art.begin(), art.end(), '\0'), art.end());
}

TEST(CodecApi, TagAndPositionReadsDuringDecodingAreConsistentAndLeaveTheOutputExact)
{
    const std::string path = realFile("taglib-mac-399-tagged.ape");
    auto reference = decodeRest(*openFile(path), 1 << 20);
    Handle file(path);
    int error = -1;
    APE_TAG_HANDLE tag = c_APEDecompress_GetTag(file.h, &error);
    const int total = c_APEDecompress_GetInfo(file.h, APE_INFO_TOTAL_BLOCKS, 0, 0);
    const int titleSize = c_APETag_GetFieldSize(tag, "Title");
    ASSERT_GT(titleSize, 0);
    std::string title(std::size_t(titleSize), '\0');
    int capacity = titleSize;
    ASSERT_EQ(c_APETag_GetFieldData(tag, "Title", title.data(), &capacity), 0);

    std::atomic<bool> done{false};
    auto reader = std::async(std::launch::async, [&] {
        int lastBlock = 0, reads = 0;
        bool consistent = true;
        while (!done.load()) {
            int block = c_APEDecompress_GetInfo(file.h, APE_INFO_CURRENT_BLOCK, 0, 0);
            consistent &= block >= lastBlock && block <= total;
            consistent &= c_APEDecompress_GetInfo(file.h, APE_INFO_TOTAL_BLOCKS, 0, 0) == total;
            std::string value(std::size_t(titleSize), '\0');
            int cap = titleSize;
            consistent &= c_APETag_GetFieldData(tag, "Title", value.data(), &cap) == 0 && value == title;
            consistent &= c_APETag_GetFieldSize(tag, "Artist") > 0;
            lastBlock = block;
            ++reads;
        }
        return consistent && reads > 0;
    });
    std::vector<char> pcm, buffer(4 * 1000);
    for (;;) {
        int delivered = 0;
        ASSERT_EQ(c_APEDecompress_GetData(file.h, buffer.data(), 1000, &delivered), 0);
        if (delivered == 0)
            break;
        pcm.insert(pcm.end(), buffer.begin(), buffer.begin() + delivered * 4);
    }
    done = true;
    ASSERT_EQ(reader.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_TRUE(reader.get());
    EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), reference.begin(), reference.end(),
                           [](char a, std::uint8_t b) { return std::uint8_t(a) == b; }));
}
