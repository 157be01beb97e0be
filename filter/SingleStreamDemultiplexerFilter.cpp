#include "filter/SingleStreamDemultiplexerFilter.h"

#include <exception>

#include "support/AutoLock.h"
#include "support/COMError.h"
#include "support/ComBoundary.h"
#include "support/LossOfRange.h"

namespace {

constexpr wchar_t outputPinName[] = L"PCM Output";
constexpr DWORD seekingCapabilities =
    AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards | AM_SEEKING_CanGetDuration;
// How long a worker that found the allocator decommitted waits before it asks
// again, when no controller wakes it first: only a downstream recommitting on
// its own needs this, and nothing tells us when it does.
constexpr DWORD allocatorRetryMs = 10;

} // namespace

SingleStreamDemultiplexerFilter::SingleStreamDemultiplexerFilter(IUnknown* outer, const wchar_t* name,
                                                                 const CLSID* classId)
    : Filter(outer, name, classId), outputPin(*this)
{
}

SingleStreamDemultiplexerFilter::~SingleStreamDemultiplexerFilter()
{
    stopWorker();
}

void SingleStreamDemultiplexerFilter::stopWorker() noexcept
{
    if (!isRunning())
        return;
    requestStop();
    try {
        beginFlush();
    } catch (...) {
        // A refused flush must not keep the worker alive: it will find the
        // signal once its Receive returns.
    }
    try {
        signal(Exit);
    } catch (...) {
    }
    // Joined before the flush ends, as in deactivate().
    try {
        join();
    } catch (...) {
    }
    try {
        endFlush();
    } catch (...) {
    }
}

void SingleStreamDemultiplexerFilter::activate()
{
    // Not while a seek or a new input holds the stream: lock() found no
    // worker to hold, so unlock() would signal one that was never held and
    // may already wait in a paused renderer's Receive, and wait for it for
    // ever.
    oryx::AutoLock noHolder(pauseLock);
    // The pins first: a worker started before the allocator is committed
    // only finds GetBuffer refused and has to wait for it.
    Filter::activate();
    try {
        allowStreaming();
        start();
        signal(Stream);
    } catch (...) {
        // The filter stays Stopped, so no thread may outlive the failure.
        stopWorker();
        try {
            Filter::deactivate();
        } catch (...) {
            // The start's failure is what the caller must see.
        }
        throw;
    }
}

void SingleStreamDemultiplexerFilter::deactivate()
{
    beginFlush();
    // Only now: should the flush fail, the filter stays active and its
    // worker must stream on. Raised still wakes a worker that waits for the
    // allocator which downstream decommitted when it stopped first.
    requestStop();
    signalIfRunning(Exit);
    // The worker's last EndOfStream must be delivered before EndFlush, not
    // alongside it: downstream, a filter holding its lock across EndFlush and
    // a renderer asking upstream from inside EndOfStream take the same two
    // locks in opposite orders (Wine's Sample Grabber and renderers do).
    join();
    endFlush();
    Filter::deactivate();
}

void SingleStreamDemultiplexerFilter::lock()
{
    pauseLock.lock();
    requestStop();
    try {
        beginFlush();
        signalIfRunning(Hold);
        endFlush();
    } catch (...) {
        unlock();
        throw;
    }
}

void SingleStreamDemultiplexerFilter::unlock()
{
    try {
        allowStreaming();
        signalIfRunning(Stream);
    } catch (...) {
        pauseLock.unlock();
        throw;
    }
    pauseLock.unlock();
}

void SingleStreamDemultiplexerFilter::signalIfRunning(Signal value)
{
    try {
        signal(value);
    } catch (const NotRunningException&) {
    }
}

void SingleStreamDemultiplexerFilter::requestStop()
{
    stopRequested = true;
    if (awaitingAllocator.exchange(false))
        allocatorWake.set();
}

void SingleStreamDemultiplexerFilter::allowStreaming()
{
    stopRequested = false;
}

void SingleStreamDemultiplexerFilter::awaitAllocator()
{
    awaitingAllocator = true;
    if (!stopRequested)
        allocatorWake.wait(allocatorRetryMs);
    awaitingAllocator = false;
}

void SingleStreamDemultiplexerFilter::beginFlush()
{
    outputPin.deliverBeginFlush();
}

void SingleStreamDemultiplexerFilter::endFlush()
{
    outputPin.deliverEndFlush();
}

bool SingleStreamDemultiplexerFilter::supportsByteSeeking()
{
    return false;
}

void SingleStreamDemultiplexerFilter::onThreadStart()
{
}

