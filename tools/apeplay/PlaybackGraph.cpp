#include "PlaybackGraph.h"

#include <memory>

#include "ConsoleText.h"
#include "PlayerError.h"
#include "monkeysaudio/SourceIdentifiers.h"
#include "support/Diagnostics.h"
#include "support/RegistryKey.h"

namespace apeplay {

namespace {

constexpr const wchar_t* outputPinName = L"PCM Output";
constexpr const char* codecLibraryName = "MACDllC.dll";

// The text properties of IAMMediaContent that a player shows, in the
// interface's order: the label printed, the getter.
struct TagProperty {
    const char* label;
    HRESULT (STDMETHODCALLTYPE IAMMediaContent::*get)(BSTR*);
};
constexpr TagProperty tagProperties[] = {
    {"Author", &IAMMediaContent::get_AuthorName},   {"Title", &IAMMediaContent::get_Title},
    {"Rating", &IAMMediaContent::get_Rating},       {"Description", &IAMMediaContent::get_Description},
    {"Copyright", &IAMMediaContent::get_Copyright}, {"Base URL", &IAMMediaContent::get_BaseURL},
};

class BstrOwner {
public:
    BstrOwner() = default;
    BstrOwner(const BstrOwner&) = delete;
    BstrOwner& operator=(const BstrOwner&) = delete;
    ~BstrOwner() { SysFreeString(value); }
    BSTR* receive() { return &value; }
    std::wstring text() const { return value ? std::wstring(value, SysStringLen(value)) : std::wstring(); }

private:
    BSTR value = nullptr;
};

// Owns the format block (and the rarely used pUnk) of a media type that a
// pin filled in; `allocated` also frees the structure itself, as types from
// IEnumMediaTypes::Next must be.
class MediaTypeOwner {
public:
    MediaTypeOwner() = default;
    MediaTypeOwner(const MediaTypeOwner&) = delete;
    MediaTypeOwner& operator=(const MediaTypeOwner&) = delete;
    ~MediaTypeOwner()
    {
        if (!type)
            return;
        CoTaskMemFree(type->pbFormat);
        if (type->pUnk)
            type->pUnk->Release();
        if (type != &filled)
            CoTaskMemFree(type);
    }
    AM_MEDIA_TYPE** receiveAllocated() { return &type; }
    AM_MEDIA_TYPE* receiveFilled()
    {
        filled = AM_MEDIA_TYPE{};
        type = &filled;
        return &filled;
    }
    const AM_MEDIA_TYPE* get() const { return type; }

private:
    AM_MEDIA_TYPE filled{};
    AM_MEDIA_TYPE* type = nullptr;
};

PcmFormat pcmFormatOf(const AM_MEDIA_TYPE& type)
{
    if (!IsEqualGUID(type.majortype, MEDIATYPE_Audio) || !IsEqualGUID(type.formattype, FORMAT_WaveFormatEx) ||
        !type.pbFormat || type.cbFormat < sizeof(PCMWAVEFORMAT))
        throw PlayerError("the source offers no PCM audio");
    const auto* wave = reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat);
    PcmFormat format;
    format.channels = wave->nChannels;
    format.sampleRate = wave->nSamplesPerSec;
    format.bitsPerSample = wave->wBitsPerSample;
    if (format.channels == 0 || format.sampleRate == 0 || format.bitsPerSample == 0 || format.bitsPerSample > 32)
        throw PlayerError("the source offers an unusable format (" + format.describe() + ")");
    return format;
}

std::string quoted(const std::wstring& text)
{
    return "\"" + toUtf8(text) + "\"";
}

// The server file that the registration names for the source; empty when
// the class is not registered.
std::string registeredServer()
{
    const std::string key = "CLSID\\" + oryx::guidName(sourceClassId, false) + "\\InprocServer32";
    oryx::RegistryKey server;
    if (!server.open(HKEY_CLASSES_ROOT, key.c_str(), KEY_READ))
        return {};
    return server.valueExists("") ? server.string("") : std::string();
}

// Why the source could not be created, in the terms a user can act on.
[[noreturn]] void raiseCreationFailure(HRESULT hr)
{
    const std::string server = registeredServer();
    if (hr == REGDB_E_CLASSNOTREG || server.empty())
        throw PlayerError("the Monkey's Audio source " + oryx::guidName(sourceClassId, false) +
                          " is not registered (regsvr32 apesrc.dll): " + hresultText(hr));
    if (GetFileAttributesA(server.c_str()) == INVALID_FILE_ATTRIBUTES)
        throw PlayerError("the Monkey's Audio source is registered as \"" + server + "\", which does not exist");
    if (hr == HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND))
        throw PlayerError(std::string("the codec library ") + codecLibraryName + " is missing: \"" + server +
                          "\" can't load it (" + hresultText(hr) + ")");
    throw PlayerError("can't create the Monkey's Audio source \"" + server + "\": " + hresultText(hr));
}

