// The engine's IMediaSeeking, which the graph reaches through the output
// pin: queries answer under positionLock; a seek holds the worker through
// the pause lock, stores a command and carries it out before letting the
// worker go.
#include "filter/SingleStreamDemultiplexerFilter.h"

#include <limits>

#include "support/AutoLock.h"
#include "support/ComBoundary.h"

namespace {

constexpr DWORD seekingCapabilities =
    AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards | AM_SEEKING_CanGetDuration;

} // namespace

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
        // The worker is held for the whole call; releasing it carries the
        // stored seek out, and the worker starts a new segment.
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
            // Positions are never negative, so neither bound overflows.
            if (*current < -position || *current > std::numeric_limits<std::int64_t>::max() - position)
                return E_INVALIDARG;
            target = position + *current;
            break;
        }
        default:
            return E_INVALIDARG;
        }
        seekTarget = target;
        seekCommand = seekCommandFor(timeFormat);
        // An earlier seek's failure not yet reported is overtaken by this one.
        seekFailure = nullptr;
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
