// The product as a player meets it: apesrc.dll registered with regsvr32 in
// the test prefix, the source created by its class identifier, loaded with
// generated and real files and played through Wine's graph. Decoded audio
// is compared with known truth: the PCM a file was made from, or ffmpeg's
// decoding of a real file.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <dshow.h>
#include <gtest/gtest.h>
#include <mmreg.h>
#include <qnetwork.h>

#include "encoder/ApeEncoder.h"
#include "encoder/ApeTagWriter.h"
#include "com/IUnknownImpl.h"
#include "monkeysaudio/SourceIdentifiers.h"
#include "support/COMPtr.h"
#include "support/RegistryKey.h"
#include "tests/common/Watchdog.h"
#include "tests/monkeysaudio/CaptureGraph.h"
#include "tests/monkeysaudio/RegisteredModule.h"

using oryx::COMPtr;
using namespace registered;

namespace {

struct Generated {
    const char* name;
    ape::PcmFormat format;
    std::uint32_t blocks;
    std::vector<std::uint8_t> pcm;
};

// A tone on the left and noise on the right (so neither channel predicts the
// other), in the layout of a WAV file of the format.
std::vector<std::uint8_t> makePcm(const ape::PcmFormat& format, std::uint32_t blocks)
{
    std::vector<std::uint8_t> pcm;
    std::uint32_t noise = 2024;
    const double scale = std::ldexp(0.35, static_cast<int>(format.bitsPerSample) - 1);
    for (std::uint32_t block = 0; block < blocks; ++block) {
        for (unsigned channel = 0; channel < format.channels; ++channel) {
            noise = noise * 1664525u + 1013904223u;
            const double value =
                channel == 0 ? scale * std::sin(block * 0.029) : scale * ((noise >> 8) / 16777216.0 - 0.5);
            auto sample = static_cast<std::int32_t>(value);
            if (format.bitsPerSample == 8)
                sample += 128;
            for (unsigned byte = 0; byte < format.bitsPerSample / 8; ++byte)
                pcm.push_back(static_cast<std::uint8_t>(sample >> (8 * byte)));
        }
    }
    return pcm;
}

class Source : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // As a user installs it: regsvr32 on the module beside its codec.
        ASSERT_EQ(registerModule(), 0u);

        for (Generated& file : generated) {
            file.pcm = makePcm(file.format, file.blocks);
            ape::ApeEncoder encoder(file.format, ape::EncoderOptions{});
            std::vector<std::uint8_t> bytes = encoder.encode(file.pcm);
            ape::ApeTagWriter tag;
            tag.addText("Artist", "Ensemble \xD0\x9C\xD0\xB8\xD1\x80");
            tag.addText("Title", "\xC3\x89tude");
            tag.addText("Genre", "Test signal");
            tag.addText("Copyright", "");
            const std::vector<std::uint8_t> tagBytes = tag.bytes();
            bytes.insert(bytes.end(), tagBytes.begin(), tagBytes.end());
            writeFile(path(file.name), bytes);
        }
    }

    static std::string path(const std::string& name) { return modulePath(name); }

    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }
    void TearDown() override
    {
        // The module is loaded by class id: its own count must be back at 0.
        EXPECT_EQ(moduleCanUnloadNow(), S_OK) << "an object of the module was left alive";
        CoUninitialize();
    }

    static COMPtr<IBaseFilter> create() { return COMPtr<IBaseFilter>(sourceClassId); }
    static COMPtr<IBaseFilter> load(const std::wstring& name)
    {
        COMPtr<IBaseFilter> source = create();
        COMPtr<IFileSourceFilter> file;
        file = source.get();
        EXPECT_EQ(file->Load(name.c_str(), nullptr), S_OK);
        return source;
    }
    static COMPtr<IPin> output(IBaseFilter& source)
    {
        COMPtr<IPin> pin;
        source.FindPin(L"PCM Output", pin.receive());
        return pin;
    }

    Watchdog watchdog{300'000};
    static std::vector<Generated> generated;
};

std::vector<Generated> Source::generated = {
    {"stereo16.ape", {2, 16, 44100}, 66150, {}},
    {"mono8.ape", {1, 8, 22050}, 30000, {}},
    {"stereo24.ape", {2, 24, 48000}, 50000, {}},
};

