#include "mediafoundation/ApeMediaSource.h"

#include <algorithm>
#include <limits>
#include <utility>

#include <mfapi.h>
#include <mferror.h>

#include "format/CodecError.h"
#include "mediafoundation/ApeMediaStream.h"
#include "mediafoundation/LockedGetter.h"
#include "mediafoundation/MFByteStreamSource.h"
#include "mediafoundation/MediaFoundationIdentifiers.h"
#include "mediafoundation/TagMetadata.h"
#include "mediafoundation/WorkQueueTask.h"
#include "shellprops/ApeFileProperties.h"
#include "shellprops/ApePropertyHandler.h"
#include "shellprops/PropertyHandlerIdentifiers.h"
#include "support/AutoLock.h"
#include "support/ComBoundary.h"

namespace {

constexpr std::int64_t unitsPerSecond = 10'000'000; // Media Foundation's times count 100-ns units
constexpr std::uint32_t samplesPerSecond = 10;      // a sample holds a tenth of a second (the last may hold less)
constexpr std::uint32_t maximumSampleBytes = 1 << 20;

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
    // The codec refuses rates beyond a few MHz, so the product fits; the
    // clamp keeps that promise out of this function's correctness.
    const UINT32 bytesPerSecond = static_cast<UINT32>(
        std::min<std::uint64_t>(std::uint64_t{blockAlign} * format.sampleRate, std::numeric_limits<UINT32>::max()));
    oryx::COMPtr<IMFMediaType> type;
    oryx::checkResult(MFCreateMediaType(type.receive()), "Can't make a media type");
    oryx::checkResult(type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio));
    oryx::checkResult(type->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_PCM));
    oryx::checkResult(type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, static_cast<UINT32>(format.channels)));
    oryx::checkResult(type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, format.sampleRate));
    oryx::checkResult(type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, static_cast<UINT32>(format.bitsPerSample)));
    oryx::checkResult(type->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, blockAlign));
    oryx::checkResult(type->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, bytesPerSecond));
    oryx::checkResult(type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, TRUE));
    return type;
}

// The tag texts and format as the shell's property handler gives them; null
// for a file whose audio is cut short, which the handler refuses too.
oryx::COMPtr<IPropertyStore> readProperties(oryx::SeekingByteSource& source)
{
    try {
        return ApePropertyHandler::holding(std::make_unique<const ApeFileProperties>(source));
    } catch (const ape::CodecError&) {
        // A stream that fails is refused as the codec refuses it elsewhere.
        if (FAILED(source.failure()))
            throw;
        return nullptr;
    }
}

} // namespace

// What one read gives: the buffer with `blocks` blocks decoded, or the
// failure that ends the stream.
struct ApeMediaSource::Decoded {
    oryx::COMPtr<IMFMediaBuffer> buffer;
    std::uint32_t blocks = 0;
    HRESULT failure = S_OK;
};

oryx::COMPtr<IMFMediaSource> ApeMediaSource::create(IMFByteStream& stream)
{
    auto byteSource = std::make_unique<MFByteStreamSource>(stream);
    MFByteStreamSource& reader = *byteSource;
    auto decoder = ape::Decompressor::open(std::move(byteSource));
    auto* source = new ApeMediaSource(std::move(decoder), reader);
    oryx::COMPtr<IMFMediaSource> result(source);
    source->initialise(stream);
    return result;
}

ApeMediaSource::ApeMediaSource(std::unique_ptr<ape::Decompressor> decoder, oryx::SeekingByteSource& byteSource)
    : IUnknownImpl(nullptr), byteSource(&byteSource), decoder(std::move(decoder))
{
}

ApeMediaSource::~ApeMediaSource() = default;

