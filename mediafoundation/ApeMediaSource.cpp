#include "mediafoundation/ApeMediaSource.h"

#include <algorithm>
#include <limits>
#include <utility>

#include <mfapi.h>
#include <mferror.h>

#include "format/CodecError.h"
#include "mediafoundation/ApeMediaStream.h"
#include "mediafoundation/LockedGetter.h"
#include "shellprops/ApeFileProperties.h"
#include "shellprops/ApePropertyHandler.h"
#include "mediafoundation/MFByteStreamSource.h"
#include "support/AutoLock.h"
#include "support/ComBoundary.h"

namespace {

constexpr std::int64_t unitsPerSecond = 10'000'000; // Media Foundation's times count 100-ns units
constexpr std::uint32_t samplesPerSecond = 10;      // a sample holds a tenth of a second (the last may hold less)

PROPVARIANT timeValue(std::int64_t time)
{
    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_I8;
    value.hVal.QuadPart = time;
    return value;
}

oryx::COMPtr<IMFMediaType> pcmType(const ape::ApeContainer& format)
{
    const UINT32 blockAlign = static_cast<UINT32>(format.blockAlign());
    oryx::COMPtr<IMFMediaType> type;
    oryx::checkResult(MFCreateMediaType(type.receive()), "Can't make a media type");
    oryx::checkResult(type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio));
    oryx::checkResult(type->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_PCM));
    oryx::checkResult(type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, static_cast<UINT32>(format.channels)));
    oryx::checkResult(type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, format.sampleRate));
    oryx::checkResult(type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, static_cast<UINT32>(format.bitsPerSample)));
    oryx::checkResult(type->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, blockAlign));
    oryx::checkResult(type->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, blockAlign * format.sampleRate));
    oryx::checkResult(type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, TRUE));
    return type;
}

} // namespace

oryx::COMPtr<IMFMediaSource> ApeMediaSource::create(IMFByteStream& stream)
{
    auto decoder = ape::Decompressor::open(std::make_unique<MFByteStreamSource>(stream));
    auto* source = new ApeMediaSource(std::move(decoder));
    oryx::COMPtr<IMFMediaSource> result(source);
    source->initialise();
    return result;
}

ApeMediaSource::ApeMediaSource(std::unique_ptr<ape::Decompressor> decoder)
    : IUnknownImpl(nullptr), decoder(std::move(decoder))
{
}

ApeMediaSource::~ApeMediaSource() = default;

void ApeMediaSource::initialise()
{
    const ape::ApeContainer& format = decoder->container();
    oryx::COMPtr<IMFMediaType> type = pcmType(format);
    IMFMediaType* types[] = {type.get()};
    oryx::COMPtr<IMFStreamDescriptor> descriptor;
    oryx::checkResult(MFCreateStreamDescriptor(0, 1, types, descriptor.receive()), "Can't make the stream descriptor");
    oryx::COMPtr<IMFMediaTypeHandler> handler;
    oryx::checkResult(descriptor->GetMediaTypeHandler(handler.receive()));
    oryx::checkResult(handler->SetCurrentMediaType(type.get()));
    IMFStreamDescriptor* descriptors[] = {descriptor.get()};
    oryx::checkResult(MFCreatePresentationDescriptor(1, descriptors, presentation.receive()),
                      "Can't make the presentation descriptor");
    oryx::checkResult(presentation->SelectStream(0));
    oryx::checkResult(presentation->SetUINT64(MF_PD_DURATION, static_cast<UINT64>(timeOf(decoder->totalBlocks()))));
    stream = new ApeMediaStream(*this, *descriptor);
    streamReference = static_cast<IMFMediaStream*>(stream);
}

IUnknown* ApeMediaSource::interfaceFor(REFIID iid)
{
    if (IUnknown* found = oryx::lookUpInterface<IMFMediaSource, IMFMediaEventGenerator, IMFGetService>(this, iid))
        return found;
    return IUnknownImpl::interfaceFor(iid);
}

STDMETHODIMP ApeMediaSource::GetCharacteristics(DWORD* characteristics)
{
    return lockedGet(lock, isShutdown, characteristics, [&] {
        *characteristics = MFMEDIASOURCE_CAN_SEEK | MFMEDIASOURCE_CAN_PAUSE;
        return S_OK;
    });
}

STDMETHODIMP ApeMediaSource::CreatePresentationDescriptor(IMFPresentationDescriptor** descriptor)
{
    return lockedGet(lock, isShutdown, descriptor, [&] { return presentation->Clone(descriptor); });
}