TEST_F(Source, IsRegisteredAndCreatedByItsClassIdentifier)
{
    const oryx::RegistryKey server(HKEY_CLASSES_ROOT, "CLSID\\{6E2B9F14-8C3D-4A57-9D21-5F0A7C3E1B92}\\InprocServer32",
                                   KEY_READ);
    EXPECT_EQ(server.string("ThreadingModel"), "Both");
    const oryx::RegistryKey mapper(HKEY_CLASSES_ROOT,
                                   "CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance\\"
                                   "{6E2B9F14-8C3D-4A57-9D21-5F0A7C3E1B92}",
                                   KEY_READ);
    EXPECT_EQ(mapper.string("FriendlyName"), "Monkey's Audio File Source (Tonbrook)");
    const oryx::RegistryKey extension(HKEY_LOCAL_MACHINE, "Software\\Classes\\Media Type\\Extensions\\.ape", KEY_READ);
    EXPECT_EQ(extension.string("Source Filter"), "{6E2B9F14-8C3D-4A57-9D21-5F0A7C3E1B92}");

    COMPtr<IBaseFilter> source = create();
    ASSERT_NE(GetModuleHandleA("apesrc.dll"), nullptr);
    EXPECT_EQ(moduleCanUnloadNow(), S_FALSE) << "a source is alive";
    FILTER_INFO info;
    ASSERT_EQ(source->QueryFilterInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, L"Monkey's Audio Demultiplexer (Tonbrook)");
    COMPtr<IDispatch> dispatch;
    EXPECT_EQ(source->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.receive())), E_NOINTERFACE);
    COMPtr<IAMMediaContent> content;
    content = source.get();
    COMPtr<ISpecifyPropertyPages> pages;
    pages = source.get();
    CAUUID list;
    std::memset(&list, 0xCD, sizeof list); // never initialised by the caller
    ASSERT_EQ(pages->GetPages(&list), S_OK);
    ASSERT_EQ(list.cElems, 1u);
    EXPECT_TRUE(IsEqualGUID(list.pElems[0], sourcePropertyPage));
    CoTaskMemFree(list.pElems);

    // Before any file: no type, no seeking, an empty name and empty texts.
    COMPtr<IFileSourceFilter> file;
    file = source.get();
    LPOLESTR name = nullptr;
    ASSERT_EQ(file->GetCurFile(&name, nullptr), S_OK);
    EXPECT_STREQ(name, L"");
    CoTaskMemFree(name);
    BSTR text = nullptr;
    ASSERT_EQ(content->get_Title(&text), S_OK);
    EXPECT_STREQ(text, L"");
    SysFreeString(text);
    COMPtr<IMediaSeeking> seeking;
    EXPECT_EQ(output(*source)->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(seeking.receive())),
              E_NOINTERFACE);
    EXPECT_EQ(source->Pause(), S_OK) << "an empty source may still change state";
    EXPECT_EQ(source->Stop(), S_OK);
}

