// apemf.dll as Media Foundation meets it: registered with regsvr32, found by
// Wine's source resolver through the byte-stream handler keys (by extension
// for a URL, by MIME type for a byte stream over memory), read through the
// source reader, and driven directly through its handler and source. Truth
// comes from outside: the encoder's input for the generated corpus, ffmpeg's
// md5 for the real files.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <propkey.h>
#include <propsys.h>
#include <shlwapi.h>

#include "CorpusPlan.h"
#include "format/ContainerLayout.h"
#include "mediafoundation/ByteStreamHandlerInterface.h"
#include "mediafoundation/MediaFoundationIdentifiers.h"
#include "support/COMPtr.h"
#include "support/RegistryKey.h"
#include "tests/common/ConcurrentRun.h"
#include "tests/common/DamagedCopies.h"
#include "tests/common/Watchdog.h"
#include "tests/mediafoundation/FaultyByteStream.h"
#include "tests/mediafoundation/MediaFoundationTest.h"
#include "tests/mediafoundation/TestCallback.h"
#include "tests/monkeysaudio/RegisteredModule.h"

// Exported by mfplat, not declared by MinGW-w64's headers.
extern "C" HRESULT WINAPI MFCreateMFByteStreamOnStream(IStream* stream, IMFByteStream** byteStream);

using oryx::COMPtr;
using namespace mftest;
using namespace registered;

namespace {

constexpr int seeksPerFile = 6;
constexpr std::size_t bytesAfterSeek = 64 * 1024; // compared after each seek
const char handlersKey[] = "SOFTWARE\\Microsoft\\Windows Media Foundation\\ByteStreamHandlers\\";
const char* const handlerKeys[] = {".ape", "audio/ape", "audio/x-ape"};
const char classIdText[] = "{5847B50A-C1AF-4075-B2D2-D8D58B15E25D}";

COMPtr<IMFByteStream> memoryByteStream(const std::vector<std::uint8_t>& bytes, const wchar_t* contentType)
{
    // SHCreateMemStream returns the stream with its reference.
    IStream* raw = SHCreateMemStream(bytes.data(), static_cast<UINT>(bytes.size()));
    EXPECT_NE(raw, nullptr);
    COMPtr<IMFByteStream> stream;
    EXPECT_EQ(MFCreateMFByteStreamOnStream(raw, stream.receive()), S_OK);
    raw->Release();
    if (stream && contentType) {
        COMPtr<IMFAttributes> attributes;
        attributes = stream.get();
        EXPECT_EQ(attributes->SetString(MF_BYTESTREAM_CONTENT_TYPE, contentType), S_OK);
    }
    return stream;
}

// The native type and the duration a reader of `truth`'s file must show.
void expectFormat(IMFSourceReader& reader, const Truth& truth, std::uint64_t blocks)
{
    COMPtr<IMFMediaType> type;
    ASSERT_EQ(reader.GetNativeMediaType(MF_SOURCE_READER_FIRST_AUDIO_STREAM, 0, type.receive()), S_OK);
    GUID major{}, subtype{};
    EXPECT_EQ(type->GetGUID(MF_MT_MAJOR_TYPE, &major), S_OK);
    EXPECT_EQ(type->GetGUID(MF_MT_SUBTYPE, &subtype), S_OK);
    EXPECT_TRUE(IsEqualGUID(major, MFMediaType_Audio));
    EXPECT_TRUE(IsEqualGUID(subtype, MFAudioFormat_PCM));
    UINT32 rate = 0, align = 0, perSecond = 0, channels = 0, bits = 0;
    EXPECT_EQ(type->GetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, &rate), S_OK);
    EXPECT_EQ(type->GetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, &align), S_OK);
    EXPECT_EQ(type->GetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, &perSecond), S_OK);
    EXPECT_EQ(type->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &channels), S_OK);
    EXPECT_EQ(type->GetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, &bits), S_OK);
    EXPECT_EQ(rate, truth.rate);
    EXPECT_EQ(align, truth.blockAlign);
    EXPECT_EQ(perSecond, truth.blockAlign * truth.rate);
    EXPECT_EQ(channels * bits / 8, truth.blockAlign);
    PROPVARIANT duration;
    PropVariantInit(&duration);
    EXPECT_EQ(reader.GetPresentationAttribute(MF_SOURCE_READER_MEDIASOURCE, MF_PD_DURATION, &duration), S_OK);
    EXPECT_EQ(duration.vt, VT_UI8);
    EXPECT_EQ(static_cast<std::int64_t>(duration.uhVal.QuadPart), timeOf(blocks, truth.rate));
    PropVariantClear(&duration);
}

// Whole, then from seeded positions: every byte and every time stamp.
void expectExactSeeks(IMFSourceReader& reader, const Truth& truth, std::mt19937& random)
{
    const std::uint64_t blocks = truth.pcm.size() / truth.blockAlign;
    for (int i = 0; i < seeksPerFile; ++i) {
        const std::int64_t time = std::uniform_int_distribution<std::int64_t>(0, timeOf(blocks, truth.rate))(random);
        const std::uint64_t block = std::min<std::uint64_t>(blockNearest(time, truth.rate), blocks);
        SCOPED_TRACE("seek to " + std::to_string(time) + " (block " + std::to_string(block) + ")");
        PROPVARIANT position;
        PropVariantInit(&position);
        position.vt = VT_I8;
        position.hVal.QuadPart = time;
        ASSERT_EQ(reader.SetCurrentPosition(GUID_NULL, position), S_OK);
        const Reading part = readSamples(reader, block, truth, bytesAfterSeek);
        EXPECT_EQ(part.status, S_OK);
        EXPECT_TRUE(part.timesExact);
        const std::size_t offset = block * truth.blockAlign;
        const std::size_t expected = std::min(truth.pcm.size() - offset, part.pcm.size());
        ASSERT_GE(part.pcm.size(), std::min(truth.pcm.size() - offset, bytesAfterSeek));
        EXPECT_TRUE(std::equal(part.pcm.begin(), part.pcm.begin() + static_cast<std::ptrdiff_t>(expected),
                               truth.pcm.begin() + static_cast<std::ptrdiff_t>(offset)))
            << "the reading after the seek differs";
    }
}

void expectExactReadingAndSeeks(IMFSourceReader& reader, const Truth& truth, std::mt19937& random)
{
    expectFormat(reader, truth, truth.pcm.size() / truth.blockAlign);
    const Reading whole = readSamples(reader, 0, truth);
    EXPECT_EQ(whole.status, S_OK);
    EXPECT_TRUE(whole.ended);
    EXPECT_TRUE(whole.timesExact);
    ASSERT_EQ(whole.pcm.size(), truth.pcm.size());
    EXPECT_TRUE(whole.pcm == truth.pcm) << "the whole reading differs";
    expectExactSeeks(reader, truth, random);
}