template <typename I>
oryx::COMPtr<I> create(REFCLSID clsid, const char* what)
{
    oryx::COMPtr<I> created;
    const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(I),
                                        reinterpret_cast<void**>(created.receive()));
    if (FAILED(hr))
        throw PlayerError(std::string("can't create the ") + what + ": " + hresultText(hr));
    return created;
}

template <typename I>
oryx::COMPtr<I> query(IUnknown* object)
{
    oryx::COMPtr<I> found;
    if (object && FAILED(object->QueryInterface(__uuidof(I), reinterpret_cast<void**>(found.receive()))))
        found.release();
    return found;
}

void check(HRESULT hr, const std::string& step)
{
    if (FAILED(hr))
        throw PlayerError(step + ": " + hresultText(hr));
}

// The filter's pin with this direction, and this name when one is given.
oryx::COMPtr<IPin> findPin(IBaseFilter* filter, PIN_DIRECTION direction, const wchar_t* name)
{
    oryx::COMPtr<IEnumPins> pins;
    check(filter->EnumPins(pins.receive()), "can't list a filter's pins");
    oryx::COMPtr<IPin> pin;
    while (pins->Next(1, pin.receive(), nullptr) == S_OK) {
        PIN_INFO info{};
        if (FAILED(pin->QueryPinInfo(&info)))
            continue;
        if (info.pFilter)
            info.pFilter->Release();
        if (info.dir == direction && (!name || std::wcscmp(info.achName, name) == 0))
            return pin;
    }
    return {};
}

} // namespace

PlaybackGraph::PlaybackGraph(const std::wstring& file)
{
    graph = create<IGraphBuilder>(CLSID_FilterGraph, "filter graph manager");
    control = query<IMediaControl>(graph.get());
    events = query<IMediaEvent>(graph.get());
    if (!control || !events)
        throw PlayerError("the filter graph manager lacks IMediaControl or IMediaEvent");

    const HRESULT created = CoCreateInstance(sourceClassId, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                             reinterpret_cast<void**>(source.receive()));
    if (FAILED(created))
        raiseCreationFailure(created);
    const oryx::COMPtr<IFileSourceFilter> loader = query<IFileSourceFilter>(source.get());
    if (!loader)
        throw PlayerError("the Monkey's Audio source has no IFileSourceFilter");
    const HRESULT loaded = loader->Load(file.c_str(), nullptr);
    if (FAILED(loaded))
        throw PlayerError(quoted(file) + " is not a Monkey's Audio file that the codec can read (" +
                          hresultText(loaded) + ")");
    check(graph->AddFilter(source.get(), L"Monkey's Audio source"), "can't add the source to the graph");
    output = findPin(source.get(), PINDIR_OUTPUT, outputPinName);
    if (!output)
        throw PlayerError("the source has no output pin \"PCM Output\"");
}

PlaybackGraph::~PlaybackGraph()
{
    // Stopping is the graph's own business from here on: a failure would
    // change nothing about how the graph is let go.
    control->Stop();
}

PcmFormat PlaybackGraph::offeredFormat() const
{
    oryx::COMPtr<IEnumMediaTypes> types;
    check(output->EnumMediaTypes(types.receive()), "can't list the source's media types");
    MediaTypeOwner type;
    if (types->Next(1, type.receiveAllocated(), nullptr) != S_OK || !type.get())
        throw PlayerError("the source offers no media type for the file");
    return pcmFormatOf(*type.get());
}

REFERENCE_TIME PlaybackGraph::duration() const
{
    const oryx::COMPtr<IMediaSeeking> seeking = query<IMediaSeeking>(output.get());
    if (!seeking)
        throw PlayerError("the source's output pin has no IMediaSeeking");
    REFERENCE_TIME length = 0;
    check(seeking->GetDuration(&length), "the source can't tell the duration");
    return length;
}

std::vector<TagText> PlaybackGraph::tags() const
{
    std::vector<TagText> texts;
    const oryx::COMPtr<IAMMediaContent> content = query<IAMMediaContent>(source.get());
    if (!content)
        return texts;
    for (const TagProperty& property : tagProperties) {
        BstrOwner value;
        // A tag that can't be read leaves its line out: the sound is still
        // worth playing.
        if (SUCCEEDED((content.get()->*property.get)(value.receive())) && !value.text().empty())
            texts.push_back({property.label, value.text()});
    }
    return texts;
}

