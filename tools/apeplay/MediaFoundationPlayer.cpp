#include "MediaFoundationPlayer.h"

#include <algorithm>

#include <mfapi.h>
#include <mferror.h>
#include <propkey.h>
#include <propsys.h>

#include "ConsoleText.h"
#include "PlayerError.h"

namespace apeplay {

namespace {

void check(HRESULT hr, const char* what)
{
    if (FAILED(hr))
        throw PlayerError(std::string(what) + ": " + hresultText(hr));
}

PROPVARIANT timeValue(REFERENCE_TIME time)
{
    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_I8;
    value.hVal.QuadPart = time;
    return value;
}

// A media session's next event, waiting up to `milliseconds`; null if none.
oryx::COMPtr<IMFMediaEvent> nextEvent(IMFMediaSession& session, DWORD milliseconds)
{
    const ULONGLONG until = GetTickCount64() + milliseconds;
    for (;;) {
        oryx::COMPtr<IMFMediaEvent> event;
        const HRESULT hr = session.GetEvent(MF_EVENT_FLAG_NO_WAIT, event.receive());
        if (SUCCEEDED(hr))
            return event;
        if (hr != MF_E_NO_EVENTS_AVAILABLE)
            check(hr, "the media session failed");
        if (GetTickCount64() >= until)
            return {};
        Sleep(10);
    }
}

// The store's keys for the DirectShow engine's labels, in its order.
struct TagKey {
    const char* label;
    const PROPERTYKEY* key;
};
const TagKey tagKeys[] = {
    {"Author", &PKEY_Music_Artist},
    {"Title", &PKEY_Title},
    {"Description", &PKEY_Comment},
    {"Copyright", &PKEY_Copyright},
};

// A text value, several strings joined by "; "; empty for anything else.
std::wstring textOf(const PROPVARIANT& value)
{
    if (value.vt == VT_LPWSTR)
        return value.pwszVal;
    std::wstring text;
    if (value.vt == (VT_VECTOR | VT_LPWSTR))
        for (ULONG i = 0; i < value.calpwstr.cElems; ++i)
            text += (i ? L"; " : L"") + std::wstring(value.calpwstr.pElems[i]);
    return text;
}

} // namespace

MediaFoundationPlayer::Startup::Startup()
{
    check(MFStartup(MF_VERSION, MFSTARTUP_FULL), "can't start Media Foundation");
}

MediaFoundationPlayer::Startup::~Startup()
{
    MFShutdown();
}

MediaFoundationPlayer::MediaFoundationPlayer(const std::wstring& file)
{
    oryx::COMPtr<IMFSourceResolver> resolver;
    check(MFCreateSourceResolver(resolver.receive()), "can't make a source resolver");
    MF_OBJECT_TYPE type = MF_OBJECT_INVALID;
    oryx::COMPtr<IUnknown> object;
    const HRESULT hr =
        resolver->CreateObjectFromURL(file.c_str(), MF_RESOLUTION_MEDIASOURCE, nullptr, &type, object.receive());
    if (FAILED(hr))
        throw PlayerError("\"" + toUtf8(file) + "\" is not a Monkey's Audio file (" + hresultText(hr) +
                          "), or apemf.dll is not registered");
    source = object.get();
    check(source->CreatePresentationDescriptor(presentation.receive()), "the source gives no presentation");
    UINT64 duration = 0;
    check(presentation->GetUINT64(MF_PD_DURATION, &duration), "the source gives no duration");
    length = static_cast<REFERENCE_TIME>(duration);
    BOOL selected = FALSE;
    oryx::COMPtr<IMFStreamDescriptor> stream;
    check(presentation->GetStreamDescriptorByIndex(0, &selected, stream.receive()), "the source has no stream");
    oryx::COMPtr<IMFMediaTypeHandler> types;
    check(stream->GetMediaTypeHandler(types.receive()), "the stream has no types");
    oryx::COMPtr<IMFMediaType> pcm;
    check(types->GetMediaTypeByIndex(0, pcm.receive()), "the stream has no type");
    UINT32 channels = 0, rate = 0, bits = 0;
    check(pcm->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &channels), "the stream's type has no channel count");
    check(pcm->GetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, &rate), "the stream's type has no rate");
    check(pcm->GetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, &bits), "the stream's type has no sample width");
    format = PcmFormat{static_cast<WORD>(channels), rate, static_cast<WORD>(bits)};
}

std::vector<TagText> MediaFoundationPlayer::tags() const
{
    std::vector<TagText> texts;
    oryx::COMPtr<IMFGetService> services;
    services = source.get();
    oryx::COMPtr<IPropertyStore> store;
    if (!services || FAILED(services->GetService(MF_PROPERTY_HANDLER_SERVICE, IID_IPropertyStore,
                                                 reinterpret_cast<void**>(store.receive()))))
        return texts;
    for (const TagKey& tag : tagKeys) {
        PROPVARIANT value;
        PropVariantInit(&value);
        // A tag that can't be read leaves its line out: the sound is still
        // worth playing.
        if (SUCCEEDED(store->GetValue(*tag.key, &value)))
            if (std::wstring text = textOf(value); !text.empty())
                texts.push_back({tag.label, std::move(text)});
        PropVariantClear(&value);
    }
    return texts;
}

MediaFoundationPlayer::~MediaFoundationPlayer()
{
    if (source)
        source->Shutdown();
}

