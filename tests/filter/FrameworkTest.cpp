// Media types, the filter base and the pin base, through the synthetic
// counter source and a recording peer, and against Wine's own renderers in
// a real filter graph. Every scenario ends with no object of ours alive.
#include <string>

#include <dshow.h>
#include <gtest/gtest.h>
#include <mmreg.h>

#include "com/IUnknownImpl.h"
#include "filter/MediaTypeCursor.h"
#include "support/COMPtr.h"
#include "tests/common/GraphInterfaces.h"
#include "tests/filter/CounterSource.h"
#include "tests/filter/RecordingInputPin.h"

using oryx::COMPtr;

namespace {

class Framework : public testing::Test {
protected:
    const LONG objectsBefore = oryx::objectCount;

    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }
    void TearDown() override
    {
        EXPECT_EQ(oryx::objectCount, objectsBefore) << "an object was left alive";
        CoUninitialize();
    }
};

// Makes every task memory allocation fail while it is registered.
class FailingAllocations final : public IMallocSpy {
public:
    FailingAllocations() { registered = SUCCEEDED(CoRegisterMallocSpy(this)); }
    ~FailingAllocations() { CoRevokeMallocSpy(); }
    bool registered = false;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        *out = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMallocSpy) ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP_(SIZE_T) PreAlloc(SIZE_T) override { return 0; }
    STDMETHODIMP_(void*) PostAlloc(void* actual) override { return actual; }
    STDMETHODIMP_(void*) PreFree(void* request, BOOL) override { return request; }
    STDMETHODIMP_(void) PostFree(BOOL) override {}
    STDMETHODIMP_(SIZE_T) PreRealloc(void* request, SIZE_T bytes, void** actual, BOOL) override
    {
        *actual = request;
        return bytes;
    }
    STDMETHODIMP_(void*) PostRealloc(void* actual, BOOL) override { return actual; }
    STDMETHODIMP_(void*) PreGetSize(void* request, BOOL) override { return request; }
    STDMETHODIMP_(SIZE_T) PostGetSize(SIZE_T actual, BOOL) override { return actual; }
    STDMETHODIMP_(void*) PreDidAlloc(void* request, BOOL) override { return request; }
    STDMETHODIMP_(int) PostDidAlloc(void*, BOOL, int actual) override { return actual; }
    STDMETHODIMP_(void) PreHeapMinimize() override {}
    STDMETHODIMP_(void) PostHeapMinimize() override {}
};

const WAVEFORMATEX& waveFormat(const MediaType& type)
{
    return *reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat);
}

TEST_F(Framework, MediaTypesCompareExactlyAndMatchPatternsWithTheirOwnOpenValues)
{
    MediaTypeHolder pcm;
    makePcmAudioType(*pcm, 2, 44100, 16);
    MediaTypeHolder copy;
    copy->copyFrom(*pcm);
    EXPECT_NE(copy->pbFormat, pcm->pbFormat);
    EXPECT_TRUE(*copy == *pcm) << "equal format bytes in different blocks";

    copy->lSampleSize = 99;
    EXPECT_FALSE(*copy == *pcm);
    EXPECT_TRUE(copy->matches(*pcm)) << "the sample size plays no part in a match";

    MediaType anything(GUID_NULL, GUID_NULL);
    anything.formattype = FORMAT_None;
    EXPECT_TRUE(pcm->matches(anything));
    MediaType audioOpenFormat(MEDIATYPE_Audio, GUID_NULL);
    audioOpenFormat.formattype = FORMAT_None;
    EXPECT_TRUE(pcm->matches(audioOpenFormat));
    MediaType audioNullFormat(MEDIATYPE_Audio, GUID_NULL);
    EXPECT_FALSE(pcm->matches(audioNullFormat)) << "GUID_NULL is not the open format type";
    MediaType bare(MEDIATYPE_Audio, MEDIASUBTYPE_PCM);
    EXPECT_TRUE(bare.matches(audioNullFormat));
    EXPECT_FALSE(pcm->matches(MediaType(MEDIATYPE_Video, GUID_NULL)));
    MediaType bareToo(MEDIATYPE_Audio, MEDIASUBTYPE_PCM);
    EXPECT_TRUE(bare == bareToo);

    // Format handling: resizing to 0 forces FORMAT_None only when a block
    // goes; FORMAT_None frees the block.
    MediaType plain(MEDIATYPE_Audio, MEDIASUBTYPE_PCM);
    plain.formattype = FORMAT_WaveFormatEx;
    plain.resizeFormat(0, true);
    EXPECT_TRUE(IsEqualGUID(plain.formattype, FORMAT_WaveFormatEx));
    plain.setFormatType(FORMAT_None);
    EXPECT_TRUE(IsEqualGUID(plain.formattype, FORMAT_WaveFormatEx));
    plain.resizeFormat(4, false);
    plain.pbFormat[0] = 7;
    plain.resizeFormat(8, true);
    EXPECT_EQ(plain.cbFormat, 8u);
    EXPECT_EQ(plain.pbFormat[0], 7);
    EXPECT_EQ(plain.pbFormat[7], 0);
    plain.resizeFormat(0, false);
    EXPECT_EQ(plain.pbFormat, nullptr);
    EXPECT_TRUE(IsEqualGUID(plain.formattype, FORMAT_None));
    plain.releaseContents();

    // A malformed type from outside (a size without a block) is not read.
    MediaType malformed(MEDIATYPE_Audio, MEDIASUBTYPE_PCM);
    malformed.cbFormat = 18;
    MediaTypeHolder safe;
    safe->copyFrom(malformed);
    EXPECT_EQ(safe->cbFormat, 0u);
}