std::uint32_t SingleStreamDemultiplexerFilter::bufferSize()
{
    return 4096;
}

void SingleStreamDemultiplexerFilter::resetPosition()
{
    oryx::AutoLock lock(positionLock);
    timeFormat = MediaTimeFormat;
    seekCommand = NoSeek;
    segmentStartSample = 0;
    segmentStartTime = 0;
    outputPin.mediaTypesChanged();
}

DWORD SingleStreamDemultiplexerFilter::run()
{
    discontinuityPending = true;
    onThreadStart();
    for (;;) {
        try {
            for (;;) {
                const std::int32_t value = waitForSignal();
                reply(0);
                if (value == Exit) {
                    outputPin.deliverEndOfStream();
                    return 0;
                }
                if (value == Stream) {
                    discontinuityPending = true;
                    streamSamples();
                }
            }
        } catch (const std::exception& e) {
            // The player would otherwise wait for ever at this point. It
            // hears of the error before the end of stream turns into a
            // completion. The worker lives on: a seek or a restart may
            // still play.
            try {
                notifyAbort(oryx::exceptionToHResult(e));
            } catch (const std::exception&) {
                // Outside a graph nobody can be told.
            }
            outputPin.deliverEndOfStream();
        }
    }
}

void SingleStreamDemultiplexerFilter::streamSamples()
{
    for (;;) {
        if (isSignalPending() || stopRequested)
            return;
        bool newSegment = discontinuityPending;
        REFERENCE_TIME segmentStart = 0;
        REFERENCE_TIME segmentStop = 0;
        {
            // Waits here while SetPositions stores a command.
            oryx::AutoLock lock(positionLock);
            const SeekCommand command = seekCommand;
            const std::int64_t target = seekTarget;
            // Cleared first: a seek that fails is reported, not retried by
            // every later restart.
            seekCommand = NoSeek;
            if (command == SeekSample)
                seekToSample(target);
            else if (command == SeekMediaTime)
                seekToMediaTime(target);
            else if (command == SeekByte)
                seekToByte(target);
            newSegment = newSegment || command != NoSeek;
            if (newSegment) {
                segmentStartTime = currentMediaTime();
                segmentStartSample = currentSample();
                segmentStart = segmentStartTime;
                segmentStop = supportsTimeSeeking() ? durationMediaTime() : 0;
            }
        }
        discontinuityPending = newSegment;
        if (newSegment)
            outputPin.deliverNewSegment(segmentStart, segmentStop, 1.0);

        oryx::COMPtr<IMediaSample> sample;
        try {
            sample = outputPin.getDeliveryBuffer(nullptr, nullptr, 0);
        } catch (const std::exception&) {
            // Decommitted by a downstream that stopped before us: our own
            // Stop follows.
            awaitAllocator();
            continue;
        }
        // A flush may have released GetBuffer: not worth a decode.
        if (stopRequested)
            return;
        if (!fillSample(*sample)) {
            try {
                outputPin.deliverEndOfStream();
            } catch (const std::exception&) {
            }
            discontinuityPending = false;
            return;
        }
        if (discontinuityPending) {
            oryx::checkResult(sample->SetDiscontinuity(TRUE), "Can't change discontinuity flag");
            discontinuityPending = false;
        }
        outputPin.deliver(*sample);
    }
}

std::int64_t SingleStreamDemultiplexerFilter::positionIn(TimeFormat format)
{
    switch (format) {
    case ByteFormat:
        return currentByte();
    case SampleFormat:
        return currentSample();
    default:
        return currentMediaTime();
    }
}

std::int64_t SingleStreamDemultiplexerFilter::durationIn(TimeFormat format)
{
    switch (format) {
    case ByteFormat:
        return durationBytes();
    case SampleFormat:
        return durationSamples();
    default:
        return durationMediaTime();
    }
}

SingleStreamDemultiplexerFilter::SeekCommand SingleStreamDemultiplexerFilter::seekCommandFor(TimeFormat format)
{
    switch (format) {
    case ByteFormat:
        return SeekByte;
    case SampleFormat:
        return SeekSample;
    default:
        return SeekMediaTime;
    }
}

STDMETHODIMP SingleStreamDemultiplexerFilter::GetCapabilities(DWORD* capabilities)
{
    if (!capabilities)
        return E_POINTER;
    return oryx::comBoundary([&] {
        oryx::AutoLock lock(positionLock);
        *capabilities = AM_SEEKING_CanGetCurrentPos;
        if (hasInput() && supportsTimeSeeking())
            *capabilities |= seekingCapabilities;
        return S_OK;
    });
}