std::uint64_t MediaFoundationPlayer::convert(REFERENCE_TIME start, std::uint64_t limit,
                                             const std::function<void(const BYTE*, DWORD)>& sink,
                                             const std::function<void(std::uint64_t bytes)>& tick)
{
    oryx::COMPtr<IMFSourceReader> reader;
    check(MFCreateSourceReaderFromMediaSource(source.get(), nullptr, reader.receive()), "can't make a source reader");
    if (start > 0) {
        const PROPVARIANT position = timeValue(start);
        check(reader->SetCurrentPosition(GUID_NULL, position), "can't seek");
    }
    std::uint64_t bytes = 0;
    while (bytes < limit) {
        DWORD index = 0, flags = 0;
        LONGLONG time = 0;
        oryx::COMPtr<IMFSample> sample;
        const HRESULT hr = reader->ReadSample(static_cast<DWORD>(MF_SOURCE_READER_FIRST_AUDIO_STREAM), 0, &index,
                                              &flags, &time, sample.receive());
        if (FAILED(hr) || (flags & MF_SOURCE_READERF_ERROR))
            throw PlayerError("the stream failed after " + std::to_string(bytes) + " bytes (" +
                              hresultText(FAILED(hr) ? hr : E_FAIL) + "): the file may be damaged or truncated");
        if (sample) {
            oryx::COMPtr<IMFMediaBuffer> buffer;
            check(sample->ConvertToContiguousBuffer(buffer.receive()), "can't read a sample");
            BYTE* data = nullptr;
            DWORD size = 0;
            check(buffer->Lock(&data, nullptr, &size), "can't read a sample");
            size = static_cast<DWORD>(std::min<std::uint64_t>(size, limit - bytes));
            sink(data, size);
            buffer->Unlock();
            bytes += size;
            tick(bytes);
        }
        if (flags & MF_SOURCE_READERF_ENDOFSTREAM)
            break;
    }
    return bytes;
}

void MediaFoundationPlayer::play(REFERENCE_TIME start, std::optional<REFERENCE_TIME> stop, DWORD refreshMilliseconds,
                                 const std::function<void(REFERENCE_TIME)>& tick)
{
    oryx::COMPtr<IMFMediaSession> session;
    check(MFCreateMediaSession(nullptr, session.receive()), "can't make a media session");
    // The session must be closed and shut down however playing ends.
    struct Closer {
        IMFMediaSession& session;
        ~Closer()
        {
            if (SUCCEEDED(session.Close())) {
                for (oryx::COMPtr<IMFMediaEvent> event; (event = nextEvent(session, 5000));) {
                    MediaEventType type = MEUnknown;
                    event->GetType(&type);
                    if (type == MESessionClosed)
                        break;
                }
            }
            session.Shutdown();
        }
    } closer{*session};

    oryx::COMPtr<IMFTopology> topology;
    check(MFCreateTopology(topology.receive()), "can't make a topology");
    BOOL selected = FALSE;
    oryx::COMPtr<IMFStreamDescriptor> stream;
    check(presentation->GetStreamDescriptorByIndex(0, &selected, stream.receive()), "the source has no stream");
    oryx::COMPtr<IMFTopologyNode> input, output;
    check(MFCreateTopologyNode(MF_TOPOLOGY_SOURCESTREAM_NODE, input.receive()), "can't make a topology node");
    check(input->SetUnknown(MF_TOPONODE_SOURCE, source.get()), "can't build the topology");
    check(input->SetUnknown(MF_TOPONODE_PRESENTATION_DESCRIPTOR, presentation.get()), "can't build the topology");
    check(input->SetUnknown(MF_TOPONODE_STREAM_DESCRIPTOR, stream.get()), "can't build the topology");
    // The session ends the presentation there by itself.
    if (stop)
        check(input->SetUINT64(MF_TOPONODE_MEDIASTOP, static_cast<UINT64>(*stop)), "can't build the topology");
    oryx::COMPtr<IMFActivate> renderer;
    check(MFCreateAudioRendererActivate(renderer.receive()), "no audio renderer");
    check(MFCreateTopologyNode(MF_TOPOLOGY_OUTPUT_NODE, output.receive()), "can't make a topology node");
    check(output->SetObject(renderer.get()), "can't build the topology");
    check(topology->AddNode(input.get()), "can't build the topology");
    check(topology->AddNode(output.get()), "can't build the topology");
    check(input->ConnectOutput(0, output.get(), 0), "can't build the topology");
    check(session->SetTopology(0, topology.get()), "the session refuses the topology");
    const PROPVARIANT position = timeValue(start);
    check(session->Start(&GUID_NULL, &position), "the session does not start");

    oryx::COMPtr<IMFClock> clock;
    oryx::COMPtr<IMFPresentationClock> presentationClock;
    REFERENCE_TIME shown = start;
    for (;;) {
        oryx::COMPtr<IMFMediaEvent> event = nextEvent(*session, refreshMilliseconds);
        if (event) {
            MediaEventType type = MEUnknown;
            HRESULT status = S_OK;
            event->GetType(&type);
            event->GetStatus(&status);
            if (FAILED(status) || type == MEError)
                throw PlayerError("the stream failed (" + hresultText(FAILED(status) ? status : E_FAIL) +
                                  "): the file may be damaged or truncated");
            if (type == MESessionEnded)
                break;
        }
        if (!presentationClock && SUCCEEDED(session->GetClock(clock.receive())))
            presentationClock = clock.get();
        // The clock reads 0 until the session runs and once it has stopped.
        MFTIME now = 0;
        if (presentationClock && SUCCEEDED(presentationClock->GetTime(&now)))
            shown = std::max<REFERENCE_TIME>(shown, now);
        tick(shown);
    }
    tick(stop.value_or(length));
}

} // namespace apeplay