void ApeMediaSource::initialise(IMFByteStream& byteStream)
{
    const ape::ApeContainer& format = decoder->container();
    rate = format.sampleRate;
    blockAlign = static_cast<std::uint32_t>(format.blockAlign());
    totalBlocks = decoder->totalBlocks();
    blocksPerSample = std::clamp<std::uint32_t>(rate / samplesPerSecond, 1, maximumSampleBytes / blockAlign);
    properties = readProperties(*byteSource);

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
    oryx::checkResult(presentation->SetUINT64(MF_PD_DURATION, static_cast<UINT64>(timeOf(totalBlocks))));
    oryx::checkResult(presentation->SetString(mfattribute::presentationMimeType, apeMimeType));
    QWORD length = 0;
    if (SUCCEEDED(byteStream.GetLength(&length)))
        oryx::checkResult(presentation->SetUINT64(mfattribute::presentationTotalFileSize, length));
    if (properties) {
        PROPVARIANT bitrate;
        PropVariantInit(&bitrate);
        if (SUCCEEDED(properties->GetValue(propertykey::encodingBitrate, &bitrate)) && bitrate.vt == VT_UI4)
            oryx::checkResult(presentation->SetUINT32(mfattribute::presentationAudioEncodingBitrate, bitrate.ulVal));
        PropVariantClear(&bitrate);
    }
    stream = new ApeMediaStream(*this, *descriptor);
    streamReference = static_cast<IMFMediaStream*>(stream);
}

IUnknown* ApeMediaSource::interfaceFor(REFIID iid)
{
    if (IUnknown* found = oryx::lookUpInterface<IMFMediaSource, IMFMediaEventGenerator, IMFGetService,
                                                IMFMetadataProvider, IMFRateSupport, IMFRateControl>(this, iid))
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
        std::deque<oryx::COMPtr<IUnknown>> dropped;
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

        const bool positioned = startPosition->vt == VT_I8;
        const std::uint64_t from = positioned ? blockNearest(startPosition->hVal.QuadPart) : position;
        const std::int64_t requested = positioned ? startPosition->hVal.QuadPart : timeOf(from);
        const bool seek = positioned && state != State::stopped;
        PROPVARIANT time = timeValue(requested);
        oryx::COMPtr<IMFMediaEvent> started;
        oryx::checkResult(
            MFCreateMediaEvent(seek ? MESourceSeeked : MESourceStarted, GUID_NULL, S_OK, &time, started.receive()));
        oryx::checkResult(started->SetUINT64(MF_EVENT_SOURCE_ACTUAL_START, static_cast<UINT64>(timeOf(from))));

        // Everything that can fail is done; from here on the events go out.
        const bool wasActive = streamActive;
        // A plain resume continues the samples; it never drops the mark a
        // seek not yet followed by a sample left for the next one.
        discontinuity = discontinuity || positioned || state == State::stopped;
        position = from;
        streamActive = selected != FALSE;
        streamEnded = false;
        ++generation;
        state = State::started;

        if (streamActive) {
            PROPVARIANT streamValue;
            PropVariantInit(&streamValue);
            streamValue.vt = VT_UNKNOWN;
            streamValue.punkVal = streamReference.get();
            queueEvent(wasActive ? MEUpdatedStream : MENewStream, S_OK, &streamValue);
        }
        // The stream's event is queued before the source's, as Wine's own
        // media source queues them. Microsoft's guide lists the source's
        // first, but Wine's source reader reads on as soon as the source's
        // event arrives: with the stream's second, it may find the stream
        // still at its end and end the first read after a seek at once. The
        // two go to different queues; a client that waits for both sees no
        // difference.
        if (streamActive)
            stream->queueEvent(seek ? MEStreamSeeked : MEStreamStarted, S_OK, &time);
        queueEvent(*started);
        // Requests made while paused are answered on a resume. A new position
        // flushes them, as a seek flushes the pipeline: samples answering them
        // would reach it before it has taken in the seek.
        if (streamActive && !positioned)
            startReading();
        else
            dropped.swap(requests);
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
        ++generation;
        dropped.swap(requests);
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
        ++generation;
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
    // A read under way finishes with the decoder and releases it then.
    if (!reading)
        ownDecoder = std::move(decoder);
    ownProperties = std::move(properties);
    dropped.swap(requests);
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
        if (IsEqualGUID(service, MF_RATE_CONTROL_SERVICE))
            return controllingUnknown()->QueryInterface(iid, out);
        if (!properties)
            return MF_E_UNSUPPORTED_SERVICE;
        if (IsEqualGUID(service, MF_PROPERTY_HANDLER_SERVICE))
            return properties->QueryInterface(iid, out);
        if (IsEqualGUID(service, MF_METADATA_PROVIDER_SERVICE))
            return controllingUnknown()->QueryInterface(iid, out);
        return MF_E_UNSUPPORTED_SERVICE;
    });
}