STDMETHODIMP SingleStreamDemultiplexerFilter::CheckCapabilities(DWORD* capabilities)
{
    if (!capabilities)
        return E_POINTER;
    DWORD available = 0;
    const HRESULT hr = GetCapabilities(&available);
    if (FAILED(hr))
        return hr;
    return (*capabilities & ~available) != 0 ? S_FALSE : S_OK;
}

STDMETHODIMP SingleStreamDemultiplexerFilter::IsFormatSupported(const GUID* format)
{
    if (!format)
        return E_POINTER;
    return oryx::comBoundary([&] {
        if (IsEqualGUID(*format, TIME_FORMAT_SAMPLE) || IsEqualGUID(*format, TIME_FORMAT_MEDIA_TIME))
            return S_OK;
        return IsEqualGUID(*format, TIME_FORMAT_BYTE) && supportsByteSeeking() ? S_OK : S_FALSE;
    });
}

STDMETHODIMP SingleStreamDemultiplexerFilter::QueryPreferredFormat(GUID* format)
{
    if (!format)
        return E_POINTER;
    return oryx::comBoundary([&] {
        *format = supportsTimeSeeking() ? TIME_FORMAT_MEDIA_TIME : TIME_FORMAT_BYTE;
        return S_OK;
    });
}

STDMETHODIMP SingleStreamDemultiplexerFilter::GetTimeFormat(GUID* format)
{
    if (!format)
        return E_POINTER;
    static const GUID* const formats[] = {&TIME_FORMAT_BYTE, &TIME_FORMAT_SAMPLE, &TIME_FORMAT_MEDIA_TIME};
    *format = *formats[timeFormat];
    return S_OK;
}

STDMETHODIMP SingleStreamDemultiplexerFilter::IsUsingTimeFormat(const GUID* format)
{
    if (!format)
        return E_POINTER;
    GUID current;
    GetTimeFormat(&current);
    return IsEqualGUID(*format, current) ? S_OK : S_FALSE;
}

STDMETHODIMP SingleStreamDemultiplexerFilter::SetTimeFormat(const GUID* format)
{
    if (!format)
        return E_POINTER;
    return oryx::comBoundary([&] {
        if (IsEqualGUID(*format, TIME_FORMAT_BYTE) && supportsByteSeeking()) {
            timeFormat = ByteFormat;
            return S_OK;
        }
        if (!supportsTimeSeeking())
            return E_INVALIDARG;
        if (IsEqualGUID(*format, TIME_FORMAT_MEDIA_TIME))
            timeFormat = MediaTimeFormat;
        else if (IsEqualGUID(*format, TIME_FORMAT_SAMPLE))
            timeFormat = SampleFormat;
        else
            return E_INVALIDARG;
        return S_OK;
    });
}

STDMETHODIMP SingleStreamDemultiplexerFilter::GetDuration(LONGLONG* duration)
{
    return GetStopPosition(duration);
}

STDMETHODIMP SingleStreamDemultiplexerFilter::GetStopPosition(LONGLONG* stop)
{
    if (!stop)
        return E_POINTER;
    try {
        // Asked under the lock a new input is opened under: a query that
        // meets a Load waits for the new file instead of finding none.
        oryx::AutoLock lock(positionLock);
        if (!hasInput())
            return VFW_E_NOT_CONNECTED;
        if (supportsTimeSeeking()) {
            *stop = durationIn(timeFormat);
            return S_OK;
        }
        if (supportsByteSeeking() && timeFormat == ByteFormat) {
            *stop = durationBytes();
            return S_OK;
        }
    } catch (...) {
    }
    return E_FAIL;
}

