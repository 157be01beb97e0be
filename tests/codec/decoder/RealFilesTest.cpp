#include "DecoderTestSupport.h"
#include "apecodec.h"
#include "format/CodecError.h"

#include <gtest/gtest.h>

using namespace apetest;

TEST(RealFiles, EveryGoodFileDecodesToFfmpegsPcm)
{
    int checked = 0;
    for (const Expected& e : expectedFiles()) {
        if (!e.good())
            continue;
        SCOPED_TRACE(e.file);
        auto d = openFile(realFile(e.file));
        EXPECT_EQ(d->totalBlocks(), e.totalBlocks);
        EXPECT_EQ(d->container().channels, e.channels);
        EXPECT_EQ(d->container().bitsPerSample, e.bits);
        int rc = -1;
        auto pcm = decodeRest(*d, 10000, &rc);
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(md5Of(pcm), e.md5);
        ++checked;
    }
    EXPECT_GE(checked, 9);
}

TEST(RealFiles, OddRequestSizesGiveTheSameBytesAsLargeOnes)
{
    auto whole = decodeRest(*openFile(realFile("atl-ape.ape")), 1 << 20);
    for (std::uint32_t chunk : {1u, 4607u, 4609u, 73727u}) {
        SCOPED_TRACE(chunk);
        EXPECT_EQ(decodeRest(*openFile(realFile("atl-ape.ape")), chunk), whole);
    }
}

TEST(RealFiles, TruncatedFileDeliversWhatFfmpegDecodesThenReportsAFrameError)
{
    auto d = openFile(realFile("audioscan-apev1.ape"));
    int rc = 0;
    auto pcm = decodeRest(*d, 4096, &rc);
    EXPECT_EQ(rc, APE_ERROR_DECOMPRESSING_FRAME);
    // ffmpeg stops after 41472 blocks; what we delivered before failing is that prefix.
    ASSERT_LE(pcm.size(), std::size_t(41472) * 4);
    EXPECT_EQ(md5Of(pcm), "5fa807c690f71dda19f811907c132191");
}

TEST(RealFiles, DamagedHeadersAreRejectedWhenOpened)
{
    struct Case {
        const char* file;
        int code;
    };
    for (Case c : {Case{"exiftool-APE.ape", APE_ERROR_INVALID_INPUT_FILE},
                   Case{"mediafile-oldape.ape", APE_ERROR_INVALID_INPUT_FILE},
                   Case{"mutagen-mac-390-hdr.ape", APE_ERROR_INVALID_INPUT_FILE},
                   Case{"taglib-zerodiv.ape", APE_ERROR_UNSUPPORTED_FILE_TYPE},
                   Case{"NOTES.md", APE_ERROR_INVALID_INPUT_FILE}}) {
        SCOPED_TRACE(c.file);
        try {
            openFile(realFile(c.file));
            ADD_FAILURE() << "opened";
        } catch (const ape::CodecError& e) {
            EXPECT_EQ(e.code(), c.code);
        }
    }
}

TEST(RealFiles, AFileThatDoesNotExistIsAnInvalidInputFile)
{
    try {
        openFile(realFile("no-such-file.ape"));
        ADD_FAILURE() << "opened";
    } catch (const ape::CodecError& e) {
        EXPECT_EQ(e.code(), APE_ERROR_INVALID_INPUT_FILE);
    }
}

// The file's only frame is a 16-byte silence frame whose CRC matches the
// silence: the audio is really silent, not missing.
TEST(RealFiles, SilentFrameWithMatchingCrcDecodesToSilence)
{
    auto d = openFile(realFile("mutagen-mac-396.ape"));
    int rc = -1;
    auto pcm = decodeRest(*d, 65536, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(pcm.size(), std::size_t(162496) * 4);
    EXPECT_EQ(std::count(pcm.begin(), pcm.end(), 0), std::ptrdiff_t(pcm.size()));
}