STDMETHODIMP ApeMediaSource::GetMFMetadata(IMFPresentationDescriptor* descriptor, DWORD streamId, DWORD /*flags*/,
                                           IMFMetadata** metadata)
{
    return lockedGet(lock, isShutdown, metadata, [&] {
        if (!descriptor)
            return E_INVALIDARG;
        if (streamId != 0)
            return MF_E_INVALIDSTREAMNUMBER;
        if (!properties)
            return MF_E_UNSUPPORTED_SERVICE;
        oryx::COMPtr<IMFMetadata> made(new TagMetadata(*properties));
        return handOut(made.get(), metadata);
    });
}

STDMETHODIMP ApeMediaSource::GetSlowestRate(MFRATE_DIRECTION direction, BOOL thin, float* rate)
{
    return lockedGet(lock, isShutdown, rate, [&] {
        *rate = 0.0f;
        if (direction == MFRATE_REVERSE)
            return MF_E_REVERSE_UNSUPPORTED;
        return thin ? MF_E_THINNING_UNSUPPORTED : S_OK;
    });
}

STDMETHODIMP ApeMediaSource::GetFastestRate(MFRATE_DIRECTION direction, BOOL thin, float* rate)
{
    return lockedGet(lock, isShutdown, rate, [&] {
        *rate = 0.0f;
        if (direction == MFRATE_REVERSE)
            return MF_E_REVERSE_UNSUPPORTED;
        if (thin)
            return MF_E_THINNING_UNSUPPORTED;
        *rate = maximumRate;
        return S_OK;
    });
}

STDMETHODIMP ApeMediaSource::IsRateSupported(BOOL thin, float rate, float* nearest)
{
    if (nearest)
        *nearest = 1.0f;
    oryx::AutoLock locked(lock);
    if (isShutdown)
        return MF_E_SHUTDOWN;
    if (thin)
        return MF_E_THINNING_UNSUPPORTED;
    if (rate < 0.0f)
        return MF_E_REVERSE_UNSUPPORTED;
    const float supported = std::min(rate, maximumRate);
    if (nearest)
        *nearest = supported;
    return supported == rate ? S_OK : MF_E_UNSUPPORTED_RATE;
}

STDMETHODIMP ApeMediaSource::SetRate(BOOL thin, float rate)
{
    if (const HRESULT supported = IsRateSupported(thin, rate, nullptr); FAILED(supported))
        return supported;
    return oryx::comBoundary([&] {
        oryx::AutoLock locked(lock);
        if (isShutdown)
            return MF_E_SHUTDOWN;
        playRate = rate;
        PROPVARIANT value;
        PropVariantInit(&value);
        value.vt = VT_R4;
        value.fltVal = rate;
        queueEvent(MESourceRateChanged, S_OK, &value);
        return S_OK;
    });
}

STDMETHODIMP ApeMediaSource::GetRate(BOOL* thin, float* rate)
{
    return lockedGet(lock, isShutdown, rate, [&] {
        if (thin)
            *thin = FALSE;
        *rate = playRate;
        return S_OK;
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
        requests.emplace_back(token);
        if (state == State::started)
            startReading();
        return S_OK;
    });
}

void ApeMediaSource::startReading()
{
    if (reading || requests.empty())
        return;
    oryx::COMPtr<IMFMediaSource> self(this);
    try {
        WorkQueueTask::post([self] { static_cast<ApeMediaSource*>(self.get())->readSamples(); });
    } catch (const std::exception& error) {
        // The call that asked succeeded; the failure ends the stream.
        endStream(oryx::exceptionToHResult(error));
        return;
    }
    reading = true;
}

void ApeMediaSource::readSamples()
{
    try {
        while (readOneSample()) {
        }
    } catch (const std::exception& error) {
        // Making a sample or queuing an event failed: the stream ends with
        // the failure rather than leave its requests unanswered.
        std::deque<oryx::COMPtr<IUnknown>> dropped;
        oryx::AutoLock locked(lock);
        reading = false;
        if (!isShutdown && !streamEnded) {
            dropped.swap(requests);
            try {
                endStream(oryx::exceptionToHResult(error));
            } catch (const std::exception&) {
            }
        }
    }
}