TEST_F(Source, LoadsAFileAndDescribesItsFormatLengthAndTag)
{
    COMPtr<IBaseFilter> source = load(wide(path("stereo16.ape")));
    COMPtr<IFileSourceFilter> file;
    file = source.get();
    LPOLESTR name = nullptr;
    AM_MEDIA_TYPE type;
    ASSERT_EQ(file->GetCurFile(&name, &type), S_OK);
    EXPECT_EQ(std::wstring(name), wide(path("stereo16.ape")));
    EXPECT_TRUE(IsEqualGUID(type.subtype, apeStreamSubtype));
    CoTaskMemFree(name);
    // A file that cannot be opened keeps the last name.
    EXPECT_NE(file->Load(wide(path("missing.ape")).c_str(), nullptr), S_OK);
    std::ofstream(path("text.ape")) << "This is not a Monkey's Audio file.\n";
    EXPECT_NE(file->Load(wide(path("text.ape")).c_str(), nullptr), S_OK);
    ASSERT_EQ(file->GetCurFile(&name, nullptr), S_OK);
    EXPECT_EQ(std::wstring(name), wide(path("stereo16.ape")));
    CoTaskMemFree(name);
    ASSERT_EQ(file->Load(wide(path("stereo16.ape")).c_str(), nullptr), S_OK);

    const COMPtr<IPin> pin = output(*source);
    COMPtr<IEnumMediaTypes> types;
    ASSERT_EQ(pin->EnumMediaTypes(types.receive()), S_OK);
    AM_MEDIA_TYPE* offered = nullptr;
    ASSERT_EQ(types->Next(1, &offered, nullptr), S_OK);
    const auto& format = *reinterpret_cast<WAVEFORMATEX*>(offered->pbFormat);
    EXPECT_EQ(format.nChannels, 2);
    EXPECT_EQ(format.nSamplesPerSec, 44100u);
    EXPECT_EQ(format.nBlockAlign, 4);
    EXPECT_EQ(format.nAvgBytesPerSec, 176400u);
    EXPECT_EQ(offered->lSampleSize, 4u);
    EXPECT_EQ(pin->QueryAccept(offered), S_OK);

    // Integer PCM only, with the file's channels, rate and width.
    auto accepts = [&](WORD tag, const GUID& subformat, DWORD rate) {
        WAVEFORMATEXTENSIBLE extensible{};
        extensible.Format = format;
        extensible.Format.wFormatTag = tag;
        extensible.Format.nSamplesPerSec = rate;
        extensible.Format.cbSize = 22;
        extensible.SubFormat = subformat;
        AM_MEDIA_TYPE proposal = *offered;
        proposal.pbFormat = reinterpret_cast<BYTE*>(&extensible);
        proposal.cbFormat = sizeof extensible;
        return pin->QueryAccept(&proposal);
    };
    const GUID pcm = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
    const GUID ieeeFloat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
    EXPECT_EQ(accepts(WAVE_FORMAT_PCM, GUID_NULL, 44100), S_OK);
    EXPECT_EQ(accepts(WAVE_FORMAT_EXTENSIBLE, pcm, 44100), S_OK);
    EXPECT_EQ(accepts(WAVE_FORMAT_IEEE_FLOAT, GUID_NULL, 44100), S_FALSE) << "float would play as noise";
    EXPECT_EQ(accepts(WAVE_FORMAT_EXTENSIBLE, ieeeFloat, 44100), S_FALSE);
    EXPECT_EQ(accepts(WAVE_FORMAT_PCM, GUID_NULL, 48000), S_FALSE);
    CoTaskMemFree(offered->pbFormat);
    CoTaskMemFree(offered);

    COMPtr<IMediaSeeking> seeking;
    seeking = pin.get();
    LONGLONG value = 0;
    EXPECT_EQ(seeking->GetDuration(&value), S_OK);
    EXPECT_EQ(value, 15'000'000) << "66150 blocks at 44100 a second";
    ASSERT_EQ(seeking->SetTimeFormat(&TIME_FORMAT_SAMPLE), S_OK);
    EXPECT_EQ(seeking->GetDuration(&value), S_OK);
    EXPECT_EQ(value, 66150);

    COMPtr<IAMMediaContent> content;
    content = source.get();
    struct Text {
        HRESULT (STDMETHODCALLTYPE IAMMediaContent::*getter)(BSTR*);
        const wchar_t* expected;
    };
    for (const Text& t :
         {Text{&IAMMediaContent::get_AuthorName, L"Ensemble \u041C\u0438\u0440"},
          Text{&IAMMediaContent::get_Title, L"\u00C9tude"}, Text{&IAMMediaContent::get_Rating, L"Test signal"},
          Text{&IAMMediaContent::get_Copyright, L""}, Text{&IAMMediaContent::get_Description, L""},
          Text{&IAMMediaContent::get_LogoURL, L""}}) {
        BSTR text = nullptr;
        ASSERT_EQ((content.get()->*t.getter)(&text), S_OK);
        EXPECT_STREQ(text, t.expected);
        SysFreeString(text);
    }
    BSTR text = nullptr;
    EXPECT_EQ(content->get_MoreInfoText(&text), E_NOTIMPL);
}

