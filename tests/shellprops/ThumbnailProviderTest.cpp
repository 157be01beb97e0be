// apeprops.dll's thumbnail handler as Explorer's thumbnail cache meets it:
// registered with regsvr32, its class found under the .ape file type's
// ShellEx key for thumbnails, created with CoCreateInstance, initialised
// with SHCreateStreamOnFileEx of a file and asked for a bitmap. Truth comes
// from outside: each real file's picture taken out of its tag and decoded
// and scaled by ffmpeg (cover_references.sh, run before the test).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include <propsys.h>
#include <shlwapi.h>
#include <thumbcache.h>

#include "encoder/ApeEncoder.h"
#include "format/TagPicture.h"
#include "support/COMPtr.h"
#include "support/Diagnostics.h"
#include "support/RegistryKey.h"
#include "tests/common/RegistryProbe.h"
#include "tests/common/Regsvr32.h"
#include "tests/monkeysaudio/RegisteredModule.h"
#include "tests/shellprops/FailingStream.h"
#include "tests/shellprops/ShellHandlerAccess.h"

namespace {

using registered::readFile;
using registered::realSample;
using registered::wide;
using registered::writeFile;

const char thumbnailKey[] =
    "Software\\Classes\\SystemFileAssociations\\.ape\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}";
const char classId[] = "{33E92482-654E-4FFA-B2AA-20224BF66FB2}";
const char classKey[] = "Software\\Classes\\CLSID\\{33e92482-654e-4ffa-b2aa-20224bf66fb2}";

std::string directory(const char* path)
{
    std::string text = path;
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
}
std::string modulePath(const std::string& name)
{
    return directory(APEPROPS_MODULE_DIR) + "\\" + name;
}
std::string reference(const std::string& name)
{
    return directory(APESRC_COVER_REFERENCES) + "\\" + name;
}

// A picture drawn by the handler or by ffmpeg: rows from the top, BGRA.
struct Picture {
    UINT width = 0;
    UINT height = 0;
    std::vector<std::uint8_t> pixels;
};

Picture referenceDrawing(const std::string& name, UINT cx)
{
    Picture picture;
    std::ifstream size(reference(name + "-" + std::to_string(cx) + ".size"));
    size >> picture.width >> picture.height;
    picture.pixels = readFile(reference(name + "-" + std::to_string(cx) + ".bgra"));
    EXPECT_EQ(picture.pixels.size(), std::size_t{picture.width} * picture.height * 4) << name;
    return picture;
}

// The bitmap's pixels as GDI reads them out, top row first, whichever way
// the bitmap stores its rows; deletes it.
Picture pixelsOf(HBITMAP bitmap)
{
    DIBSECTION section{};
    EXPECT_EQ(GetObjectW(bitmap, sizeof section, &section), int(sizeof section)) << "not a DIB section";
    EXPECT_EQ(section.dsBm.bmBitsPixel, 32);
    Picture picture;
    picture.width = static_cast<UINT>(section.dsBm.bmWidth);
    picture.height = static_cast<UINT>(section.dsBm.bmHeight);
    BITMAPINFO topDown{};
    topDown.bmiHeader.biSize = sizeof topDown.bmiHeader;
    topDown.bmiHeader.biWidth = static_cast<LONG>(picture.width);
    topDown.bmiHeader.biHeight = -static_cast<LONG>(picture.height);
    topDown.bmiHeader.biPlanes = 1;
    topDown.bmiHeader.biBitCount = 32;
    topDown.bmiHeader.biCompression = BI_RGB;
    picture.pixels.resize(std::size_t{picture.width} * picture.height * 4);
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(GetDIBits(screen, bitmap, 0, picture.height, picture.pixels.data(), &topDown, DIB_RGB_COLORS),
              int(picture.height));
    ReleaseDC(nullptr, screen);
    DeleteObject(bitmap);
    return picture;
}

// Mean absolute difference of the colour channels, or of the alpha channel
// alone, in levels of 255.
double meanDifference(const Picture& a, const Picture& b, bool ofAlpha = false)
{
    double sum = 0;
    std::size_t count = 0;
    for (std::size_t i = 0; i < std::min(a.pixels.size(), b.pixels.size()); ++i) {
        if ((i % 4 == 3) != ofAlpha)
            continue;
        sum += std::abs(int(a.pixels[i]) - int(b.pixels[i]));
        ++count;
    }
    return count ? sum / double(count) : 255.0;
}

// An APEv2 tag (footer only) holding binary items: key, file name, bytes.
struct PictureItem {
    std::string key;
    std::string fileName;
    std::vector<std::uint8_t> bytes;
};
void putLe32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}
std::vector<std::uint8_t> pictureTag(const std::vector<PictureItem>& items)
{
    constexpr std::uint32_t binaryItem = 2;
    std::vector<std::uint8_t> body;
    for (const PictureItem& item : items) {
        putLe32(body, static_cast<std::uint32_t>(item.fileName.size() + 1 + item.bytes.size()));
        putLe32(body, binaryItem);
        body.insert(body.end(), item.key.begin(), item.key.end());
        body.push_back(0);
        body.insert(body.end(), item.fileName.begin(), item.fileName.end());
        body.push_back(0);
        body.insert(body.end(), item.bytes.begin(), item.bytes.end());
    }
    std::vector<std::uint8_t> footer = {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X'};
    putLe32(footer, 2000);
    putLe32(footer, static_cast<std::uint32_t>(body.size() + 32));
    putLe32(footer, static_cast<std::uint32_t>(items.size()));
    putLe32(footer, 0);
    footer.resize(32, 0);
    body.insert(body.end(), footer.begin(), footer.end());
    return body;
}

// A short silent stream with `tag` after it.
std::string writeTaggedFile(const std::string& name, const std::vector<std::uint8_t>& tag)
{
    const std::vector<std::uint8_t> pcm(4096 * 4);
    std::vector<std::uint8_t> file = ape::ApeEncoder(ape::PcmFormat{}, ape::EncoderOptions{}).encode(pcm);
    file.insert(file.end(), tag.begin(), tag.end());
    const std::string path = modulePath(name);
    writeFile(path, file);
    return path;
}

std::vector<std::uint8_t> referencePicture(const std::string& name)
{
    return readFile(reference(name + ".pic"));
}

class ThumbnailProvider : public testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(runRegsvr32(modulePath("apeprops.dll")), 0u); }

    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }
    void TearDown() override
    {
        EXPECT_EQ(registered::moduleCanUnloadNow("apeprops.dll"), S_OK) << "an object of the module is still alive";
        CoUninitialize();
    }

    // The handler Explorer would use for .ape: the class the ShellEx key names.
    static oryx::COMPtr<IInitializeWithStream> createHandler() { return shellhandler::registeredAt(thumbnailKey); }
    static oryx::COMPtr<IStream> fileStream(const std::string& path) { return shellhandler::fileStream(path); }

    struct Drawing {
        HRESULT hr = E_FAIL;
        Picture picture;
        WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
        double seconds = 0;
    };
    // What Explorer's host does: create, Initialize read-only, GetThumbnail.
    static Drawing draw(IStream* stream, UINT cx)
    {
        const auto start = std::chrono::steady_clock::now();
        oryx::COMPtr<IInitializeWithStream> handler = createHandler();
        Drawing drawing;
        drawing.hr = handler->Initialize(stream, STGM_READ);
        if (SUCCEEDED(drawing.hr)) {
            oryx::COMPtr<IThumbnailProvider> provider;
            provider = handler.get();
            HBITMAP bitmap = nullptr;
            drawing.hr = provider->GetThumbnail(cx, &bitmap, &drawing.alpha);
            if (SUCCEEDED(drawing.hr)) {
                drawing.picture = pixelsOf(bitmap);
            } else {
                EXPECT_EQ(bitmap, nullptr) << "a failure handed out a bitmap";
            }
        }
        drawing.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return drawing;
    }
    static Drawing draw(const std::string& path, UINT cx) { return draw(fileStream(path).get(), cx); }

    // The handler's drawing of `path` at `cx` against ffmpeg's of `name`.
    static void expectLikeFfmpeg(const std::string& path, const std::string& name, UINT cx,
                                 WTS_ALPHATYPE alpha = WTSAT_RGB)
    {
        const Drawing drawing = draw(path, cx);
        ASSERT_EQ(drawing.hr, S_OK) << path << " at " << cx;
        const Picture theirs = referenceDrawing(name, cx);
        EXPECT_EQ(drawing.picture.width, theirs.width) << path << " at " << cx;
        EXPECT_EQ(drawing.picture.height, theirs.height) << path << " at " << cx;
        EXPECT_EQ(drawing.alpha, alpha) << path << " at " << cx;
        const double difference = meanDifference(drawing.picture, theirs);
        EXPECT_LT(difference, 4.0) << path << " at " << cx << ": mean difference from ffmpeg's drawing";
        EXPECT_LT(meanDifference(drawing.picture, theirs, true), 1.0) << path << " at " << cx << ": alpha";
        std::printf("%s at %u: %ux%u, mean difference from ffmpeg %.2f, %.3f s\n", name.c_str(), cx,
                    drawing.picture.width, drawing.picture.height, difference, drawing.seconds);
    }
};