STDMETHODIMP SingleStreamDemultiplexerFilter::GetCurrentPosition(LONGLONG* current)
{
    if (!current)
        return E_POINTER;
    try {
        // Under the lock for the same reason as GetStopPosition.
        oryx::AutoLock lock(positionLock);
        if (!hasInput())
            return VFW_E_NOT_CONNECTED;
        *current = positionIn(timeFormat);
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP SingleStreamDemultiplexerFilter::ConvertTimeFormat(LONGLONG*, const GUID*, LONGLONG, const GUID*)
{
    return E_NOTIMPL;
}

STDMETHODIMP SingleStreamDemultiplexerFilter::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* /*stop*/,
                                                           DWORD stopFlags)
{
    // The stop position is always the end of the input.
    if ((stopFlags & AM_SEEKING_PositioningBitsMask) != 0)
        return E_FAIL;
    const DWORD positioning = currentFlags & AM_SEEKING_PositioningBitsMask;
    if (positioning != AM_SEEKING_NoPositioning && !current)
        return E_POINTER;
    return oryx::comBoundary([&] {
        // The worker is held for the whole call: it carries the stored seek
        // out itself once released, flushed and with a new segment.
        oryx::AutoLock hold(*this);
        oryx::AutoLock lock(positionLock);
        if (!hasInput())
            return VFW_E_NOT_CONNECTED;
        std::int64_t target = 0;
        switch (positioning) {
        case AM_SEEKING_NoPositioning:
            return S_OK;
        case AM_SEEKING_AbsolutePositioning:
            if (*current < 0)
                return E_INVALIDARG;
            target = *current;
            break;
        case AM_SEEKING_RelativePositioning: {
            const std::int64_t position = positionIn(timeFormat);
            if (*current < 0 && -*current > position)
                return E_INVALIDARG;
            target = position + *current;
            break;
        }
        default:
            return E_INVALIDARG;
        }
        seekTarget = target;
        seekCommand = seekCommandFor(timeFormat);
        // positionLock goes before the pause lock, so the worker restarted
        // by unlock() never waits for it while we wait for its answer.
        lock.release();
        return S_OK;
    });
}

STDMETHODIMP SingleStreamDemultiplexerFilter::GetPositions(LONGLONG* current, LONGLONG* stop)
{
    if (!stop)
        return E_POINTER;
    return oryx::comBoundary([&] {
        oryx::AutoLock lock(positionLock);
        const HRESULT hr = GetCurrentPosition(current);
        if (FAILED(hr))
            return hr;
        if (supportsTimeSeeking())
            return GetStopPosition(stop);
        *stop = *current;
        return S_OK;
    });
}

STDMETHODIMP SingleStreamDemultiplexerFilter::GetAvailable(LONGLONG* earliest, LONGLONG* latest)
{
    if (earliest)
        *earliest = 0;
    return latest ? GetStopPosition(latest) : S_OK;
}

STDMETHODIMP SingleStreamDemultiplexerFilter::SetRate(double)
{
    return E_NOTIMPL;
}

STDMETHODIMP SingleStreamDemultiplexerFilter::GetRate(double* rate)
{
    if (!rate)
        return E_POINTER;
    *rate = 1.0;
    return S_OK;
}

STDMETHODIMP SingleStreamDemultiplexerFilter::GetPreroll(LONGLONG* preroll)
{
    if (!preroll)
        return E_POINTER;
    *preroll = 0;
    return S_OK;
}

SingleStreamDemultiplexerFilter::OutputPin::OutputPin(SingleStreamDemultiplexerFilter& owner)
    : MemoryOutputPin(owner, outputPinName), source(owner)
{
}

bool SingleStreamDemultiplexerFilter::OutputPin::checkMediaType(const MediaType& type)
{
    return source.hasInput() && source.isAcceptableType(type);
}

unsigned SingleStreamDemultiplexerFilter::OutputPin::getMediaTypeCount()
{
    return source.hasInput() ? oryx::rangeChecked<unsigned>(source.mediaTypeCount()) : 0;
}

MediaType& SingleStreamDemultiplexerFilter::OutputPin::getPinMediaType(MediaType& out, unsigned index)
{
    if (!source.hasInput())
        throw oryx::COMError(VFW_S_NO_MORE_ITEMS, "Output pin is not connected");
    out.reset();
    source.getMediaType(out, index);
    return out;
}

void SingleStreamDemultiplexerFilter::OutputPin::setMediaType(const MediaType& type)
{
    source.requireAcceptableType(type);
    MemoryOutputPin::setMediaType(type);
}

bool SingleStreamDemultiplexerFilter::OutputPin::decideBufferSize(IMemAllocator& allocator,
                                                                  ALLOCATOR_PROPERTIES& requested)
{
    if (requested.cBuffers < 4)
        requested.cBuffers = 4;
    const std::uint32_t least = source.bufferSize();
    if (oryx::rangeChecked<std::uint32_t>(requested.cbBuffer) < least)
        requested.cbBuffer = oryx::rangeChecked<long>(least);
    ALLOCATOR_PROPERTIES granted{};
    return SUCCEEDED(allocator.SetProperties(&requested, &granted));
}

IUnknown* SingleStreamDemultiplexerFilter::OutputPin::interfaceFor(REFIID iid)
{
    if (IsEqualIID(iid, IID_IMediaSeeking))
        return source.hasInput() ? static_cast<IMediaSeeking*>(&source) : nullptr;
    return MemoryOutputPin::interfaceFor(iid);
}