TEST_F(Source, PlaysGeneratedFilesBitExactlyWholeAndAfterSeeks)
{
    std::mt19937 random(7);
    for (const Generated& file : generated) {
        SCOPED_TRACE(file.name);
        COMPtr<IBaseFilter> source = load(wide(path(file.name)));
        CaptureGraph capture(source.get());
        ASSERT_TRUE(capture.connected);
        ASSERT_EQ(capture.play(), EC_COMPLETE);
        EXPECT_TRUE(capture.bytes() == file.pcm) << "the whole file";
        const std::vector<CapturedSample> samples = capture.samples();
        ASSERT_FALSE(samples.empty());
        EXPECT_TRUE(samples[0].discontinuity);
        EXPECT_EQ(samples[0].mediaStop, 2000) << "2000 blocks a buffer";
        EXPECT_EQ(samples.size(), (file.blocks + 1999) / 2000) << "the last one short";

        for (int i = 0; i < 4; ++i) {
            const LONGLONG target =
                std::uniform_int_distribution<LONGLONG>(0, file.blocks * 10'000'000LL / file.format.sampleRate)(random);
            const std::int64_t block = target * file.format.sampleRate / 10'000'000;
            ASSERT_EQ(capture.seekTo(target), S_OK);
            ASSERT_EQ(capture.play(), EC_COMPLETE);
            const std::vector<std::uint8_t> tail(file.pcm.begin() + block * file.format.blockAlign(), file.pcm.end());
            EXPECT_TRUE(capture.bytes() == tail) << "after a seek to block " << block;
            const std::vector<CapturedSample> after = capture.samples();
            if (after.size() > 1) {
                EXPECT_TRUE(after[0].discontinuity);
                EXPECT_EQ(after[0].mediaStart, 0);
                EXPECT_EQ(after[1].mediaStart, 2000);
                EXPECT_EQ(after[0].timeStop, 2000 * 10'000'000LL / file.format.sampleRate);
            }
        }
    }
}

TEST_F(Source, OpensFilesWhoseNamesLieOutsideTheCodePage)
{
    const std::vector<std::uint8_t>& expected = generated[1].pcm;
    for (const std::wstring name :
         {L"\u041C\u0443\u0437\u044B\u043A\u0430.ape", L"\u97F3\u697D\u30D5\u30A1\u30A4\u30EB.ape"}) {
        const std::wstring full = wide(moduleDirectory()) + L"\\" + name;
        ASSERT_TRUE(CopyFileW(wide(path("mono8.ape")).c_str(), full.c_str(), FALSE));
        COMPtr<IBaseFilter> source = load(full);
        CaptureGraph capture(source.get());
        ASSERT_TRUE(capture.connected);
        ASSERT_EQ(capture.play(), EC_COMPLETE);
        EXPECT_TRUE(capture.bytes() == expected);
        COMPtr<IFileSourceFilter> file;
        file = source.get();
        LPOLESTR reported = nullptr;
        ASSERT_EQ(file->GetCurFile(&reported, nullptr), S_OK);
        EXPECT_EQ(std::wstring(reported), full) << "the name as given, not its short form";
        CoTaskMemFree(reported);
    }
}

TEST_F(Source, RendersThroughDirectSoundToTheEnd)
{
    COMPtr<IBaseFilter> source = load(wide(path("mono8.ape")));
    const COMPtr<IGraphBuilder> graph(CLSID_FilterGraph);
    ASSERT_EQ(graph->AddFilter(source.get(), L"Source"), S_OK);
    ASSERT_EQ(graph->Render(output(*source).get()), S_OK);
    COMPtr<IMediaControl> control;
    control = graph.get();
    COMPtr<IMediaEventEx> events;
    events = graph.get();
    // The next event, EC_COMPLETE or an abort; 0 when none came in 30 s.
    auto streamEnd = [&] {
        long code = 0;
        for (int i = 0; i < 600 && code != EC_COMPLETE && code != EC_ERRORABORT; ++i) {
            LONG_PTR first;
            LONG_PTR second;
            if (events->GetEvent(&code, &first, &second, 50) == S_OK)
                events->FreeEventParams(code, first, second);
            else
                code = 0;
        }
        return code;
    };
    ASSERT_HRESULT_SUCCEEDED(control->Run());
    EXPECT_EQ(streamEnd(), EC_COMPLETE);
    // The graph's clock runs on past the end; its Stop then seeks to where
    // the clock says playback is, past the file, and the next start plays
    // from the end rather than failing. A start without that seek would
    // rewind to the beginning.
    Sleep(300);
    ASSERT_HRESULT_SUCCEEDED(control->Pause());
    ASSERT_EQ(control->Stop(), S_OK);
    ASSERT_HRESULT_SUCCEEDED(control->Run());
    COMPtr<IMediaSeeking> sourceSeeking;
    ASSERT_EQ(output(*source)->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(sourceSeeking.receive())),
              S_OK);
    LONGLONG position = 0;
    LONGLONG end = 0;
    ASSERT_EQ(sourceSeeking->GetCurrentPosition(&position), S_OK);
    ASSERT_EQ(sourceSeeking->GetDuration(&end), S_OK);
    EXPECT_EQ(position, end) << "the graph's Stop did not seek past the end";
    EXPECT_EQ(streamEnd(), EC_COMPLETE);
    // A second file while playing replaces the first.
    ASSERT_HRESULT_SUCCEEDED(control->Run());
    COMPtr<IFileSourceFilter> file;
    file = source.get();
    EXPECT_EQ(file->Load(wide(path("mono8.ape")).c_str(), nullptr), S_OK);
    EXPECT_EQ(control->Stop(), S_OK);
}