// Each real file with a cover draws its front cover at both sizes Explorer
// asks for most; a picture smaller than the size keeps its own.
TEST_F(ThumbnailProvider, RealFilesDrawTheirFrontCoverLikeFfmpegAtBothSizes)
{
    for (UINT cx : {256u, 96u}) {
        expectLikeFfmpeg(realSample("atl-ape.ape"), "atl-front", cx);
        expectLikeFfmpeg(realSample("exiftool-APE.ape"), "exiftool-front", cx);
        expectLikeFfmpeg(realSample("musicmetadata-tagged-36items.ape"), "musicmetadata-front", cx);
    }
}

// "Cover Art (Front)" in any case wins wherever it stands; without it the
// first picture is drawn, a non-square one keeping its aspect, a
// translucent one its alpha.
TEST_F(ThumbnailProvider, TheFrontCoverIsChosenAndAPictureKeepsItsAspectAndAlpha)
{
    const std::vector<std::uint8_t> front = referencePicture("musicmetadata-front");
    const std::vector<std::uint8_t> back = referencePicture("musicmetadata-back");
    const std::string both =
        writeTaggedFile("front-second.ape",
                        pictureTag({{"Cover Art (Back)", "back.png", back}, {"cover art (FRONT)", "f.jpg", front}}));
    expectLikeFfmpeg(both, "musicmetadata-front", 96);
    const std::string backOnly = writeTaggedFile("back-only.ape", pictureTag({{"Cover Art (Back)", "back.png", back}}));
    for (UINT cx : {256u, 96u})
        expectLikeFfmpeg(backOnly, "musicmetadata-back", cx);
    const Drawing large = draw(backOnly, 1000);
    ASSERT_EQ(large.hr, S_OK);
    EXPECT_EQ(large.picture.width, 500u) << "never larger than the picture";
    EXPECT_EQ(large.picture.height, 390u);
    const std::string translucent = writeTaggedFile(
        "translucent.ape", pictureTag({{"Cover Art (Front)", "t.png", referencePicture("translucent")}}));
    for (UINT cx : {256u, 96u})
        expectLikeFfmpeg(translucent, "translucent", cx, WTSAT_ARGB);
}