STDMETHODIMP ApeMediaSource::Start(IMFPresentationDescriptor* descriptor, const GUID* timeFormat,
                                   const PROPVARIANT* startPosition)
{
    return oryx::comBoundaryCatchAll([&] {
        oryx::AutoLock locked(lock);
        if (isShutdown)
            return MF_E_SHUTDOWN;
        if (!descriptor || !startPosition)
            return E_INVALIDARG;
        if (timeFormat && *timeFormat != GUID_NULL)
            return MF_E_UNSUPPORTED_TIME_FORMAT;
        if (startPosition->vt != VT_EMPTY && startPosition->vt != VT_I8)
            return MF_E_UNSUPPORTED_TIME_FORMAT;
        BOOL selected = FALSE;
        oryx::COMPtr<IMFStreamDescriptor> streamDescriptor;
        oryx::checkResult(descriptor->GetStreamDescriptorByIndex(0, &selected, streamDescriptor.receive()));
        const bool seeking = startPosition->vt == VT_I8;
        if (seeking) {
            const std::int64_t rate = decoder->container().sampleRate;
            // Sample-exact as the DirectShow source: the block the time falls in.
            const std::int64_t time = std::clamp<std::int64_t>(startPosition->hVal.QuadPart, 0,
                                                               std::numeric_limits<std::int64_t>::max() / rate);
            position = std::min<std::uint64_t>(static_cast<std::uint64_t>(rate * time / unitsPerSecond),
                                               decoder->totalBlocks());
        }
        const bool seek = seeking && state != State::stopped;
        PROPVARIANT time = timeValue(timeOf(position));
        streamActive = selected != FALSE;
        streamEnded = false;
        discontinuity = true;
        if (streamActive) {
            PROPVARIANT streamValue;
            PropVariantInit(&streamValue);
            streamValue.vt = VT_UNKNOWN;
            streamValue.punkVal = streamReference.get();
            queueEvent(streamAnnounced ? MEUpdatedStream : MENewStream, S_OK, &streamValue);
            streamAnnounced = true;
            stream->queueEvent(seek ? MEStreamSeeked : MEStreamStarted, S_OK, &time);
        }
        queueEvent(seek ? MESourceSeeked : MESourceStarted, S_OK, &time);
        state = State::started;
        // Requests made while paused are answered from the new position.
        while (!waiting.empty() && streamActive) {
            oryx::COMPtr<IUnknown> token = std::move(waiting.front());
            waiting.pop_front();
            answer(token.get());
        }
        return S_OK;
    });
}

STDMETHODIMP ApeMediaSource::Stop()
{
    return oryx::comBoundaryCatchAll([&] {
        std::deque<oryx::COMPtr<IUnknown>> dropped;
        oryx::AutoLock locked(lock);
        if (isShutdown)
            return MF_E_SHUTDOWN;
        state = State::stopped;
        position = 0;
        dropped.swap(waiting);
        if (streamActive)
            stream->queueEvent(MEStreamStopped, S_OK, nullptr);
        queueEvent(MESourceStopped, S_OK, nullptr);
        return S_OK;
    });
}

STDMETHODIMP ApeMediaSource::Pause()
{
    return oryx::comBoundaryCatchAll([&] {
        oryx::AutoLock locked(lock);
        if (isShutdown)
            return MF_E_SHUTDOWN;
        if (state != State::started)
            return MF_E_INVALID_STATE_TRANSITION;
        state = State::paused;
        if (streamActive)
            stream->queueEvent(MEStreamPaused, S_OK, nullptr);
        queueEvent(MESourcePaused, S_OK, nullptr);
        return S_OK;
    });
}

STDMETHODIMP ApeMediaSource::Shutdown()
{
    // Released once no lock is held: one of them may be the last reference.
    oryx::COMPtr<IMFMediaSource> self;
    oryx::COMPtr<IMFMediaStream> ownStream;
    std::unique_ptr<ape::Decompressor> ownDecoder;
    oryx::COMPtr<IPropertyStore> ownProperties;
    std::deque<oryx::COMPtr<IUnknown>> dropped;
    oryx::AutoLock locked(lock);
    if (isShutdown)
        return MF_E_SHUTDOWN;
    isShutdown = true;
    shutdownEvents();
    self = stream->shutdown();
    stream = nullptr;
    ownStream = std::move(streamReference);
    ownDecoder = std::move(decoder);
    ownProperties = std::move(properties);
    dropped.swap(waiting);
    return S_OK;
}