TEST_F(Source, DamagedFilesFailToLoadOrEndWithAnError)
{
    struct Case {
        const char* name;
        bool opens;
    };
    for (const Case c :
         {Case{"audioscan-apev1.ape", true}, Case{"exiftool-APE.ape", false}, Case{"mediafile-oldape.ape", false},
          Case{"mutagen-mac-390-hdr.ape", false}, Case{"taglib-zerodiv.ape", false}}) {
        SCOPED_TRACE(c.name);
        COMPtr<IBaseFilter> source = create();
        COMPtr<IFileSourceFilter> file;
        file = source.get();
        const HRESULT loaded = file->Load(wide(realSample(c.name)).c_str(), nullptr);
        EXPECT_EQ(SUCCEEDED(loaded), c.opens);
        if (FAILED(loaded))
            continue;
        CaptureGraph capture(source.get());
        ASSERT_TRUE(capture.connected);
        // Cut short inside a frame: what precedes the damage plays, then the
        // player hears of the error instead of waiting for ever.
        EXPECT_EQ(capture.play(), EC_ERRORABORT);
        EXPECT_TRUE(FAILED(capture.abortResult));
        EXPECT_EQ(md5(capture.bytes()), "5fa807c690f71dda19f811907c132191") << "ffmpeg's 41,472 blocks";
    }
}

} // namespace

namespace {

// The longest a call took, in milliseconds, across threads.
struct LongestCall {
    std::atomic<long long> microseconds{0};
    template <typename Call>
    HRESULT time(Call call)
    {
        const auto start = std::chrono::steady_clock::now();
        const HRESULT hr = call();
        const long long took =
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
        for (long long seen = microseconds; took > seen && !microseconds.compare_exchange_weak(seen, took);) {
        }
        return hr;
    }
    double milliseconds() const { return microseconds / 1000.0; }
};

} // namespace