// No picture: a failure, at once, and no bitmap.
TEST_F(ThumbnailProvider, FilesWithoutAPictureFailQuickly)
{
    for (const std::string& path :
         {realSample("atl-v394.ape"), realSample("picard-test.ape"), realSample("mutagen-mac-390-hdr.ape")}) {
        const Drawing drawing = draw(path, 256);
        EXPECT_TRUE(FAILED(drawing.hr)) << path;
        EXPECT_LT(drawing.seconds, 1.0) << path;
    }
}

// Every hostile picture fails or draws within a few seconds; those whose
// header claims an absurd size are refused before any decoding.
TEST_F(ThumbnailProvider, HostilePicturesFailOrDrawWithinSeconds)
{
    const std::vector<std::uint8_t> jpeg = referencePicture("musicmetadata-front");
    const std::vector<std::uint8_t> png = referencePicture("musicmetadata-back");

    std::vector<std::uint8_t> bomb = jpeg; // its frame header made to claim 60000 x 60000
    for (std::size_t at = 2; at + 9 < bomb.size();) {
        const std::uint8_t marker = bomb[at + 1];
        if (marker >= 0xC0 && marker <= 0xC2) {
            bomb[at + 5] = bomb[at + 7] = 0xEA; // 0xEA60 = 60000
            bomb[at + 6] = bomb[at + 8] = 0x60;
            break;
        }
        at += 2 + std::size_t((bomb[at + 2] << 8) | bomb[at + 3]);
    }
    ASSERT_NE(bomb, jpeg) << "no frame header found";
    std::vector<std::uint8_t> hugePng = png; // IHDR of 100000 x 100000
    for (std::size_t at : {16u, 20u}) {
        hugePng[at] = 0x00;
        hugePng[at + 1] = 0x01;
        hugePng[at + 2] = 0x86;
        hugePng[at + 3] = 0xA0;
    }
    std::vector<std::uint8_t> oversized(ape::TagPicture::sizeLimit + 1, 0);
    std::copy(jpeg.begin(), jpeg.begin() + 64, oversized.begin());
    std::vector<std::uint8_t> garbage(5000);
    for (std::size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<std::uint8_t>(i * 7919 >> 3);

    struct Case {
        const char* name;
        std::vector<std::uint8_t> tag;
        HRESULT refusal; // S_OK: failing and drawing are both fine
    };
    const Case cases[] = {
        {"truncated JPEG", pictureTag({{"Cover Art (Front)", "t.jpg", {jpeg.begin(), jpeg.begin() + jpeg.size() / 2}}}),
         S_OK},
        {"JPEG claiming 60000 x 60000", pictureTag({{"Cover Art (Front)", "b.jpg", bomb}}),
         WINCODEC_ERR_IMAGESIZEOUTOFRANGE},
        {"PNG claiming 100000 x 100000", pictureTag({{"Cover Art (Front)", "h.png", hugePng}}),
         WINCODEC_ERR_IMAGESIZEOUTOFRANGE},
        {"garbage", pictureTag({{"Cover Art (Front)", "g.jpg", garbage}}), WINCODEC_ERR_UNKNOWNIMAGEFORMAT},
        {"picture over 16 MiB", pictureTag({{"Cover Art (Front)", "o.jpg", oversized}}),
         HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE)},
        {"no file name", pictureTag({{"Cover Art (Front)", std::string(70000, 'n'), {}}}),
         HRESULT_FROM_WIN32(ERROR_BAD_FORMAT)},
    };
    for (const Case& c : cases) {
        const Drawing drawing = draw(writeTaggedFile("hostile.ape", c.tag), 256);
        if (c.refusal != S_OK) {
            EXPECT_EQ(drawing.hr, c.refusal) << c.name;
        }
        EXPECT_LT(drawing.seconds, 5.0) << c.name;
        std::printf("%s: 0x%08lX in %.3f s\n", c.name, static_cast<unsigned long>(drawing.hr), drawing.seconds);
    }

    // An item claiming more bytes than the file holds is no item at all.
    std::vector<std::uint8_t> claiming = pictureTag({{"Cover Art (Front)", "c.jpg", jpeg}});
    const std::uint32_t claimed = 0x7FFFFFF0;
    std::copy(reinterpret_cast<const std::uint8_t*>(&claimed), reinterpret_cast<const std::uint8_t*>(&claimed) + 4,
              claiming.begin());
    const Drawing drawing = draw(writeTaggedFile("hostile.ape", claiming), 256);
    EXPECT_TRUE(FAILED(drawing.hr));
    EXPECT_LT(drawing.seconds, 5.0);
}