bool ApeMediaSource::readOneSample()
{
    std::uint64_t from = 0;
    std::uint32_t blocks = 0;
    std::uint64_t started = 0;
    {
        std::unique_ptr<ape::Decompressor> ownDecoder; // released once the lock is not held
        std::deque<oryx::COMPtr<IUnknown>> dropped;
        oryx::AutoLock locked(lock);
        if (isShutdown || state != State::started || requests.empty() || streamEnded) {
            reading = false;
            if (isShutdown)
                ownDecoder = std::move(decoder);
            return false;
        }
        if (position >= totalBlocks) {
            dropped.swap(requests);
            reading = false;
            endStream(S_OK);
            return false;
        }
        from = position;
        blocks = static_cast<std::uint32_t>(std::min<std::uint64_t>(totalBlocks - position, blocksPerSample));
        started = generation;
    }
    Decoded decoded = decode(from, blocks);
    std::deque<oryx::COMPtr<IUnknown>> dropped;
    oryx::COMPtr<IUnknown> token;
    oryx::AutoLock locked(lock);
    // A Start, Pause or Stop came while this read ran: its request is
    // answered, if at all, from where that call left the source.
    if (isShutdown || started != generation)
        return true;
    if (FAILED(decoded.failure)) {
        dropped.swap(requests);
        reading = false;
        endStream(decoded.failure);
        return false;
    }
    token = std::move(requests.front());
    requests.pop_front();
    oryx::COMPtr<IMFSample> sample;
    oryx::checkResult(MFCreateSample(sample.receive()), "Can't make a sample");
    oryx::checkResult(sample->AddBuffer(decoded.buffer.get()));
    const std::int64_t start = timeOf(position);
    const std::int64_t end = timeOf(position + decoded.blocks);
    oryx::checkResult(sample->SetSampleTime(start));
    oryx::checkResult(sample->SetSampleDuration(end - start));
    if (discontinuity)
        oryx::checkResult(sample->SetUINT32(MFSampleExtension_Discontinuity, TRUE));
    if (token)
        oryx::checkResult(sample->SetUnknown(MFSampleExtension_Token, token.get()));
    position += decoded.blocks;
    discontinuity = false;
    stream->queueEvent(MEMediaSample, *sample);
    return true;
}

ApeMediaSource::Decoded ApeMediaSource::decode(std::uint64_t from, std::uint32_t blocks)
{
    Decoded decoded;
    try {
        oryx::checkResult(MFCreateMemoryBuffer(blocks * blockAlign, decoded.buffer.receive()),
                          "Can't make a sample buffer");
        BYTE* bytes = nullptr;
        oryx::checkResult(decoded.buffer->Lock(&bytes, nullptr, nullptr));
        int failure = 0;
        if (decoder->currentBlock() != from)
            failure = decoder->seek(from);
        if (failure == 0)
            failure = decoder->getData(bytes, blocks, &decoded.blocks);
        decoded.buffer->Unlock();
        // The decoder promised the blocks the container counts: fewer is a
        // damaged file as much as an error code is. A stream that failed
        // (a network share gone) is reported as what it is.
        if (failure != 0 || decoded.blocks == 0) {
            decoded.failure = byteSource->failureOr(MF_E_INVALID_FILE_FORMAT);
            return decoded;
        }
        oryx::checkResult(decoded.buffer->SetCurrentLength(decoded.blocks * blockAlign));
    } catch (const std::exception& error) {
        decoded.failure = oryx::exceptionToHResult(error);
    }
    return decoded;
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

std::uint64_t ApeMediaSource::blockNearest(std::int64_t time) const
{
    const std::int64_t bounded =
        std::clamp<std::int64_t>(time, 0, std::numeric_limits<std::int64_t>::max() / std::int64_t{rate});
    const std::uint64_t below =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(bounded * rate / unitsPerSecond), totalBlocks);
    // Stamps round down, so `below`'s stamp is at or before the time and
    // the next block's at or after it; the nearer of the two wins.
    if (below < totalBlocks && timeOf(below + 1) - bounded < bounded - timeOf(below))
        return below + 1;
    return below;
}

std::int64_t ApeMediaSource::timeOf(std::uint64_t block) const
{
    return static_cast<std::int64_t>(block) * unitsPerSecond / std::int64_t{rate};
}