STDMETHODIMP ApeMediaSource::GetService(REFGUID service, REFIID iid, void** out)
{
    if (out)
        *out = nullptr;
    return oryx::comBoundary([&] {
        oryx::AutoLock locked(lock);
        if (isShutdown)
            return MF_E_SHUTDOWN;
        if (!out)
            return E_POINTER;
        if (!IsEqualGUID(service, MF_PROPERTY_HANDLER_SERVICE))
            return MF_E_UNSUPPORTED_SERVICE;
        if (!properties) {
            try {
                properties = ApePropertyHandler::holding(std::make_unique<const ApeFileProperties>(decoder->source()));
            } catch (const ape::CodecError&) {
                return MF_E_UNSUPPORTED_SERVICE;
            }
        }
        return properties->QueryInterface(iid, out);
    });
}

HRESULT ApeMediaSource::requestSample(IUnknown* token)
{
    return oryx::comBoundaryCatchAll([&] {
        oryx::AutoLock locked(lock);
        if (isShutdown)
            return MF_E_SHUTDOWN;
        if (state == State::stopped || !streamActive)
            return MF_E_MEDIA_SOURCE_WRONGSTATE;
        if (streamEnded)
            return MF_E_END_OF_STREAM;
        if (state == State::paused)
            waiting.emplace_back(token);
        else
            answer(token);
        return S_OK;
    });
}

void ApeMediaSource::answer(IUnknown* token)
{
    if (streamEnded)
        return;
    const std::uint64_t total = decoder->totalBlocks();
    if (position >= total) {
        endStream(S_OK);
        return;
    }
    const std::uint32_t rate = decoder->container().sampleRate;
    const std::uint32_t blockAlign = static_cast<std::uint32_t>(decoder->container().blockAlign());
    const std::uint32_t wanted = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(total - position, std::max<std::uint32_t>(rate / samplesPerSecond, 1)));
    oryx::COMPtr<IMFMediaBuffer> buffer;
    oryx::checkResult(MFCreateMemoryBuffer(wanted * blockAlign, buffer.receive()), "Can't make a sample buffer");
    BYTE* bytes = nullptr;
    oryx::checkResult(buffer->Lock(&bytes, nullptr, nullptr));
    int failure = 0;
    std::uint32_t delivered = 0;
    if (decoder->currentBlock() != position)
        failure = decoder->seek(position);
    if (failure == 0)
        failure = decoder->getData(bytes, wanted, &delivered);
    buffer->Unlock();
    // The decoder promised the blocks the container counts: fewer is a
    // damaged file as much as an error code is.
    if (failure != 0 || delivered == 0) {
        endStream(MF_E_INVALID_FILE_FORMAT);
        return;
    }
    oryx::checkResult(buffer->SetCurrentLength(delivered * blockAlign));
    oryx::COMPtr<IMFSample> sample;
    oryx::checkResult(MFCreateSample(sample.receive()), "Can't make a sample");
    oryx::checkResult(sample->AddBuffer(buffer.get()));
    const std::int64_t start = timeOf(position);
    const std::int64_t end = timeOf(position + delivered);
    oryx::checkResult(sample->SetSampleTime(start));
    oryx::checkResult(sample->SetSampleDuration(end - start));
    if (discontinuity)
        oryx::checkResult(sample->SetUINT32(MFSampleExtension_Discontinuity, TRUE));
    if (token)
        oryx::checkResult(sample->SetUnknown(MFSampleExtension_Token, token));
    position += delivered;
    discontinuity = false;
    stream->queueEvent(MEMediaSample, *sample);
}

void ApeMediaSource::endStream(HRESULT status)
{
    streamEnded = true;
    // MEError alone leaves a pipeline waiting for samples that never come;
    // the end of the stream after it lets every consumer finish.
    if (FAILED(status)) {
        stream->queueEvent(MEError, status, nullptr);
        queueEvent(MEError, status, nullptr);
    }
    stream->queueEvent(MEEndOfStream, S_OK, nullptr);
    queueEvent(MEEndOfPresentation, S_OK, nullptr);
}

std::int64_t ApeMediaSource::timeOf(std::uint64_t block) const
{
    const std::int64_t rate = decoder->container().sampleRate;
    return static_cast<std::int64_t>(block) * unitsPerSecond / rate;
}