// The interfaces' rules: one Initialize, read-only, arguments checked, and
// a stream that fails passes its own error on.
TEST_F(ThumbnailProvider, InitializeOnceReadOnlyArgumentsCheckedAndStreamErrorsPassedOn)
{
    const std::string file = realSample("atl-ape.ape");
    {
        oryx::COMPtr<IInitializeWithStream> handler = createHandler();
        oryx::COMPtr<IThumbnailProvider> provider;
        provider = handler.get();
        HBITMAP bitmap = nullptr;
        WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
        EXPECT_EQ(provider->GetThumbnail(96, &bitmap, &alpha), E_UNEXPECTED) << "before Initialize";
        EXPECT_EQ(handler->Initialize(nullptr, STGM_READ), E_POINTER);
        EXPECT_EQ(handler->Initialize(fileStream(file).get(), STGM_READ), S_OK);
        EXPECT_EQ(handler->Initialize(fileStream(file).get(), STGM_READ),
                  HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED));
        EXPECT_EQ(provider->GetThumbnail(96, nullptr, &alpha), E_POINTER);
        EXPECT_EQ(provider->GetThumbnail(96, &bitmap, nullptr), E_POINTER);
        EXPECT_EQ(provider->GetThumbnail(0, &bitmap, &alpha), E_INVALIDARG);
        EXPECT_EQ(bitmap, nullptr);
        // Asked again, the same drawing.
        ASSERT_EQ(provider->GetThumbnail(96, &bitmap, &alpha), S_OK);
        const Picture first = pixelsOf(bitmap);
        ASSERT_EQ(provider->GetThumbnail(96, &bitmap, &alpha), S_OK);
        EXPECT_EQ(pixelsOf(bitmap).pixels, first.pixels);
    }
    {
        oryx::COMPtr<IInitializeWithStream> handler = createHandler();
        EXPECT_EQ(handler->Initialize(fileStream(file).get(), STGM_READWRITE), STG_E_ACCESSDENIED);
        EXPECT_EQ(handler->Initialize(fileStream(file).get(), STGM_READ),
                  HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED));
    }
    for (int goodReads : {0, 1, 2, 3}) {
        oryx::COMPtr<IStream> failing(new FailingStream(fileStream(file).get(), goodReads, STG_E_READFAULT));
        EXPECT_EQ(draw(failing.get(), 96).hr, STG_E_READFAULT) << goodReads << " good reads";
    }
}

