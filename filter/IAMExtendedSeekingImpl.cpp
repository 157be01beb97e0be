#include "filter/IAMExtendedSeekingImpl.h"

#include "filter/BasicString.h"
#include "filter/ControlTypeLibrary.h"
#include "support/COMError.h"
#include "support/ComBoundary.h"

namespace {

constexpr double onlySpeed = 1.0;

} // namespace

IAMExtendedSeekingImpl::IAMExtendedSeekingImpl()
    : IDispatchImpl(controltypes::libraryFile, &controltypes::libraryId, controltypes::libraryMajor,
                    controltypes::libraryMinor, &__uuidof(IAMExtendedSeeking))
{
}

STDMETHODIMP IAMExtendedSeekingImpl::get_ExSeekCapabilities(long* capabilities)
{
    if (!capabilities)
        return E_POINTER;
    return oryx::comBoundary([&] {
        *capabilities = AM_EXSEEK_CANSEEK | (markerCount() > 0 ? AM_EXSEEK_MARKERSEEK : 0);
        return S_OK;
    });
}

STDMETHODIMP IAMExtendedSeekingImpl::get_MarkerCount(long* count)
{
    if (!count)
        return E_POINTER;
    return oryx::comBoundary([&] {
        *count = markerCount();
        return S_OK;
    });
}

STDMETHODIMP IAMExtendedSeekingImpl::get_CurrentMarker(long* marker)
{
    if (!marker)
        return E_POINTER;
    return oryx::comBoundary([&] {
        *marker = currentMarker();
        return S_OK;
    });
}

// `use` stores what the caller asked of marker `number`; E_INVALIDARG
// when there is no such marker, and nothing stored.
template <typename Use>
HRESULT IAMExtendedSeekingImpl::withMarker(long number, Use use)
{
    return oryx::comBoundary([&] {
        const std::optional<Marker> found = marker(number);
        if (!found)
            return E_INVALIDARG;
        use(*found);
        return S_OK;
    });
}

STDMETHODIMP IAMExtendedSeekingImpl::GetMarkerTime(long number, double* seconds)
{
    if (!seconds)
        return E_POINTER;
    return withMarker(number, [&](const Marker& found) { *seconds = found.seconds; });
}

STDMETHODIMP IAMExtendedSeekingImpl::GetMarkerName(long number, BSTR* name)
{
    if (!name)
        return E_POINTER;
    *name = nullptr;
    return withMarker(number, [&](const Marker& found) { *name = newBasicString(found.name); });
}

STDMETHODIMP IAMExtendedSeekingImpl::put_PlaybackSpeed(double speed)
{
    return speed == onlySpeed ? S_OK : E_INVALIDARG;
}

STDMETHODIMP IAMExtendedSeekingImpl::get_PlaybackSpeed(double* speed)
{
    if (!speed)
        return E_POINTER;
    *speed = onlySpeed;
    return S_OK;
}

IUnknown* IAMExtendedSeekingImpl::interfaceFor(REFIID iid)
{
    if (IsEqualIID(iid, __uuidof(IAMExtendedSeeking)))
        return static_cast<IAMExtendedSeeking*>(this);
    return nullptr;
}