// An IMFAsyncCallback that records the result it is invoked with.
class Completion final : public TestCallback<IMFAsyncCallback> {
public:
    Completion() : done(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Completion() override { CloseHandle(done); }
    bool answers(REFIID iid) const override { return IsEqualIID(iid, IID_IMFAsyncCallback); }
    STDMETHODIMP GetParameters(DWORD*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(IMFAsyncResult* invoked) override
    {
        result = invoked;
        SetEvent(done);
        return S_OK;
    }
    // The result, or null when no call came within ten seconds. Handed
    // over, since the result holds this callback.
    COMPtr<IMFAsyncResult> wait()
    {
        return WaitForSingleObject(done, 10'000) == WAIT_OBJECT_0 ? std::move(result) : COMPtr<IMFAsyncResult>();
    }

private:
    HANDLE done;
    COMPtr<IMFAsyncResult> result;
};

// The handler's answer for `stream`: EndCreateObject's HRESULT, and the
// source in *source on success.
HRESULT createSource(IMFByteStream* stream, COMPtr<IMFMediaSource>* source = nullptr,
                     DWORD flags = MF_RESOLUTION_MEDIASOURCE)
{
    COMPtr<IMFByteStreamHandler> handler(byteStreamHandlerClassId);
    COMPtr<Completion> completion(new Completion);
    COMPtr<IUnknown> cookie;
    HRESULT hr =
        handler->BeginCreateObject(stream, L"memory.ape", flags, nullptr, cookie.receive(), completion.get(), nullptr);
    if (SUCCEEDED(hr)) {
        COMPtr<IMFAsyncResult> result = completion->wait();
        EXPECT_TRUE(result) << "the handler never called back";
        MF_OBJECT_TYPE type = MF_OBJECT_INVALID;
        COMPtr<IUnknown> object;
        hr = result ? handler->EndCreateObject(result.get(), &type, object.receive()) : E_ABORT;
        EXPECT_EQ(type, SUCCEEDED(hr) ? MF_OBJECT_MEDIASOURCE : MF_OBJECT_INVALID);
        EXPECT_EQ(!object, FAILED(hr));
        if (source && object)
            *source = object.get();
        else if (object) {
            COMPtr<IMFMediaSource> made;
            made = object.get();
            made->Shutdown();
        }
    }
    return hr;
}

// The next event of `generator` within `patience` milliseconds: its type,
// status, value (cleared by the caller) and event; type MEUnknown and
// status MF_E_NO_EVENTS_AVAILABLE when none came. Samples are answered on
// the source's work queue, so a test waits for them.
struct Event {
    MediaEventType type = MEUnknown;
    HRESULT status = E_FAIL;
    PROPVARIANT value{};
    COMPtr<IMFMediaEvent> event;
};
Event nextEvent(IMFMediaEventGenerator& generator, DWORD patience = 10'000)
{
    Event event;
    const ULONGLONG deadline = GetTickCount64() + patience;
    HRESULT hr;
    while ((hr = generator.GetEvent(MF_EVENT_FLAG_NO_WAIT, event.event.receive())) == MF_E_NO_EVENTS_AVAILABLE &&
           GetTickCount64() < deadline)
        Sleep(1);
    if (FAILED(hr)) {
        event.status = hr;
        return event;
    }
    event.event->GetType(&event.type);
    event.event->GetStatus(&event.status);
    PropVariantInit(&event.value);
    event.event->GetValue(&event.value);
    return event;
}

MediaEventType nextType(IMFMediaEventGenerator& generator, DWORD patience = 10'000)
{
    Event event = nextEvent(generator, patience);
    PropVariantClear(&event.value);
    return event.type;
}

// Long enough for a source that wrongly sends an event to have sent it.
constexpr DWORD quietWhile = 300;

// The stream the Start just made announced with MENewStream.
COMPtr<IMFMediaStream> announcedStream(IMFMediaSource& source)
{
    Event announced = nextEvent(source);
    EXPECT_EQ(announced.type, MENewStream);
    COMPtr<IMFMediaStream> stream;
    if (announced.value.vt == VT_UNKNOWN)
        stream = announced.value.punkVal;
    PropVariantClear(&announced.value);
    return stream;
}

// Starts `source` and requests samples until its stream ends: the statuses
// of the MEError events on the stream before MEEndOfStream; {E_ABORT} when
// no end came within a bound of requests.
std::vector<HRESULT> errorsUntilTheEnd(IMFMediaSource& source)
{
    COMPtr<IMFPresentationDescriptor> presentation;
    EXPECT_EQ(source.CreatePresentationDescriptor(presentation.receive()), S_OK);
    PROPVARIANT current;
    PropVariantInit(&current);
    EXPECT_EQ(source.Start(presentation.get(), nullptr, &current), S_OK);
    COMPtr<IMFMediaStream> stream = announcedStream(source);
    if (!stream)
        return {E_ABORT};
    std::vector<HRESULT> errors;
    for (int request = 0; request < 100'000; ++request) {
        if (FAILED(stream->RequestSample(nullptr)))
            return {E_ABORT};
        // Each request is answered by a sample, or by the end.
        for (MediaEventType type = MEUnknown; type != MEMediaSample;) {
            Event event = nextEvent(*stream);
            PropVariantClear(&event.value);
            type = event.type;
            if (type == MEError)
                errors.push_back(event.status);
            else if (type == MEEndOfStream)
                return errors;
            else if (type == MEUnknown)
                return {E_ABORT};
        }
    }
    return {E_ABORT};
}

class MediaSource : public MediaFoundationTest {};

TEST_F(MediaSource, RegistrationNamesTheHandlerForTheExtensionAndBothMimeTypesAndUnregistrationRemovesIt)
{
    auto named = [](const char* key) {
        oryx::RegistryKey handlers;
        if (!handlers.open(HKEY_LOCAL_MACHINE, std::string(handlersKey) + key, KEY_READ))
            return std::string("<no key>");
        return handlers.valueExists(classIdText) ? handlers.string(classIdText) : std::string("<no value>");
    };
    // From a known start: no handler keys, then this module's registration.
    EXPECT_EQ(runRegsvr32(modulePath("apemf.dll"), true), 0u);
    for (const char* key : handlerKeys) {
        oryx::RegistryKey handlers;
        if (handlers.open(HKEY_LOCAL_MACHINE, handlersKey, KEY_ALL_ACCESS) &&
            oryx::RegistryKey::keyExists(handlers.handle(), key))
            handlers.deleteTree(key);
    }
    EXPECT_EQ(runRegsvr32(modulePath("apemf.dll")), 0u);
    for (const char* key : handlerKeys)
        EXPECT_EQ(named(key), "Monkey's Audio byte stream handler") << key;
    EXPECT_EQ(runRegsvr32(modulePath("apemf.dll"), true), 0u);
    for (const char* key : handlerKeys) {
        EXPECT_EQ(named(key), "<no key>") << key;
    }
    EXPECT_FALSE(oryx::RegistryKey::keyExists(HKEY_CLASSES_ROOT, std::string("CLSID\\") + classIdText));
    // A key another handler shares keeps its other values.
    {
        oryx::RegistryKey shared;
        shared.create(HKEY_LOCAL_MACHINE, std::string(handlersKey) + "audio/ape");
        shared.setString("{00000000-0000-0000-0000-000000000001}", "another handler");
    }
    EXPECT_EQ(runRegsvr32(modulePath("apemf.dll")), 0u);
    EXPECT_EQ(runRegsvr32(modulePath("apemf.dll"), true), 0u);
    EXPECT_EQ(named("audio/ape"), "<no value>");
    {
        oryx::RegistryKey shared(HKEY_LOCAL_MACHINE, std::string(handlersKey) + "audio/ape", KEY_ALL_ACCESS);
        EXPECT_TRUE(shared.valueExists("{00000000-0000-0000-0000-000000000001}"));
        shared.deleteValue("{00000000-0000-0000-0000-000000000001}");
    }
    // The key was there before us, empty now: not ours to delete either.
    EXPECT_EQ(runRegsvr32(modulePath("apemf.dll")), 0u);
    EXPECT_EQ(runRegsvr32(modulePath("apemf.dll"), true), 0u);
    EXPECT_EQ(named("audio/ape"), "<no value>");
    EXPECT_EQ(named(".ape"), "<no key>") << "a key registration made goes";
    EXPECT_EQ(runRegsvr32(modulePath("apemf.dll")), 0u);
    for (const char* key : handlerKeys)
        EXPECT_EQ(named(key), "Monkey's Audio byte stream handler") << key;
    EXPECT_TRUE(oryx::RegistryKey::keyExists(HKEY_CLASSES_ROOT, std::string("CLSID\\") + classIdText));
}

TEST_F(MediaSource, EveryCorpusFileReadsBitExactlyThroughTheSourceReaderWholeAndAfterSeeks)
{
    Watchdog watchdog{1'200'000};
    const std::vector<ape::CorpusItem> items = corpus();
    ASSERT_GE(items.size(), 40u);
    std::mt19937 random(1414);
    for (std::size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(items[i].name);
        const Truth truth = writeCorpusFile(i, "corpus.ape");
        COMPtr<IMFSourceReader> reader;
        ASSERT_EQ(MFCreateSourceReaderFromURL(wide(path("corpus.ape")).c_str(), nullptr, reader.receive()), S_OK);
        EXPECT_EQ(moduleCanUnloadNow("apemf.dll"), S_FALSE) << "the reader's source is not ours";
        expectExactReadingAndSeeks(*reader, truth, random);
    }
}

TEST_F(MediaSource, EveryGoodRealFileReadsLikeFfmpegThroughTheSourceReaderWholeAndAfterSeeks)
{
    Watchdog watchdog{900'000};
    const std::vector<RealFile> files = goodRealFiles();
    EXPECT_GE(files.size(), 9u) << "the real samples are missing";
    std::mt19937 random(2718);
    for (const RealFile& file : files) {
        SCOPED_TRACE(file.name);
        COMPtr<IMFSourceReader> reader;
        ASSERT_EQ(MFCreateSourceReaderFromURL(wide(realSample(file.name)).c_str(), nullptr, reader.receive()), S_OK);
        Truth truth{{}, file.rate, file.blockAlign};
        const Reading whole = readSamples(*reader, 0, truth);
        EXPECT_TRUE(whole.ended);
        EXPECT_TRUE(whole.timesExact);
        // ffmpeg's md5 proves the whole reading, which is then the truth
        // for the slices after seeks.
        ASSERT_EQ(md5(whole.pcm), file.md5);
        truth.pcm = whole.pcm;
        expectFormat(*reader, truth, truth.pcm.size() / truth.blockAlign);
        expectExactSeeks(*reader, truth, random);
    }
}

TEST_F(MediaSource, AByteStreamOverMemoryReadsTheSameByMimeTypeAndThroughTheHandler)
{
    Watchdog watchdog{300'000};
    std::mt19937 random(4242);
    const std::vector<ape::CorpusItem> items = corpus();
    for (const std::size_t index : {std::size_t{0}, items.size() / 2, items.size() - 1}) {
        SCOPED_TRACE(items[index].name);
        const Truth truth = writeCorpusFile(index, "memory.ape");
        const std::vector<std::uint8_t> file = readFile(path("memory.ape"));
        for (const wchar_t* type : {L"audio/x-ape", L"audio/ape"}) {
            COMPtr<IMFByteStream> stream = memoryByteStream(file, type);
            COMPtr<IMFSourceReader> reader;
            ASSERT_EQ(MFCreateSourceReaderFromByteStream(stream.get(), nullptr, reader.receive()), S_OK);
            EXPECT_EQ(moduleCanUnloadNow("apemf.dll"), S_FALSE) << "the reader's source is not ours";
            expectExactReadingAndSeeks(*reader, truth, random);
        }
    }
    // The handler itself, on the real file of most frames, with no name or type.
    const std::vector<std::uint8_t> real = readFile(realSample("atl-ape.ape"));
    COMPtr<IMFByteStream> stream = memoryByteStream(real, nullptr);
    COMPtr<IMFMediaSource> source;
    ASSERT_EQ(createSource(stream.get(), &source), S_OK);
    COMPtr<IMFSourceReader> reader;
    ASSERT_EQ(MFCreateSourceReaderFromMediaSource(source.get(), nullptr, reader.receive()), S_OK);
    const Reading whole = readSamples(*reader, 0, Truth{{}, 44100, 4});
    EXPECT_TRUE(whole.ended);
    EXPECT_EQ(md5(whole.pcm), "b0954b7a4dcffd524f507c8d54a77c73");
    reader = nullptr;
    source->Shutdown();
}

TEST_F(MediaSource, TheHandlerRefusesWhatIsNotMonkeysAudioAndAnswersItsOtherCalls)
{
    Watchdog watchdog{120'000};
    COMPtr<IMFByteStreamHandler> handler(byteStreamHandlerClassId);
    QWORD bytes = 0;
    EXPECT_EQ(handler->GetMaxNumberOfBytesRequiredForResolution(&bytes), S_OK);
    EXPECT_GE(bytes, ape::Descriptor::size + ape::Header::size);
    EXPECT_EQ(handler->GetMaxNumberOfBytesRequiredForResolution(nullptr), E_POINTER);
    {
        // A cancel after the creation ended changes nothing: the result
        // still holds a working source.
        COMPtr<IMFByteStream> picard = memoryByteStream(readFile(realSample("picard-test.ape")), nullptr);
        COMPtr<Completion> completion(new Completion);
        COMPtr<IUnknown> cookie;
        ASSERT_EQ(handler->BeginCreateObject(picard.get(), L"picard.ape", MF_RESOLUTION_MEDIASOURCE, nullptr,
                                             cookie.receive(), completion.get(), nullptr),
                  S_OK);
        EXPECT_EQ(handler->CancelObjectCreation(nullptr), E_INVALIDARG);
        COMPtr<IMFAsyncResult> result = completion->wait();
        ASSERT_TRUE(result) << "the handler never called back";
        EXPECT_EQ(handler->CancelObjectCreation(cookie.get()), S_OK);
        MF_OBJECT_TYPE type = MF_OBJECT_INVALID;
        COMPtr<IUnknown> object;
        EXPECT_EQ(handler->EndCreateObject(result.get(), &type, object.receive()), S_OK);
        EXPECT_EQ(type, MF_OBJECT_MEDIASOURCE);
        COMPtr<IMFMediaSource> made;
        made = object.get();
        ASSERT_TRUE(made);
        COMPtr<IMFPresentationDescriptor> presentation;
        EXPECT_EQ(made->CreatePresentationDescriptor(presentation.receive()), S_OK);
        EXPECT_EQ(made->Shutdown(), S_OK);
    }
    handler = nullptr;

    std::vector<std::uint8_t> wave = {'R', 'I', 'F', 'F', 36, 0, 0, 0, 'W', 'A', 'V', 'E'};
    std::vector<std::uint8_t> noise(100'000);
    std::mt19937 random(99);
    for (std::uint8_t& byte : noise)
        byte = static_cast<std::uint8_t>(random());
    const std::vector<std::uint8_t> good = readFile(realSample("picard-test.ape"));
    for (const std::vector<std::uint8_t>* bytes : {&wave, &noise}) {
        COMPtr<IMFByteStream> stream = memoryByteStream(*bytes, nullptr);
        EXPECT_EQ(createSource(stream.get()), MF_E_UNSUPPORTED_BYTESTREAM_TYPE);
    }
    COMPtr<IMFByteStream> empty = memoryByteStream({}, nullptr);
    EXPECT_EQ(createSource(empty.get()), MF_E_UNSUPPORTED_BYTESTREAM_TYPE);
    COMPtr<IMFByteStream> stream = memoryByteStream(good, nullptr);
    EXPECT_EQ(createSource(stream.get(), nullptr, MF_RESOLUTION_BYTESTREAM), E_INVALIDARG);
    EXPECT_EQ(createSource(nullptr), E_POINTER);
    EXPECT_EQ(createSource(stream.get()), S_OK);

    // Through the resolver by URL: a file that is not one is refused.
    writeFile(path("not-ape.ape"), noise);
    COMPtr<IMFSourceReader> reader;
    EXPECT_TRUE(FAILED(MFCreateSourceReaderFromURL(wide(path("not-ape.ape")).c_str(), nullptr, reader.receive())));
}

TEST_F(MediaSource, TheSourceSendsItsEventsInOrderAndAnswersTokens)
{
    Watchdog watchdog{120'000};
    const RealFile file{"waxflow-noise-c4000-s24.ape", "", 0, 0};
    COMPtr<IMFByteStream> bytes = memoryByteStream(readFile(realSample(file.name)), nullptr);
    COMPtr<IMFMediaSource> source;
    ASSERT_EQ(createSource(bytes.get(), &source), S_OK);
    DWORD characteristics = 0;
    EXPECT_EQ(source->GetCharacteristics(&characteristics), S_OK);
    EXPECT_EQ(characteristics, DWORD{MFMEDIASOURCE_CAN_SEEK | MFMEDIASOURCE_CAN_PAUSE});
    COMPtr<IMFPresentationDescriptor> presentation;
    ASSERT_EQ(source->CreatePresentationDescriptor(presentation.receive()), S_OK);
    UINT64 duration = 0;
    EXPECT_EQ(presentation->GetUINT64(MF_PD_DURATION, &duration), S_OK);
    COMPtr<IMFMediaType> type = streamType(*presentation);
    ASSERT_TRUE(type);
    UINT32 rate = 0, align = 0;
    type->GetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, &rate);
    type->GetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, &align);
    EXPECT_EQ(duration, static_cast<UINT64>(timeOf(6000, rate)));

    // Stopped: requests and Pause are refused.
    EXPECT_EQ(source->Pause(), MF_E_INVALID_STATE_TRANSITION);
    GUID unknownFormat = {1, 2, 3, {4}};
    PROPVARIANT current;
    PropVariantInit(&current);
    EXPECT_EQ(source->Start(presentation.get(), &unknownFormat, &current), MF_E_UNSUPPORTED_TIME_FORMAT);

    // Start: the new stream, the source's start, its stream's start, each
    // with the time asked for and the time the samples start at.
    ASSERT_EQ(source->Start(presentation.get(), nullptr, &current), S_OK);
    COMPtr<IMFMediaStream> stream = announcedStream(*source);
    ASSERT_TRUE(stream);
    auto expectStart = [&](MediaEventType sourceType, MediaEventType streamType, std::int64_t requested,
                           std::uint64_t block) {
        Event started = nextEvent(*source);
        EXPECT_EQ(started.type, sourceType);
        EXPECT_EQ(started.status, S_OK);
        EXPECT_EQ(started.value.vt, VT_I8);
        EXPECT_EQ(started.value.hVal.QuadPart, requested);
        UINT64 actual = 0;
        EXPECT_EQ(started.event ? started.event->GetUINT64(MF_EVENT_SOURCE_ACTUAL_START, &actual) : E_FAIL, S_OK);
        EXPECT_EQ(actual, static_cast<UINT64>(timeOf(block, rate)));
        Event streamStarted = nextEvent(*stream);
        EXPECT_EQ(streamStarted.type, streamType);
        EXPECT_EQ(streamStarted.value.hVal.QuadPart, requested);
        PropVariantClear(&started.value);
        PropVariantClear(&streamStarted.value);
    };
    expectStart(MESourceStarted, MEStreamStarted, 0, 0);
    EXPECT_EQ(nextType(*source, quietWhile), MEUnknown) << "more source events than a start sends";

    // A request with a token: one sample at time 0 that carries it, marked
    // as the first after a start.
    COMPtr<IMFAttributes> token;
    ASSERT_EQ(MFCreateAttributes(token.receive(), 0), S_OK);
    ASSERT_EQ(stream->RequestSample(token.get()), S_OK);
    std::uint64_t next = 0; // the block after the last sample's
    auto expectSample = [&](std::int64_t time, IUnknown* wantedToken, bool discontinuous) {
        Event event = nextEvent(*stream);
        ASSERT_EQ(event.type, MEMediaSample);
        ASSERT_EQ(event.value.vt, VT_UNKNOWN);
        COMPtr<IMFSample> sample;
        sample = event.value.punkVal;
        PropVariantClear(&event.value);
        LONGLONG stamp = -1, length = -1;
        DWORD total = 0;
        EXPECT_EQ(sample->GetSampleTime(&stamp), S_OK);
        EXPECT_EQ(sample->GetSampleDuration(&length), S_OK);
        EXPECT_EQ(sample->GetTotalLength(&total), S_OK);
        EXPECT_EQ(stamp, time);
        EXPECT_EQ(total % align, 0u);
        // The block whose stamp (rounded down) the time is.
        const std::uint64_t first = (static_cast<std::uint64_t>(time) * rate + unitsPerSecond - 1) / unitsPerSecond;
        EXPECT_EQ(length, timeOf(first + total / align, rate) - time);
        EXPECT_EQ(MFGetAttributeUINT32(sample.get(), MFSampleExtension_Discontinuity, FALSE), UINT32{discontinuous});
        COMPtr<IUnknown> carried;
        const HRESULT hr =
            sample->GetUnknown(MFSampleExtension_Token, IID_IUnknown, reinterpret_cast<void**>(carried.receive()));
        if (wantedToken) {
            EXPECT_EQ(hr, S_OK);
            COMPtr<IUnknown> identity;
            identity = wantedToken;
            EXPECT_EQ(carried.get(), identity.get());
        } else {
            EXPECT_TRUE(FAILED(hr));
        }
        next = first + total / align;
    };
    ASSERT_NO_FATAL_FAILURE(expectSample(0, token.get(), true));

    // Paused: a request waits for the next start; Pause again is refused.
    ASSERT_EQ(source->Pause(), S_OK);
    EXPECT_EQ(nextType(*stream), MEStreamPaused);
    EXPECT_EQ(nextType(*source), MESourcePaused);
    EXPECT_EQ(source->Pause(), MF_E_INVALID_STATE_TRANSITION);
    ASSERT_EQ(stream->RequestSample(nullptr), S_OK);
    EXPECT_EQ(nextEvent(*stream, quietWhile).status, MF_E_NO_EVENTS_AVAILABLE);
    // A plain resume carries on where the samples stopped, without a break.
    ASSERT_EQ(source->Start(presentation.get(), nullptr, &current), S_OK);
    EXPECT_EQ(nextType(*source), MEUpdatedStream);
    expectStart(MESourceStarted, MEStreamStarted, timeOf(next, rate), next);
    ASSERT_NO_FATAL_FAILURE(expectSample(timeOf(next, rate), nullptr, false));

    // A seek drops a request made before it: the pipeline flushes on a seek.
    ASSERT_EQ(source->Pause(), S_OK);
    EXPECT_EQ(nextType(*stream), MEStreamPaused);
    EXPECT_EQ(nextType(*source), MESourcePaused);
    ASSERT_EQ(stream->RequestSample(token.get()), S_OK);
    {
        PROPVARIANT position = timeAt(timeOf(1000, rate));
        ASSERT_EQ(source->Start(presentation.get(), nullptr, &position), S_OK);
        EXPECT_EQ(nextType(*source), MEUpdatedStream);
        expectStart(MESourceSeeked, MEStreamSeeked, timeOf(1000, rate), 1000);
        EXPECT_EQ(nextType(*stream, quietWhile), MEUnknown) << "a request made before the seek was answered";
    }

    // Seeks, paused and started: to the block whose stamp is nearest the
    // time asked for (block 2500's own stamp, then either side of the
    // middle between blocks 3000 and 3001), the events carrying that time.
    ASSERT_EQ(source->Pause(), S_OK);
    EXPECT_EQ(nextType(*stream), MEStreamPaused);
    EXPECT_EQ(nextType(*source), MESourcePaused);
    const std::int64_t middle = (timeOf(3000, rate) + timeOf(3001, rate)) / 2;
    const struct {
        std::int64_t time;
        std::uint64_t block;
    } seeks[] = {{timeOf(2500, rate), 2500}, {middle - 1, 3000}, {middle + 1, 3001}};
    for (const auto& seek : seeks) {
        SCOPED_TRACE("seek to " + std::to_string(seek.time));
        PROPVARIANT position = timeAt(seek.time);
        ASSERT_EQ(source->Start(presentation.get(), &GUID_NULL, &position), S_OK);
        EXPECT_EQ(nextType(*source), MEUpdatedStream);
        expectStart(MESourceSeeked, MEStreamSeeked, seek.time, seek.block);
        ASSERT_EQ(stream->RequestSample(nullptr), S_OK);
        ASSERT_NO_FATAL_FAILURE(expectSample(timeOf(seek.block, rate), nullptr, true));
    }

    // Past the end: the end of the stream and of the presentation, then refusals.
    PROPVARIANT position = timeAt(duration * 2);
    ASSERT_EQ(source->Start(presentation.get(), nullptr, &position), S_OK);
    EXPECT_EQ(nextType(*source), MEUpdatedStream);
    expectStart(MESourceSeeked, MEStreamSeeked, duration * 2, 6000);
    ASSERT_EQ(stream->RequestSample(nullptr), S_OK);
    EXPECT_EQ(nextType(*stream), MEEndOfStream);
    EXPECT_EQ(nextType(*source), MEEndOfPresentation);
    EXPECT_EQ(stream->RequestSample(nullptr), MF_E_END_OF_STREAM);

    // Stopped again: the position is the start.
    ASSERT_EQ(source->Stop(), S_OK);
    EXPECT_EQ(nextType(*stream), MEStreamStopped);
    EXPECT_EQ(nextType(*source), MESourceStopped);
    EXPECT_EQ(stream->RequestSample(nullptr), MF_E_MEDIA_SOURCE_WRONGSTATE);
    ASSERT_EQ(source->Start(presentation.get(), nullptr, &current), S_OK);
    EXPECT_EQ(nextType(*source), MEUpdatedStream);
    expectStart(MESourceStarted, MEStreamStarted, 0, 0);
    ASSERT_EQ(stream->RequestSample(nullptr), S_OK);
    ASSERT_NO_FATAL_FAILURE(expectSample(0, nullptr, true));

    // Deselected, the stream has no events and takes no requests; selected
    // again, it is new.
    ASSERT_EQ(presentation->DeselectStream(0), S_OK);
    ASSERT_EQ(source->Start(presentation.get(), nullptr, &current), S_OK);
    EXPECT_EQ(nextType(*source), MESourceStarted);
    EXPECT_EQ(nextType(*stream, quietWhile), MEUnknown);
    EXPECT_EQ(stream->RequestSample(nullptr), MF_E_MEDIA_SOURCE_WRONGSTATE);
    ASSERT_EQ(presentation->SelectStream(0), S_OK);
    ASSERT_EQ(source->Start(presentation.get(), nullptr, &current), S_OK);
    EXPECT_EQ(announcedStream(*source).get(), stream.get());

    // What follows Shutdown has a test of its own.
    EXPECT_EQ(source->Shutdown(), S_OK);
}

// After Shutdown every method of the source, of its stream and of their
// event queues answers MF_E_SHUTDOWN, whatever its arguments: a pipeline
// tearing down learns the one thing that matters, not a complaint about an
// argument or a service.
TEST_F(MediaSource, AfterShutdownEveryMethodOfTheSourceAndItsStreamAnswersShutdown)
{
    Watchdog watchdog{120'000};
    COMPtr<IMFByteStream> bytes = memoryByteStream(readFile(realSample("picard-test.ape")), nullptr);
    COMPtr<IMFMediaSource> source;
    ASSERT_EQ(createSource(bytes.get(), &source), S_OK);
    COMPtr<IMFPresentationDescriptor> presentation;
    ASSERT_EQ(source->CreatePresentationDescriptor(presentation.receive()), S_OK);
    PROPVARIANT current;
    PropVariantInit(&current);
    ASSERT_EQ(source->Start(presentation.get(), nullptr, &current), S_OK);
    Event announced = nextEvent(*source);
    ASSERT_EQ(announced.value.vt, VT_UNKNOWN);
    COMPtr<IMFMediaStream> stream;
    stream = announced.value.punkVal;
    PropVariantClear(&announced.value);
    ASSERT_TRUE(stream);
    COMPtr<IMFGetService> services;
    services = source.get();
    ASSERT_TRUE(services);
    COMPtr<Completion> completion(new Completion);
    COMPtr<IMFAsyncResult> pending;
    ASSERT_EQ(MFCreateAsyncResult(nullptr, completion.get(), nullptr, pending.receive()), S_OK);

    ASSERT_EQ(source->Shutdown(), S_OK);
    const HRESULT shutDown = MF_E_SHUTDOWN;
    EXPECT_EQ(source->Shutdown(), shutDown);

    // IMFMediaSource, with good arguments and with ones refused before Shutdown.
    DWORD characteristics = 0;
    EXPECT_EQ(source->GetCharacteristics(&characteristics), shutDown);
    EXPECT_EQ(source->GetCharacteristics(nullptr), shutDown);
    COMPtr<IMFPresentationDescriptor> after;
    EXPECT_EQ(source->CreatePresentationDescriptor(after.receive()), shutDown);
    EXPECT_FALSE(after);
    EXPECT_EQ(source->CreatePresentationDescriptor(nullptr), shutDown);
    EXPECT_EQ(source->Start(presentation.get(), nullptr, &current), shutDown);
    EXPECT_EQ(source->Start(nullptr, nullptr, nullptr), shutDown);
    GUID unknownFormat = {1, 2, 3, {4}};
    EXPECT_EQ(source->Start(presentation.get(), &unknownFormat, &current), shutDown);
    PROPVARIANT unknownPosition;
    PropVariantInit(&unknownPosition);
    unknownPosition.vt = VT_R8;
    EXPECT_EQ(source->Start(presentation.get(), nullptr, &unknownPosition), shutDown);
    EXPECT_EQ(source->Pause(), shutDown);
    EXPECT_EQ(source->Stop(), shutDown);

    // IMFGetService: the service it gives, one it never gives, no out pointer.
    COMPtr<IUnknown> service;
    EXPECT_EQ(services->GetService(MF_PROPERTY_HANDLER_SERVICE, IID_IPropertyStore,
                                   reinterpret_cast<void**>(service.receive())),
              shutDown);
    EXPECT_EQ(
        services->GetService(MF_METADATA_PROVIDER_SERVICE, IID_IUnknown, reinterpret_cast<void**>(service.receive())),
        shutDown);
    EXPECT_EQ(
        services->GetService(MF_RATE_CONTROL_SERVICE, IID_IMFRateControl, reinterpret_cast<void**>(service.receive())),
        shutDown);
    EXPECT_EQ(services->GetService(MF_PROPERTY_HANDLER_SERVICE, IID_IPropertyStore, nullptr), shutDown);
    EXPECT_FALSE(service);

    // IMFMediaStream.
    EXPECT_EQ(stream->RequestSample(nullptr), shutDown);
    COMPtr<IMFMediaSource> owner;
    EXPECT_EQ(stream->GetMediaSource(owner.receive()), shutDown);
    EXPECT_EQ(stream->GetMediaSource(nullptr), shutDown);
    COMPtr<IMFStreamDescriptor> descriptor;
    EXPECT_EQ(stream->GetStreamDescriptor(descriptor.receive()), shutDown);
    EXPECT_EQ(stream->GetStreamDescriptor(nullptr), shutDown);
    EXPECT_FALSE(owner);
    EXPECT_FALSE(descriptor);

    // IMFMediaEventGenerator of both; a waiting GetEvent returns at once.
    for (IMFMediaEventGenerator* generator :
         {static_cast<IMFMediaEventGenerator*>(source.get()), static_cast<IMFMediaEventGenerator*>(stream.get())}) {
        COMPtr<IMFMediaEvent> event;
        EXPECT_EQ(generator->GetEvent(MF_EVENT_FLAG_NO_WAIT, event.receive()), shutDown);
        EXPECT_EQ(generator->GetEvent(0, event.receive()), shutDown);
        EXPECT_EQ(generator->BeginGetEvent(completion.get(), nullptr), shutDown);
        EXPECT_EQ(generator->EndGetEvent(pending.get(), event.receive()), shutDown);
        EXPECT_EQ(generator->QueueEvent(MEUnknown, GUID_NULL, S_OK, nullptr), shutDown);
        EXPECT_FALSE(event);
    }
}

TEST_F(MediaSource, DamagedFilesAreRefusedOrEndWithinABound)
{
    Watchdog watchdog{900'000};
    std::vector<std::vector<std::uint8_t>> goods = {readFile(realSample("taglib-mac-399-tagged.ape")),
                                                    readFile(realSample("waxflow-noise-c1000-s16.ape"))};
    std::vector<std::vector<std::uint8_t>> damaged;
    for (const char* name : {"audioscan-apev1.ape", "exiftool-APE.ape", "mediafile-oldape.ape",
                             "mutagen-mac-390-hdr.ape", "taglib-zerodiv.ape"})
        damaged.push_back(readFile(realSample(name)));
    std::mt19937 random(31337);
    for (const std::vector<std::uint8_t>& good : goods) {
        DamagedCopies copies(good, 12, random);
        damaged.insert(damaged.end(), copies.cut.begin(), copies.cut.end());
        damaged.insert(damaged.end(), copies.flipped.begin(), copies.flipped.end());
    }
    int refused = 0, ended = 0, failed = 0;
    for (std::size_t i = 0; i < damaged.size(); ++i) {
        SCOPED_TRACE("damaged file " + std::to_string(i));
        const std::string name = path("damaged.ape");
        writeFile(name, damaged[i]);
        for (const bool memory : {false, true}) {
            COMPtr<IMFSourceReader> reader;
            COMPtr<IMFByteStream> stream;
            HRESULT hr = S_OK;
            if (memory) {
                stream = memoryByteStream(damaged[i], L"audio/x-ape");
                hr = MFCreateSourceReaderFromByteStream(stream.get(), nullptr, reader.receive());
            } else {
                hr = MFCreateSourceReaderFromURL(wide(name).c_str(), nullptr, reader.receive());
            }
            if (FAILED(hr)) {
                ++refused;
                continue;
            }
            // No damaged copy holds more audio than its file (under a
            // minute): a reading that passes that bound never ends.
            constexpr std::size_t bound = 64u << 20;
            const Reading reading = readSamples(*reader, 0, Truth{{}, 44100, 1}, bound + 1);
            EXPECT_TRUE(reading.ended || FAILED(reading.status)) << reading.pcm.size() << " bytes without an end";
            ended += reading.ended;
            failed += FAILED(reading.status);
        }
    }
    std::printf("Damaged files: %zu, read twice each: %d refused, %d ended, %d failed\n", damaged.size(), refused,
                ended, failed);
    EXPECT_GT(refused, 0);

    // Wine's source reader passes the stream's MEError on to nobody, so the
    // source itself is driven: a decoding failure is an error event, and
    // the end of the stream still follows it.
    int withErrors = 0;
    for (std::size_t i = 0; i < damaged.size(); ++i) {
        SCOPED_TRACE("damaged file " + std::to_string(i) + " driven directly");
        COMPtr<IMFByteStream> stream = memoryByteStream(damaged[i], nullptr);
        COMPtr<IMFMediaSource> source;
        if (FAILED(createSource(stream.get(), &source)))
            continue;
        const std::vector<HRESULT> errors = errorsUntilTheEnd(*source);
        EXPECT_TRUE(errors.empty() || errors.front() != E_ABORT) << "no end of stream";
        for (const HRESULT error : errors)
            EXPECT_EQ(error, MF_E_INVALID_FILE_FORMAT) << "a damaged file read from memory is a format error";
        withErrors += !errors.empty();
        source->Shutdown();
    }
    std::printf("Damaged files driven directly: %d ended with MEError first\n", withErrors);
    EXPECT_GT(withErrors, 0);
}

// Start (from here and from seeded positions), Pause, Stop and requests
// with and without tokens from four threads for a fixed time, while a fifth
// drains both event queues; then Shutdown races the same calls. Every call
// answers one of the codes its state allows, nothing hangs, nothing leaks.
TEST_F(MediaSource, StateChangesAndRequestsFromSeveralThreadsNeitherHangNorLeak)
{
    Watchdog watchdog{180'000};
    COMPtr<IMFByteStream> bytes = memoryByteStream(readFile(realSample("taglib-mac-399-tagged.ape")), nullptr);
    COMPtr<IMFMediaSource> source;
    ASSERT_EQ(createSource(bytes.get(), &source), S_OK);
    COMPtr<IMFPresentationDescriptor> presentation;
    ASSERT_EQ(source->CreatePresentationDescriptor(presentation.receive()), S_OK);
    UINT64 duration = 0;
    ASSERT_EQ(presentation->GetUINT64(MF_PD_DURATION, &duration), S_OK);
    PROPVARIANT current;
    PropVariantInit(&current);
    ASSERT_EQ(source->Start(presentation.get(), nullptr, &current), S_OK);
    Event announced = nextEvent(*source);
    ASSERT_EQ(announced.type, MENewStream);
    COMPtr<IMFMediaStream> stream;
    stream = announced.value.punkVal;
    PropVariantClear(&announced.value);

    std::atomic<bool> stop{false};
    std::atomic<bool> shutDown{false};
    std::atomic<int> samples{0}, unexpected{0}, calls{0};
    auto allowed = [&](HRESULT hr, std::initializer_list<HRESULT> codes) {
        ++calls;
        if (hr == S_OK || std::find(codes.begin(), codes.end(), hr) != codes.end() || (shutDown && hr == MF_E_SHUTDOWN))
            return;
        ++unexpected;
        std::printf("unexpected 0x%08lx\n", static_cast<unsigned long>(hr));
    };
    std::atomic<int> next{0};
    auto body = [&] {
        const int role = next++;
        std::mt19937 random(static_cast<unsigned>(7 + role));
        while (!stop) {
            if (role == 0) {
                COMPtr<IMFMediaEvent> event;
                bool any = false;
                for (IMFMediaEventGenerator* generator : {static_cast<IMFMediaEventGenerator*>(source.get()),
                                                          static_cast<IMFMediaEventGenerator*>(stream.get())}) {
                    if (SUCCEEDED(generator->GetEvent(MF_EVENT_FLAG_NO_WAIT, event.receive()))) {
                        MediaEventType type = MEUnknown;
                        event->GetType(&type);
                        samples += type == MEMediaSample;
                        any = true;
                    }
                }
                if (!any)
                    Sleep(1);
            } else if (role == 1) {
                switch (random() % 4) {
                case 0:
                    allowed(source->Start(presentation.get(), nullptr, &current), {});
                    break;
                case 1: {
                    PROPVARIANT position = timeAt(static_cast<std::int64_t>(random() % (duration + 1)));
                    allowed(source->Start(presentation.get(), nullptr, &position), {});
                    break;
                }
                case 2:
                    allowed(source->Pause(), {MF_E_INVALID_STATE_TRANSITION});
                    break;
                default:
                    allowed(source->Stop(), {});
                }
                Sleep(random() % 5);
            } else {
                COMPtr<IMFAttributes> token;
                if (random() % 2)
                    MFCreateAttributes(token.receive(), 0);
                allowed(stream->RequestSample(token.get()), {MF_E_MEDIA_SOURCE_WRONGSTATE, MF_E_END_OF_STREAM});
            }
        }
    };
    std::thread timer([&] {
        Sleep(3000);
        stop = true;
    });
    EXPECT_TRUE(runConcurrently(4, body)) << "a thread hung";
    timer.join();
    std::printf("Storm: %d calls, %d samples delivered\n", calls.load(), samples.load());
    EXPECT_EQ(unexpected, 0);
    EXPECT_GT(samples, 0);

    // Shutdown in the middle of the same calls.
    stop = false;
    next = 0;
    std::thread closer([&] {
        Sleep(300);
        shutDown = true;
        EXPECT_EQ(source->Shutdown(), S_OK);
        Sleep(200);
        stop = true;
    });
    EXPECT_TRUE(runConcurrently(4, body)) << "a thread hung around Shutdown";
    closer.join();
    EXPECT_EQ(unexpected, 0);
    EXPECT_EQ(source->Shutdown(), MF_E_SHUTDOWN);
}

// What Windows' own audio sources give beside the samples: the presentation's
// MIME type, file size and bit rate, the tag texts as a property store and
// as metadata, and the rates a PCM source can play at.
TEST_F(MediaSource, ThePresentationAndTheServicesGiveWhatWindowsOwnSourcesGive)
{
    Watchdog watchdog{120'000};
    COMPtr<IMFByteStream> bytes = memoryByteStream(readFile(realSample("musicmetadata-tagged-36items.ape")), nullptr);
    COMPtr<IMFMediaSource> source;
    ASSERT_EQ(createSource(bytes.get(), &source), S_OK);
    COMPtr<IMFGetService> services;
    services = source.get();
    ASSERT_TRUE(services);
    COMPtr<IPropertyStore> store;
    ASSERT_EQ(services->GetService(MF_PROPERTY_HANDLER_SERVICE, IID_IPropertyStore,
                                   reinterpret_cast<void**>(store.receive())),
              S_OK);
    auto text = [&](const PROPERTYKEY& key) {
        PROPVARIANT value;
        PropVariantInit(&value);
        EXPECT_EQ(store->GetValue(key, &value), S_OK);
        std::wstring result;
        if (value.vt == VT_LPWSTR)
            result = value.pwszVal;
        else if (value.vt == (VT_VECTOR | VT_LPWSTR) && value.calpwstr.cElems > 0)
            result = value.calpwstr.pElems[0];
        else if (value.vt == VT_UI4)
            result = std::to_wstring(value.ulVal);
        PropVariantClear(&value);
        return result;
    };
    EXPECT_EQ(text(PKEY_Title), L"Sinner's Prayer");
    EXPECT_EQ(text(PKEY_Music_Artist), L"Beth Hart & Joe Bonamassa");
    EXPECT_EQ(text(PKEY_Music_AlbumTitle), L"Don't Explain");
    EXPECT_EQ(text(PKEY_Media_Year), L"2011");
    EXPECT_EQ(text(PKEY_Music_TrackNumber), L"1");
    EXPECT_EQ(text(PKEY_Comment), L"Test 123");
    // The format under the keys the property system documents (propkey.h
    // has the audio keys' format identifier wrong).
    PROPERTYKEY audioKey{GUID_NULL, 5};
    ASSERT_EQ(IIDFromString(L"{64440490-4C8B-11D1-8B70-080036B11A03}", &audioKey.fmtid), S_OK);
    EXPECT_EQ(text(audioKey), L"44100");
    audioKey.pid = 7;
    EXPECT_EQ(text(audioKey), L"2");
    audioKey.pid = 6;
    EXPECT_EQ(text(audioKey), L"16");
    // Read-only, and the same store on a second call.
    PROPVARIANT value;
    PropVariantInit(&value);
    EXPECT_EQ(store->SetValue(PKEY_Title, value), STG_E_ACCESSDENIED);
    COMPtr<IPropertyStore> again;
    EXPECT_EQ(services->GetService(MF_PROPERTY_HANDLER_SERVICE, IID_IPropertyStore,
                                   reinterpret_cast<void**>(again.receive())),
              S_OK);
    EXPECT_EQ(again.get(), store.get());
    COMPtr<IUnknown> other;
    EXPECT_EQ(
        services->GetService(MFNETSOURCE_STATISTICS_SERVICE, IID_IUnknown, reinterpret_cast<void**>(other.receive())),
        MF_E_UNSUPPORTED_SERVICE);

    COMPtr<IMFPresentationDescriptor> presentation;
    ASSERT_EQ(source->CreatePresentationDescriptor(presentation.receive()), S_OK);
    wchar_t mime[64] = {};
    EXPECT_EQ(presentation->GetString(mfattribute::presentationMimeType, mime, 64, nullptr), S_OK);
    EXPECT_STREQ(mime, L"audio/x-ape");
    UINT64 fileSize = 0;
    EXPECT_EQ(presentation->GetUINT64(mfattribute::presentationTotalFileSize, &fileSize), S_OK);
    EXPECT_EQ(fileSize, readFile(realSample("musicmetadata-tagged-36items.ape")).size());
    UINT32 bitrate = 0;
    EXPECT_EQ(presentation->GetUINT32(mfattribute::presentationAudioEncodingBitrate, &bitrate), S_OK);
    EXPECT_EQ(std::to_wstring(bitrate), text(PKEY_Audio_EncodingBitrate));
    EXPECT_GT(bitrate, 0u);

    // The metadata provider: the same texts under Windows Media's names.
    COMPtr<IMFMetadataProvider> provider;
    ASSERT_EQ(services->GetService(MF_METADATA_PROVIDER_SERVICE, IID_IMFMetadataProvider,
                                   reinterpret_cast<void**>(provider.receive())),
              S_OK);
    COMPtr<IMFMetadata> metadata;
    EXPECT_EQ(provider->GetMFMetadata(presentation.get(), 1, 0, metadata.receive()), MF_E_INVALIDSTREAMNUMBER);
    ASSERT_EQ(provider->GetMFMetadata(presentation.get(), 0, 0, metadata.receive()), S_OK);
    auto named = [&](const wchar_t* name) {
        PROPVARIANT value;
        PropVariantInit(&value);
        const HRESULT hr = metadata->GetProperty(name, &value);
        std::wstring result = hr == MF_E_PROPERTY_NOT_FOUND ? L"(none)" : L"(not text)";
        if (SUCCEEDED(hr) && value.vt == VT_LPWSTR)
            result = value.pwszVal;
        else if (SUCCEEDED(hr) && value.vt == VT_UI4)
            result = std::to_wstring(value.ulVal);
        PropVariantClear(&value);
        return result;
    };
    EXPECT_EQ(named(L"Title"), L"Sinner's Prayer");
    EXPECT_EQ(named(L"Author"), L"Beth Hart & Joe Bonamassa");
    EXPECT_EQ(named(L"WM/AlbumTitle"), L"Don't Explain");
    EXPECT_EQ(named(L"WM/Year"), L"2011");
    EXPECT_EQ(named(L"WM/TrackNumber"), text(PKEY_Music_TrackNumber));
    EXPECT_EQ(named(L"WM/Composer"), L"(none)");
    PROPVARIANT names;
    ASSERT_EQ(metadata->GetAllPropertyNames(&names), S_OK);
    ASSERT_EQ(names.vt, VT_VECTOR | VT_LPWSTR);
    for (ULONG i = 0; i < names.calpwstr.cElems; ++i)
        EXPECT_NE(named(names.calpwstr.pElems[i]), L"(none)") << "a name without a value";
    EXPECT_GE(names.calpwstr.cElems, 5u);
    PropVariantClear(&names);
    EXPECT_EQ(metadata->SetProperty(L"Title", &value), STG_E_ACCESSDENIED);
    EXPECT_EQ(metadata->DeleteProperty(L"Title"), STG_E_ACCESSDENIED);

    // Rates: forward, unthinned, from 0 to the fastest; a change is an event.
    COMPtr<IMFRateSupport> rates;
    ASSERT_EQ(
        services->GetService(MF_RATE_CONTROL_SERVICE, IID_IMFRateSupport, reinterpret_cast<void**>(rates.receive())),
        S_OK);
    float rate = -1.0f;
    EXPECT_EQ(rates->GetSlowestRate(MFRATE_FORWARD, FALSE, &rate), S_OK);
    EXPECT_EQ(rate, 0.0f);
    EXPECT_EQ(rates->GetFastestRate(MFRATE_FORWARD, FALSE, &rate), S_OK);
    const float fastest = rate;
    EXPECT_GE(fastest, 2.0f);
    EXPECT_EQ(rates->GetFastestRate(MFRATE_REVERSE, FALSE, &rate), MF_E_REVERSE_UNSUPPORTED);
    EXPECT_EQ(rates->GetFastestRate(MFRATE_FORWARD, TRUE, &rate), MF_E_THINNING_UNSUPPORTED);
    float nearest = 0.0f;
    EXPECT_EQ(rates->IsRateSupported(FALSE, 1.5f, &nearest), S_OK);
    EXPECT_EQ(nearest, 1.5f);
    EXPECT_EQ(rates->IsRateSupported(FALSE, fastest * 2, &nearest), MF_E_UNSUPPORTED_RATE);
    EXPECT_EQ(nearest, fastest);
    EXPECT_EQ(rates->IsRateSupported(FALSE, -1.0f, &nearest), MF_E_REVERSE_UNSUPPORTED);
    EXPECT_EQ(rates->IsRateSupported(TRUE, 1.0f, &nearest), MF_E_THINNING_UNSUPPORTED);
    COMPtr<IMFRateControl> control;
    ASSERT_EQ(
        services->GetService(MF_RATE_CONTROL_SERVICE, IID_IMFRateControl, reinterpret_cast<void**>(control.receive())),
        S_OK);
    EXPECT_EQ(control->SetRate(FALSE, -2.0f), MF_E_REVERSE_UNSUPPORTED);
    ASSERT_EQ(control->SetRate(FALSE, 2.0f), S_OK);
    Event changed = nextEvent(*source);
    EXPECT_EQ(changed.type, MESourceRateChanged);
    EXPECT_EQ(changed.value.vt, VT_R4);
    EXPECT_EQ(changed.value.fltVal, 2.0f);
    BOOL thin = TRUE;
    EXPECT_EQ(control->GetRate(&thin, &rate), S_OK);
    EXPECT_EQ(rate, 2.0f);
    EXPECT_FALSE(thin);

    EXPECT_EQ(source->Shutdown(), S_OK);
    EXPECT_EQ(control->GetRate(&thin, &rate), MF_E_SHUTDOWN);
    COMPtr<IMFMetadata> afterShutdown;
    EXPECT_EQ(provider->GetMFMetadata(presentation.get(), 0, 0, afterShutdown.receive()), MF_E_SHUTDOWN);
    // The metadata, like the store, outlive the source.
    EXPECT_EQ(named(L"Title"), L"Sinner's Prayer");
    EXPECT_EQ(services->GetService(MF_PROPERTY_HANDLER_SERVICE, IID_IPropertyStore,
                                   reinterpret_cast<void**>(again.receive())),
              MF_E_SHUTDOWN);
    // The store outlives the source.
    EXPECT_EQ(text(PKEY_Title), L"Sinner's Prayer");
}

// Milliseconds `call` took.
template <typename Call>
double millisecondsOf(Call&& call)
{
    const auto started = std::chrono::steady_clock::now();
    call();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
}

// The byte stream is read on a work queue only: a caller never waits for a
// stalled read, creation can be cancelled, and a stream's failure reaches
// the pipeline as the stream's own error, as an event after a Start that
// has already succeeded. Streams the source cannot use are refused.
TEST_F(MediaSource, NoCallerWaitsForTheByteStreamAndItsFailuresAreTheStreamsOwn)
{
    Watchdog watchdog{300'000};
    // Five frames of 73,728 blocks at 44.1 kHz: a seek into the last one reads.
    const std::vector<std::uint8_t> file = readFile(realSample("atl-ape.ape"));
    auto faulty = [&](FaultyByteStream::Faults faults) {
        return COMPtr<FaultyByteStream>(new FaultyByteStream(memoryByteStream(file, nullptr).get(), faults));
    };
    constexpr double prompt = 250; // ms: far below a stall, far above a call that waits for nothing
    constexpr DWORD stall = 1500;

    // Creation: Begin returns while the stream stalls, and a cancel ends it.
    {
        COMPtr<FaultyByteStream> stalling = faulty({0, S_OK, stall});
        COMPtr<IMFByteStreamHandler> handler(byteStreamHandlerClassId);
        COMPtr<Completion> completion(new Completion);
        COMPtr<IUnknown> cookie;
        EXPECT_LT(millisecondsOf([&] {
                      EXPECT_EQ(handler->BeginCreateObject(stalling.get(), L"slow.ape", MF_RESOLUTION_MEDIASOURCE,
                                                           nullptr, cookie.receive(), completion.get(), nullptr),
                                S_OK);
                  }),
                  prompt);
        EXPECT_EQ(WaitForSingleObject(stalling->stalled, 10'000), WAIT_OBJECT_0);
        EXPECT_EQ(handler->CancelObjectCreation(cookie.get()), S_OK);
        stalling->faults.stallMilliseconds = 0;
        COMPtr<IMFAsyncResult> result = completion->wait();
        ASSERT_TRUE(result) << "the handler never called back";
        MF_OBJECT_TYPE type = MF_OBJECT_INVALID;
        COMPtr<IUnknown> object;
        EXPECT_EQ(handler->EndCreateObject(result.get(), &type, object.receive()), MF_E_OPERATION_CANCELLED);
        EXPECT_FALSE(object);
    }

    // What the source cannot read from is refused at creation.
    for (const FaultyByteStream::Faults faults :
         {FaultyByteStream::Faults{-1, S_OK, 0, true}, FaultyByteStream::Faults{-1, S_OK, 0, false, true},
          FaultyByteStream::Faults{0, STG_E_READFAULT}, FaultyByteStream::Faults{2, STG_E_READFAULT}}) {
        COMPtr<FaultyByteStream> odd = faulty(faults);
        EXPECT_EQ(createSource(odd.get()), MF_E_UNSUPPORTED_BYTESTREAM_TYPE) << "good reads " << faults.goodReads;
    }
    // Reads shorter than asked for are read on until they are whole.
    {
        COMPtr<FaultyByteStream> shortReading = faulty({0, S_OK, 0, false, false, true});
        COMPtr<IMFMediaSource> source;
        ASSERT_EQ(createSource(shortReading.get(), &source), S_OK);
        EXPECT_TRUE(errorsUntilTheEnd(*source).empty());
        source->Shutdown();
    }

    COMPtr<IMFPresentationDescriptor> presentation;
    PROPVARIANT current;
    PropVariantInit(&current);
    auto started = [&](IMFByteStream* bytes, COMPtr<IMFMediaSource>& source, COMPtr<IMFMediaStream>& stream) {
        ASSERT_EQ(createSource(bytes, &source), S_OK);
        ASSERT_EQ(source->CreatePresentationDescriptor(presentation.receive()), S_OK);
        ASSERT_EQ(source->Start(presentation.get(), nullptr, &current), S_OK);
        stream = announcedStream(*source);
        ASSERT_TRUE(stream);
        EXPECT_EQ(nextType(*source), MESourceStarted);
        EXPECT_EQ(nextType(*stream), MEStreamStarted);
    };

    // Playing from a stream that stalls: every call answers at once.
    {
        COMPtr<FaultyByteStream> slow = faulty({});
        COMPtr<IMFMediaSource> source;
        COMPtr<IMFMediaStream> stream;
        ASSERT_NO_FATAL_FAILURE(started(slow.get(), source, stream));
        slow->faults = {slow->reads, S_OK, stall};
        EXPECT_LT(millisecondsOf([&] { EXPECT_EQ(stream->RequestSample(nullptr), S_OK); }), prompt);
        ASSERT_EQ(WaitForSingleObject(slow->stalled, 10'000), WAIT_OBJECT_0);
        DWORD characteristics = 0;
        EXPECT_LT(millisecondsOf([&] { EXPECT_EQ(source->GetCharacteristics(&characteristics), S_OK); }), prompt);
        COMPtr<IMFPresentationDescriptor> another;
        EXPECT_LT(millisecondsOf([&] { EXPECT_EQ(source->CreatePresentationDescriptor(another.receive()), S_OK); }),
                  prompt);
        COMPtr<IMFGetService> services;
        services = source.get();
        COMPtr<IPropertyStore> store;
        EXPECT_LT(millisecondsOf([&] {
                      EXPECT_EQ(services->GetService(MF_PROPERTY_HANDLER_SERVICE, IID_IPropertyStore,
                                                     reinterpret_cast<void**>(store.receive())),
                                S_OK);
                  }),
                  prompt);
        EXPECT_LT(millisecondsOf([&] { EXPECT_EQ(source->Pause(), S_OK); }), prompt);
        // The read that was under way is not delivered into the pause.
        EXPECT_EQ(nextType(*stream), MEStreamPaused);
        EXPECT_EQ(nextType(*stream, stall + quietWhile), MEUnknown);
        slow->faults.stallMilliseconds = 0;
        ASSERT_EQ(source->Start(presentation.get(), nullptr, &current), S_OK);
        EXPECT_EQ(nextType(*stream), MEStreamStarted);
        EXPECT_EQ(nextType(*stream), MEMediaSample) << "the request made before the pause is answered";
        EXPECT_LT(millisecondsOf([&] { EXPECT_EQ(source->Shutdown(), S_OK); }), prompt);
    }

    // A network share gone while paused with a request waiting: Start
    // succeeds and sends its events, and the failure follows as MEError
    // with the stream's own error, then the end of the stream.
    {
        COMPtr<FaultyByteStream> failing = faulty({});
        COMPtr<IMFMediaSource> source;
        COMPtr<IMFMediaStream> stream;
        ASSERT_NO_FATAL_FAILURE(started(failing.get(), source, stream));
        ASSERT_EQ(stream->RequestSample(nullptr), S_OK);
        EXPECT_EQ(nextType(*stream), MEMediaSample);
        ASSERT_EQ(source->Pause(), S_OK);
        EXPECT_EQ(nextType(*stream), MEStreamPaused);
        ASSERT_EQ(stream->RequestSample(nullptr), S_OK);
        const HRESULT shareGone = HRESULT_FROM_WIN32(ERROR_NETNAME_DELETED);
        failing->faults = {failing->reads, shareGone};
        // A seek far into the file would drop the waiting request; a resume
        // answers it, and the read reaches into the next frame soon enough.
        EXPECT_EQ(source->Start(presentation.get(), nullptr, &current), S_OK);
        EXPECT_EQ(nextType(*stream), MEStreamStarted);
        for (int request = 0; request < 40; ++request)
            stream->RequestSample(nullptr);
        Event error = nextEvent(*stream);
        for (int samples = 0; error.type == MEMediaSample && samples < 40; ++samples) {
            PropVariantClear(&error.value);
            error = nextEvent(*stream);
        }
        EXPECT_EQ(error.type, MEError);
        EXPECT_EQ(error.status, shareGone);
        EXPECT_EQ(nextType(*stream), MEEndOfStream);
        EXPECT_EQ(stream->RequestSample(nullptr), MF_E_END_OF_STREAM);
        source->Shutdown();
    }
}

// Header fields no real audio has: a sample rate of 0 or of billions is
// refused at creation, while the highest rate allowed plays with exact byte
// rates and samples of bounded size.
TEST_F(MediaSource, AbsurdSampleRatesAreRefusedAndTheHighestKeepsExactByteRates)
{
    Watchdog watchdog{120'000};
    ape::EncoderOptions options;
    options.level = 2000;
    constexpr std::uint32_t highest = 6'144'000;
    const ape::CorpusItem item{"fast", ape::Signal::white, ape::PcmFormat{2, 16, highest}, 2'000'000, options};
    std::vector<std::uint8_t> file = ape::CorpusPlan::encode(item, 3).file;
    const ape::Descriptor descriptor = ape::Descriptor::read(file.data());
    const std::size_t rateAt = descriptor.descriptorLength + 20;
    auto withRate = [&](std::uint32_t rate) {
        std::vector<std::uint8_t> copy = file;
        for (int i = 0; i < 4; ++i)
            copy[rateAt + i] = static_cast<std::uint8_t>(rate >> (8 * i));
        return copy;
    };
    for (const std::uint32_t rate : {0u, highest + 1, 1'073'741'825u, 0xFFFFFFFFu}) {
        COMPtr<IMFByteStream> bytes = memoryByteStream(withRate(rate), nullptr);
        EXPECT_EQ(createSource(bytes.get()), MF_E_UNSUPPORTED_BYTESTREAM_TYPE) << rate << " Hz";
    }
    COMPtr<IMFByteStream> bytes = memoryByteStream(file, nullptr);
    COMPtr<IMFMediaSource> source;
    ASSERT_EQ(createSource(bytes.get(), &source), S_OK);
    COMPtr<IMFPresentationDescriptor> presentation;
    ASSERT_EQ(source->CreatePresentationDescriptor(presentation.receive()), S_OK);
    COMPtr<IMFMediaType> type = streamType(*presentation);
    ASSERT_TRUE(type);
    EXPECT_EQ(MFGetAttributeUINT32(type.get(), MF_MT_AUDIO_AVG_BYTES_PER_SECOND, 0), highest * 4);
    PROPVARIANT current;
    PropVariantInit(&current);
    ASSERT_EQ(source->Start(presentation.get(), nullptr, &current), S_OK);
    COMPtr<IMFMediaStream> stream = announcedStream(*source);
    ASSERT_TRUE(stream);
    ASSERT_EQ(stream->RequestSample(nullptr), S_OK);
    EXPECT_EQ(nextType(*stream), MEStreamStarted);
    Event event = nextEvent(*stream);
    ASSERT_EQ(event.type, MEMediaSample);
    COMPtr<IMFSample> sample;
    sample = event.value.punkVal;
    PropVariantClear(&event.value);
    DWORD length = 0;
    EXPECT_EQ(sample->GetTotalLength(&length), S_OK);
    EXPECT_GT(length, 0u);
    EXPECT_LE(length, 1u << 20);
    source->Shutdown();
}

} // namespace
