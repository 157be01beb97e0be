#pragma once

#include <string>
#include <vector>

#include <dshow.h>

#include "com/DelegatingUnknown.h"
#include "com/IUnknownImpl.h"
#include "filter/ListEnumeration.h"
#include "filter/MediaType.h"
#include "support/COMPtr.h"

class Filter;

// The base of every pin: IPin and IQualityControl once for all. A pin
// belongs to one Filter; its references are the filter's (AddRef and
// Release go to the filter), so holding a pin holds its filter.
//
// A subclass must supply getMediaTypeCount() and getPinMediaType() (the
// types it offers, in order of preference). It may override
// checkMediaType() (default: exactly equal to an offered type),
// checkConnection(), completeConnection(), breakConnection() and
// setMediaType() to take part in connecting, internalConnections(), and
// activate()/deactivate(), which the filter calls under its stateLock.
// Every connection hook runs under the filter's filterLock, which
// Connect, ReceiveConnection, Disconnect, ConnectedTo, ConnectionMediaType,
// QueryId and SetSink hold for their whole run; Connect keeps holding it
// while it calls the other pin. QueryDirection, QueryPinInfo, QueryAccept and
// EnumMediaTypes take no lock.
class Pin : public oryx::DelegatingUnknown<Pin, IPin>,
            public oryx::IUnknownImpl,
            public oryx::DelegatingUnknown<Pin, IQualityControl> {
public:
    class MediaTypeEnumeration;

    // `name` is copied; it is also the pin's identifier.
    Pin(Filter& filter, const wchar_t* name, PIN_DIRECTION direction);
    ~Pin() override;

    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;

    // IPin
    STDMETHOD(Connect)(IPin* receivePin, const AM_MEDIA_TYPE* type) override;
    STDMETHOD(ReceiveConnection)(IPin* connector, const AM_MEDIA_TYPE* type) override;
    STDMETHOD(Disconnect)() override;
    STDMETHOD(ConnectedTo)(IPin** out) override;
    STDMETHOD(ConnectionMediaType)(AM_MEDIA_TYPE* out) override;
    STDMETHOD(QueryPinInfo)(PIN_INFO* info) override;
    STDMETHOD(QueryDirection)(PIN_DIRECTION* out) override;
    STDMETHOD(QueryId)(LPWSTR* out) override;
    STDMETHOD(QueryAccept)(const AM_MEDIA_TYPE* type) override;
    STDMETHOD(EnumMediaTypes)(IEnumMediaTypes** out) override;
    STDMETHOD(QueryInternalConnections)(IPin** pins, ULONG* count) override;
    STDMETHOD(EndOfStream)() override;
    STDMETHOD(BeginFlush)() override;
    STDMETHOD(EndFlush)() override;
    STDMETHOD(NewSegment)(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
    // IQualityControl: quality messages are not acted on.
    STDMETHOD(Notify)(IBaseFilter* sender, Quality quality) override;
    STDMETHOD(SetSink)(IQualityControl* sink) override;

    IUnknown* interfaceFor(REFIID iid) override;

    virtual void breakConnection();
    virtual void checkConnection(IPin* pin);
    virtual void completeConnection();
    virtual void setMediaType(const MediaType& type);
    // Raises COMError(E_NOTIMPL); an override fills `list`.
    virtual void internalConnections(std::vector<oryx::COMPtr<IPin>>& list);
    virtual unsigned getMediaTypeCount() = 0;
    // Sets every field of `out`, which may hold anything on entry, so that
    // it owns its own format block.
    virtual MediaType& getPinMediaType(MediaType& out, unsigned index) = 0;
    virtual bool checkMediaType(const MediaType& type);
    virtual void activate();
    virtual void deactivate();

    // For a subclass whose offered types change; open enumerators then
    // report VFW_E_ENUM_OUT_OF_SYNC until reset.
    void mediaTypesChanged();
    std::wstring nameCopy();
    IPin* pinInterface() { return this; }
    Filter& owner() { return filter; }

    // Downstream calls on the connected pin, made outside filterLock on a
    // counted copy; nothing happens while unconnected.
    void deliverBeginFlush();
    void deliverEndFlush();
    void deliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

protected:
    // Counted copy of `connected`, taken under filterLock.
    oryx::COMPtr<IPin> connectedPin();
    bool isActivated() const { return active; }

    const PIN_DIRECTION direction;
    Filter& filter;
    // Under filterLock: the pin at the other end, and the type of the
    // current (or last) connection.
    oryx::COMPtr<IPin> connected;
    MediaTypeHolder connectionType;

private:
    void attemptConnection(IPin* receivePin, const MediaType& type);

    const std::wstring name;
    LONG mediaTypesVersion = 0;
    bool active = false;
    // Kept only to answer SetSink; never called, so not counted.
    IQualityControl* qualitySink = nullptr;
};

class Pin::MediaTypeEnumeration : public ListEnumeration<MediaTypeEnumeration, IEnumMediaTypes, AM_MEDIA_TYPE*> {
public:
    MediaTypeEnumeration(Pin& pin, LONG version, ULONG position);

    oryx::CriticalSection& listLock();
    LONG listVersion() { return pin.mediaTypesVersion; }
    ULONG listSize() { return pin.getMediaTypeCount(); }
    AM_MEDIA_TYPE* fetch(ULONG index);
    MediaTypeEnumeration* copyAt(LONG version, ULONG position)
    {
        return new MediaTypeEnumeration(pin, version, position);
    }

private:
    Pin& pin;
    const oryx::COMPtr<IPin> pinReference;
};