// regsvr32 names the class under the file type's ShellEx key for thumbnails;
// another program's handler there is kept and comes back on /u, and one
// that took the key over after us keeps it.
TEST_F(ThumbnailProvider, RegistrationNamesTheClassAndKeepsAnotherProgramsHandler)
{
    const std::string module = modulePath("apeprops.dll");
    EXPECT_EQ(registryprobe::valueOf(thumbnailKey), classId);
    EXPECT_EQ(registryprobe::valueOf(std::string(classKey) + "\\InprocServer32", "ThreadingModel"), "Both");
    EXPECT_EQ(registryprobe::valueOf(classKey, "DisableProcessIsolation"), "<missing>");

    ASSERT_EQ(runRegsvr32(module, true), 0u);
    EXPECT_FALSE(registryprobe::keyExists(thumbnailKey));
    EXPECT_FALSE(registryprobe::keyExists(classKey));

    const char* const other = "{00000000-1111-2222-3333-666666666666}";
    registryprobe::setDefault(thumbnailKey, other);
    ASSERT_EQ(runRegsvr32(module), 0u);
    EXPECT_EQ(registryprobe::valueOf(thumbnailKey), classId);
    ASSERT_EQ(runRegsvr32(module, true), 0u);
    EXPECT_EQ(registryprobe::valueOf(thumbnailKey), other);

    ASSERT_EQ(runRegsvr32(module), 0u);
    registryprobe::setDefault(thumbnailKey, other);
    ASSERT_EQ(runRegsvr32(module, true), 0u);
    EXPECT_EQ(registryprobe::valueOf(thumbnailKey), other);
    registryprobe::deleteTreeIfPresent(thumbnailKey);
    ASSERT_EQ(runRegsvr32(module), 0u);
    EXPECT_EQ(registryprobe::valueOf(thumbnailKey), classId);
}

} // namespace