PcmFormat PlaybackGraph::connectThroughSampleGrabber(Destination destination, ISampleGrabberCB* callback)
{
    const oryx::COMPtr<IBaseFilter> grabberFilter = create<IBaseFilter>(CLSID_SampleGrabber, "Sample Grabber");
    grabber = query<ISampleGrabber>(grabberFilter.get());
    if (!grabber)
        throw PlayerError("the Sample Grabber has no ISampleGrabber");
    AM_MEDIA_TYPE wanted{};
    wanted.majortype = MEDIATYPE_Audio;
    wanted.subtype = MEDIASUBTYPE_PCM;
    wanted.formattype = FORMAT_WaveFormatEx;
    check(grabber->SetMediaType(&wanted), "the Sample Grabber refuses PCM audio");
    check(grabber->SetOneShot(FALSE), "can't set the Sample Grabber to go on");
    check(grabber->SetBufferSamples(FALSE), "can't stop the Sample Grabber keeping samples");
    // 0: SampleCB, which hands over the sample itself without a copy.
    check(grabber->SetCallback(callback, 0), "can't give the Sample Grabber its callback");
    check(graph->AddFilter(grabberFilter.get(), L"Sample Grabber"), "can't add the Sample Grabber to the graph");
    const oryx::COMPtr<IPin> grabberInput = findPin(grabberFilter.get(), PINDIR_INPUT, nullptr);
    const oryx::COMPtr<IPin> grabberOutput = findPin(grabberFilter.get(), PINDIR_OUTPUT, nullptr);
    if (!grabberInput || !grabberOutput)
        throw PlayerError("the Sample Grabber lacks a pin");

    if (destination == Destination::defaultDevice) {
        // Intelligent connection tries the filters already in the graph
        // first, so the grabber comes before the renderer it then finds.
        check(graph->Render(output.get()), "can't render \"PCM Output\" to a sound device");
        oryx::COMPtr<IPin> peer;
        if (FAILED(output->ConnectedTo(peer.receive())) || peer.get() != grabberInput.get())
            throw PlayerError("the graph manager rendered \"PCM Output\" past the Sample Grabber");
    } else {
        const oryx::COMPtr<IBaseFilter> renderer = create<IBaseFilter>(CLSID_NullRenderer, "Null Renderer");
        check(graph->AddFilter(renderer.get(), L"Null Renderer"), "can't add the Null Renderer to the graph");
        const oryx::COMPtr<IPin> rendererInput = findPin(renderer.get(), PINDIR_INPUT, nullptr);
        if (!rendererInput)
            throw PlayerError("the Null Renderer lacks an input pin");
        check(graph->Connect(output.get(), grabberInput.get()), "can't connect \"PCM Output\" to the Sample Grabber");
        check(graph->Connect(grabberOutput.get(), rendererInput.get()),
              "can't connect the Sample Grabber to the Null Renderer");
        const oryx::COMPtr<IMediaFilter> timing = query<IMediaFilter>(graph.get());
        if (!timing)
            throw PlayerError("the filter graph manager has no IMediaFilter");
        check(timing->SetSyncSource(nullptr), "can't take the clock away from the graph");
    }

    MediaTypeOwner connected;
    check(output->ConnectionMediaType(connected.receiveFilled()), "can't read the connection's media type");
    return pcmFormatOf(*connected.get());
}

void PlaybackGraph::seek(REFERENCE_TIME start)
{
    LONGLONG position = start;
    const oryx::COMPtr<IMediaSeeking> graphSeeking = query<IMediaSeeking>(graph.get());
    HRESULT hr = graphSeeking ? graphSeeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr,
                                                           AM_SEEKING_NoPositioning)
                              : E_NOINTERFACE;
    // Without a seeking path through the downstream filters the graph can't
    // seek; the stopped source can still be told where to begin.
    if (hr == E_NOTIMPL || hr == E_NOINTERFACE) {
        const oryx::COMPtr<IMediaSeeking> pinSeeking = query<IMediaSeeking>(output.get());
        position = start;
        hr = pinSeeking ? pinSeeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr,
                                                   AM_SEEKING_NoPositioning)
                        : E_NOINTERFACE;
    }
    check(hr, "can't start at " + formatClock(start));
}

void PlaybackGraph::run()
{
    check(control->Run(), "can't start the graph");
}

void PlaybackGraph::stop()
{
    check(control->Stop(), "can't stop the graph");
}

std::optional<REFERENCE_TIME> PlaybackGraph::position() const
{
    const oryx::COMPtr<IMediaSeeking> seeking = query<IMediaSeeking>(graph.get());
    REFERENCE_TIME now = 0;
    if (!seeking || FAILED(seeking->GetCurrentPosition(&now)))
        return std::nullopt;
    return now;
}

PlaybackGraph::Outcome PlaybackGraph::waitForEvent(long milliseconds)
{
    long code = 0;
    LONG_PTR first = 0;
    LONG_PTR second = 0;
    const HRESULT hr = events->GetEvent(&code, &first, &second, milliseconds);
    if (hr == E_ABORT)
        return {};
    check(hr, "can't read the graph's events");
    const HRESULT reason = HRESULT(first);
    events->FreeEventParams(code, first, second);
    switch (code) {
    case EC_COMPLETE:
        return {Outcome::Kind::complete, S_OK};
    case EC_ERRORABORT:
    case EC_ERRORABORTEX:
        return {Outcome::Kind::aborted, reason};
    case EC_USERABORT:
        return {Outcome::Kind::aborted, E_ABORT};
    default:
        return {};
    }
}

} // namespace apeplay
