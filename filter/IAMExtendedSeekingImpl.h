#pragma once

#include <optional>
#include <string>

#include "filter/ExtendedSeekingInterface.h"
#include "filter/IDispatchImpl.h"

// IAMExtendedSeeking for a source whose stream has named markers (the
// chapters a player lists and seeks to, through IMediaSeeking, at their
// times). Markers are numbered from 1; a number with no marker gives
// E_INVALIDARG. The source plays at rate 1.0 only, so the speed is 1.0 and
// no other is accepted. IDispatch is served from the platform's DirectShow
// control type library, as for IAMMediaContentImpl.
//
// A subclass supplies the three marker suppliers, which may raise (the
// method then returns the error's HRESULT), and QueryInterface, AddRef and
// Release (usually via DelegatingUnknown). It chains interfaceFor to this
// one, which answers IID_IAMExtendedSeeking but neither IID_IUnknown nor
// IID_IDispatch, which are the object's. The suppliers are called on the
// caller's thread without any lock of this mix-in; each answers from one
// consistent state, since another file may be loaded between two calls.
class IAMExtendedSeekingImpl : public IDispatchImpl<IAMExtendedSeeking> {
public:
    struct Marker {
        double seconds; // from the start of the stream
        std::wstring name;
    };

    IAMExtendedSeekingImpl();

    STDMETHOD(get_ExSeekCapabilities)(long* capabilities) override;
    STDMETHOD(get_MarkerCount)(long* count) override;
    STDMETHOD(get_CurrentMarker)(long* marker) override;
    STDMETHOD(GetMarkerTime)(long marker, double* seconds) override;
    STDMETHOD(GetMarkerName)(long marker, BSTR* name) override;
    STDMETHOD(put_PlaybackSpeed)(double speed) override;
    STDMETHOD(get_PlaybackSpeed)(double* speed) override;

    virtual long markerCount() = 0;
    // Marker `number`, or nothing when there is none of that number.
    virtual std::optional<Marker> marker(long number) = 0;
    // The marker whose part of the stream holds the current position; 0
    // when there are no markers.
    virtual long currentMarker() = 0;

    virtual IUnknown* interfaceFor(REFIID iid);

protected:
    ~IAMExtendedSeekingImpl() = default;

private:
    template <typename Use>
    HRESULT withMarker(long number, Use use);
};