// Frames of level 5000 hold 1,179,648 blocks (27 s at 44.1 kHz); a seek far
// into one decodes it up to there. Meanwhile the state and the pin's queries
// answer, a Stop cuts the decoding short, and every seek still lands.
TEST_F(Source, QueriesAnswerAndStopCutsShortWhileASeekDecodesALongFrame)
{
    const ape::PcmFormat format{1, 16, 44100};
    constexpr std::uint32_t blocks = 32 * 44100;
    ape::EncoderOptions options;
    options.level = 5000;
    writeFile(path("long5000.ape"), ape::ApeEncoder(format, options).encode(makePcm(format, blocks)));
    COMPtr<IBaseFilter> source = load(wide(path("long5000.ape")));
    CaptureGraph capture(source.get());
    ASSERT_TRUE(capture.connected);
    capture.keepBytes = false;
    COMPtr<IMediaSeeking> pinSeeking;
    ASSERT_EQ(output(*source)->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(pinSeeking.receive())), S_OK);
    constexpr LONGLONG second = 10'000'000;

    for (const bool running : {false, true}) {
        SCOPED_TRACE(running ? "running" : "paused");
        ASSERT_HRESULT_SUCCEEDED(running ? capture.control->Run() : capture.control->Pause());
        std::atomic<bool> seeking{true};
        std::atomic<int> seeks{0};
        std::atomic<int> failedSeeks{0};
        std::thread seeker([&] {
            std::mt19937 random(running ? 2 : 1);
            for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
                 std::chrono::steady_clock::now() < until; ++seeks) {
                // Back and forth between the frame's start and its far end.
                LONGLONG target = (seeks % 2 == 0 ? 20 + random() % 6 : random() % 2) * second;
                if (FAILED(capture.seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr,
                                                         AM_SEEKING_NoPositioning)))
                    ++failedSeeks;
            }
            seeking = false;
        });
        LongestCall state;
        LongestCall queries;
        int asked = 0;
        while (seeking) {
            FILTER_STATE current;
            EXPECT_EQ(state.time([&] { return source->GetState(0, &current); }), S_OK);
            LONGLONG value = 0;
            EXPECT_EQ(queries.time([&] { return pinSeeking->GetCurrentPosition(&value); }), S_OK);
            EXPECT_EQ(queries.time([&] { return pinSeeking->GetDuration(&value); }), S_OK);
            COMPtr<IMediaSeeking> again;
            EXPECT_EQ(queries.time([&] {
                return output(*source)->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(again.receive()));
            }),
                      S_OK);
            ++asked;
            Sleep(1);
        }
        seeker.join();
        std::printf("%s: %d seeks, %d rounds of queries; longest GetState(0) %.1f ms, longest pin query %.1f ms\n",
                    running ? "running" : "paused", seeks.load(), asked, state.milliseconds(), queries.milliseconds());
        EXPECT_EQ(failedSeeks, 0);
        EXPECT_GT(seeks, 4);
        // A whole frame's decoding takes hundreds of milliseconds here.
        EXPECT_LT(state.milliseconds(), 100);
        EXPECT_LT(queries.milliseconds(), 100);
        ASSERT_EQ(capture.control->Stop(), S_OK);
    }

    // Stop meets a seek to the frame's far end from its start.
    ASSERT_HRESULT_SUCCEEDED(capture.control->Pause());
    LONGLONG start = 0;
    ASSERT_EQ(pinSeeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    std::atomic<bool> seekReturned{false};
    std::thread seeker([&] {
        LONGLONG target = 26 * second;
        EXPECT_EQ(pinSeeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
        seekReturned = true;
    });
    Sleep(30);
    const bool seekWasUnderWay = !seekReturned;
    LongestCall stop;
    EXPECT_EQ(stop.time([&] { return source->Stop(); }), S_OK);
    seeker.join();
    std::printf("Stop during a seek: %.1f ms (the seek was %s)\n", stop.milliseconds(),
                seekWasUnderWay ? "under way" : "already done");
    EXPECT_LT(stop.milliseconds(), 100);
    // A seek cut short is kept: the next start plays from its target. One
    // that ended first (a loaded machine may wake us that late) is spent, and
    // a start from Stopped plays from the beginning.
    ASSERT_EQ(capture.play(), EC_COMPLETE);
    const std::vector<CapturedSample> samples = capture.samples();
    LONGLONG played = 0;
    for (const CapturedSample& sample : samples)
        played += sample.length / 2;
    EXPECT_EQ(played, seekWasUnderWay ? blocks - 26 * 44100 : blocks);
}

// A damaged last frame cannot fail a seek to the end or past it: nothing is
// left to decode there, and the stream simply ends.
TEST_F(Source, SeeksToTheEndOfAFileWithADamagedLastFrameEndCleanly)
{
    const Generated& good = generated[0];
    std::ifstream in(path(good.name), std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    const char tagMark[] = "APETAGEX";
    const auto tag = std::search(bytes.begin(), bytes.end(), tagMark, tagMark + 8);
    ASSERT_GT(tag - bytes.begin(), 3000);
    *(tag - 3000) ^= 0x5A;
    writeFile(path("damaged-end.ape"), bytes);

    COMPtr<IBaseFilter> source = load(wide(path("damaged-end.ape")));
    CaptureGraph capture(source.get());
    ASSERT_TRUE(capture.connected);
    ASSERT_EQ(capture.play(), EC_ERRORABORT) << "the damage is not where a frame's decoding meets it";
    const LONGLONG duration = good.blocks * 10'000'000LL / good.format.sampleRate;
    for (const LONGLONG target : {duration, duration + 1, duration + 20'000'000}) {
        SCOPED_TRACE(target);
        ASSERT_EQ(capture.seekTo(target), S_OK);
        EXPECT_EQ(capture.play(), EC_COMPLETE);
        EXPECT_TRUE(capture.bytes().empty());
    }
}