TEST_F(Framework, PcmTypesDeclareTheFrameSizeForEveryWidth)
{
    struct Case {
        std::uint16_t channels, bits;
        WORD blockAlign;
    };
    for (const Case c : {Case{1, 8, 1}, Case{2, 8, 2}, Case{2, 16, 4}, Case{2, 24, 6}, Case{6, 24, 18}}) {
        MediaTypeHolder type;
        makePcmAudioType(*type, c.channels, 48000, c.bits);
        const WAVEFORMATEX& format = waveFormat(*type);
        EXPECT_EQ(format.wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(format.nBlockAlign, c.blockAlign) << c.channels << " x " << c.bits;
        EXPECT_EQ(format.nAvgBytesPerSec, 48000u * c.blockAlign);
        EXPECT_EQ(type->lSampleSize, c.blockAlign) << "fixed-size samples of one frame";
        EXPECT_EQ(type->cbFormat, 18u);
        EXPECT_TRUE(IsEqualGUID(type->formattype, FORMAT_WaveFormatEx));
        EXPECT_TRUE(type->bFixedSizeSamples);
    }
}

TEST_F(Framework, TheFilterKeepsItsStateNameGraphAndPins)
{
    auto* source = new CounterSource;
    const COMPtr<IBaseFilter> filter(source);
    FILTER_STATE state;
    EXPECT_EQ(filter->GetState(0, nullptr), E_POINTER);
    EXPECT_EQ(filter->GetState(INFINITE, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
    CLSID classId;
    EXPECT_EQ(filter->GetClassID(&classId), S_OK);
    EXPECT_TRUE(IsEqualCLSID(classId, CLSID_CounterSource));
    COMPtr<IMediaFilter> asMediaFilter;
    asMediaFilter = filter.get();
    COMPtr<IPersist> asPersist;
    asPersist = filter.get();

    const std::wstring longName(130, L'n');
    EXPECT_EQ(filter->JoinFilterGraph(nullptr, longName.c_str()), S_OK);
    FILTER_INFO info;
    EXPECT_EQ(filter->QueryFilterInfo(&info), S_OK);
    EXPECT_EQ(std::wstring(info.achName), longName.substr(0, 127));
    EXPECT_EQ(info.pGraph, nullptr);
    const COMPtr<IFilterGraph> graph(CLSID_FilterGraph);
    EXPECT_EQ(filter->JoinFilterGraph(graph.get(), nullptr), E_POINTER);
    EXPECT_EQ(filter->JoinFilterGraph(nullptr, nullptr), S_OK);
    EXPECT_EQ(filter->QueryFilterInfo(&info), S_OK);
    EXPECT_EQ(std::wstring(info.achName), longName.substr(0, 127)) << "a null name keeps the old one";
    LPWSTR vendor = nullptr;
    EXPECT_EQ(filter->QueryVendorInfo(&vendor), E_NOTIMPL);

    IPin* pin = nullptr;
    EXPECT_EQ(filter->FindPin(L"PCM Outpu", &pin), VFW_E_NOT_FOUND);
    ASSERT_EQ(filter->FindPin(L"PCM Output", &pin), S_OK);
    LPWSTR id = nullptr;
    ASSERT_EQ(pin->QueryId(&id), S_OK);
    EXPECT_STREQ(id, L"PCM Output");
    CoTaskMemFree(id);
    {
        FailingAllocations failing;
        ASSERT_TRUE(failing.registered);
        id = reinterpret_cast<LPWSTR>(&id);
        EXPECT_EQ(pin->QueryId(&id), E_OUTOFMEMORY);
        EXPECT_EQ(id, nullptr) << "the caller's value was left in place";
    }
    PIN_INFO pinInfo;
    ASSERT_EQ(pin->QueryPinInfo(&pinInfo), S_OK);
    EXPECT_EQ(pinInfo.pFilter, filter.get());
    EXPECT_EQ(pinInfo.dir, PINDIR_OUTPUT);
    pinInfo.pFilter->Release();
    COMPtr<IQualityControl> quality;
    quality = pin;
    EXPECT_EQ(quality->Notify(filter.get(), Quality{}), E_NOTIMPL);
    EXPECT_EQ(quality->SetSink(nullptr), S_OK);
    ULONG count = 1;
    EXPECT_EQ(pin->QueryInternalConnections(&pin, &count), E_NOTIMPL);
    EXPECT_EQ(pin->EndOfStream(), E_UNEXPECTED);
    EXPECT_EQ(pin->BeginFlush(), E_UNEXPECTED);
    EXPECT_EQ(pin->NewSegment(0, 0, 1.0), E_UNEXPECTED);
    pin->Release();

    COMPtr<IEnumPins> pins;
    ASSERT_EQ(filter->EnumPins(pins.receive()), S_OK);
    IPin* fetched[5] = {};
    ULONG got = 9;
    EXPECT_EQ(pins->Next(0, fetched, &got), E_INVALIDARG);
    EXPECT_EQ(pins->Next(2, fetched, nullptr), E_POINTER);
    EXPECT_EQ(pins->Next(5, fetched, &got), S_FALSE);
    EXPECT_EQ(got, 1u);
    fetched[0]->Release();
    EXPECT_EQ(pins->Next(1, fetched, &got), S_FALSE);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(pins->Reset(), S_OK);
    COMPtr<IEnumPins> clone;
    ASSERT_EQ(pins->Clone(clone.receive()), S_OK);
    EXPECT_EQ(clone->Next(1, fetched, nullptr), S_OK);
    fetched[0]->Release();
    EXPECT_EQ(pins->Skip(2), S_FALSE);
}

TEST_F(Framework, ConnectTriesItsOwnTypesFirstThenThePeersThatMatchThePattern)
{
    auto* source = new CounterSource;
    const COMPtr<IBaseFilter> filter(source);
    IPin* const output = source->outputPinInterface();

    // Without an input the pin offers nothing and refuses everything.
    COMPtr<IEnumMediaTypes> types;
    ASSERT_EQ(output->EnumMediaTypes(types.receive()), S_OK);
    AM_MEDIA_TYPE* type = nullptr;
    EXPECT_EQ(types->Next(1, &type, nullptr), S_FALSE);
    COMPtr<IMediaSeeking> seeking;
    EXPECT_EQ(output->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(seeking.receive())), E_NOINTERFACE);
    {
        RecordingInputPin peer;
        EXPECT_EQ(output->Connect(&peer, nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
    }

    source->load();
    EXPECT_EQ(types->Next(1, &type, nullptr), VFW_E_ENUM_OUT_OF_SYNC) << "new types after a load";
    EXPECT_EQ(types->Reset(), S_OK);
    ASSERT_EQ(types->Next(1, &type, nullptr), S_OK);
    EXPECT_EQ(output->QueryAccept(type), S_OK);
    type->lSampleSize += 1;
    EXPECT_EQ(output->QueryAccept(type), S_FALSE) << "acceptance is exact";
    deleteTaskMediaType(type);
    {
        MediaTypeCursor cursor(*output);
        ASSERT_FALSE(cursor.atEnd());
        EXPECT_TRUE(IsEqualGUID(cursor.current()->subtype, MEDIASUBTYPE_PCM));
        cursor.advance();
        EXPECT_TRUE(cursor.atEnd());
        EXPECT_EQ(cursor.current(), nullptr);
    }

    // The peer lists video first; our own audio type is still tried first.
    {
        RecordingInputPin peer({RecordingInputPin::offer(MEDIATYPE_Video, MEDIASUBTYPE_RGB24),
                                RecordingInputPin::offer(MEDIATYPE_Audio, MEDIASUBTYPE_PCM)});
        ASSERT_EQ(output->Connect(&peer, nullptr), S_OK);
        ASSERT_EQ(peer.proposedSubtypes.size(), 1u);
        EXPECT_TRUE(IsEqualGUID(peer.proposedSubtypes[0], MEDIASUBTYPE_PCM));
        EXPECT_EQ(output->Connect(&peer, nullptr), VFW_E_ALREADY_CONNECTED);
        IPin* other = nullptr;
        ASSERT_EQ(output->ConnectedTo(&other), S_OK);
        EXPECT_EQ(other, static_cast<IPin*>(&peer));
        other->Release();
        AM_MEDIA_TYPE connection;
        ASSERT_EQ(output->ConnectionMediaType(&connection), S_OK);
        EXPECT_EQ(waveFormat(MediaType::of(connection)).nSamplesPerSec, 8000u);
        MediaType::of(connection).releaseContents();
        EXPECT_EQ(output->Disconnect(), S_OK);
        EXPECT_EQ(output->Disconnect(), S_FALSE);
        EXPECT_EQ(output->ConnectedTo(&other), VFW_E_NOT_CONNECTED);
        EXPECT_EQ(other, nullptr);
    }
    // A pattern with an open format tries only what it matches.
    {
        RecordingInputPin peer;
        MediaType video(MEDIATYPE_Video, GUID_NULL);
        video.formattype = FORMAT_None;
        EXPECT_EQ(output->Connect(&peer, &video), VFW_E_NO_ACCEPTABLE_TYPES);
        MediaType audioNullFormat(MEDIATYPE_Audio, GUID_NULL);
        EXPECT_EQ(output->Connect(&peer, &audioNullFormat), VFW_E_NO_ACCEPTABLE_TYPES);
        EXPECT_TRUE(peer.proposedSubtypes.empty());
        MediaType audio(MEDIATYPE_Audio, GUID_NULL);
        audio.formattype = FORMAT_None;
        EXPECT_EQ(output->Connect(&peer, &audio), S_OK);
        output->Disconnect();
    }
    // A complete type we do not offer fails at once; a refusing peer and a
    // second output pin leave us unconnected.
    {
        RecordingInputPin peer;
        MediaType video(MEDIATYPE_Video, MEDIASUBTYPE_RGB24);
        EXPECT_EQ(output->Connect(&peer, &video), VFW_E_TYPE_NOT_ACCEPTED);
        EXPECT_TRUE(peer.proposedSubtypes.empty());
        peer.refuseAll = true;
        EXPECT_EQ(output->Connect(&peer, nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
        IPin* other = nullptr;
        EXPECT_EQ(output->ConnectedTo(&other), VFW_E_NOT_CONNECTED);
        auto* second = new CounterSource;
        const COMPtr<IBaseFilter> secondFilter(second);
        EXPECT_EQ(output->Connect(second->outputPinInterface(), nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
        EXPECT_EQ(output->ReceiveConnection(second->outputPinInterface(), &video), VFW_E_INVALID_DIRECTION);
    }
    // No connection change while the filter runs.
    {
        RecordingInputPin peer;
        ASSERT_EQ(filter->Pause(), S_OK);
        EXPECT_EQ(output->Connect(&peer, nullptr), VFW_E_NOT_STOPPED);
        ASSERT_EQ(filter->Stop(), S_OK);
    }
}

// The test pin in Wine's graph, against its DirectSound and null renderers.
TEST_F(Framework, ConnectsToWinesRenderersInsideARealGraph)
{
    const COMPtr<IGraphBuilder> graph(CLSID_FilterGraph);
    auto* source = new CounterSource;
    const COMPtr<IBaseFilter> filter(source);
    source->load();
    ASSERT_EQ(graph->AddFilter(filter.get(), L"Counter"), S_OK);
    FILTER_INFO info;
    ASSERT_EQ(filter->QueryFilterInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, L"Counter");
    EXPECT_NE(info.pGraph, nullptr);
    info.pGraph->Release();
    COMPtr<IBaseFilter> found;
    EXPECT_EQ(graph->FindFilterByName(L"Counter", found.receive()), S_OK);
    EXPECT_EQ(found.get(), filter.get());

    for (const CLSID* rendererClass : {&CLSID_DSoundRender, &CLSID_NullRendererFilter}) {
        const COMPtr<IBaseFilter> renderer(*rendererClass);
        ASSERT_EQ(graph->AddFilter(renderer.get(), L"Renderer"), S_OK);
        COMPtr<IEnumPins> pins;
        ASSERT_EQ(renderer->EnumPins(pins.receive()), S_OK);
        COMPtr<IPin> input;
        ASSERT_EQ(pins->Next(1, input.receive(), nullptr), S_OK);
        IPin* const output = source->outputPinInterface();
        for (int round = 0; round < 2; ++round) {
            ASSERT_EQ(graph->ConnectDirect(output, input.get(), nullptr), S_OK);
            COMPtr<IPin> peer;
            ASSERT_EQ(output->ConnectedTo(peer.receive()), S_OK);
            EXPECT_EQ(peer.get(), input.get());
            ASSERT_EQ(input->ConnectedTo(peer.receive()), S_OK);
            EXPECT_EQ(peer.get(), output);
            AM_MEDIA_TYPE type;
            ASSERT_EQ(input->ConnectionMediaType(&type), S_OK);
            EXPECT_EQ(waveFormat(MediaType::of(type)).nBlockAlign, 2);
            MediaType::of(type).releaseContents();
            EXPECT_EQ(graph->Disconnect(output), S_OK);
            EXPECT_EQ(graph->Disconnect(input.get()), S_OK);
        }
        EXPECT_EQ(graph->RemoveFilter(renderer.get()), S_OK);
    }
    EXPECT_EQ(graph->RemoveFilter(filter.get()), S_OK);
}

} // namespace
