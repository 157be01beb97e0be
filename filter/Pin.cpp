#include "filter/Pin.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "filter/Filter.h"
#include "filter/MediaTypeCursor.h"
#include "filter/NameField.h"
#include "support/AutoLock.h"
#include "support/COMError.h"
#include "support/ComBoundary.h"
#include "support/LossOfRange.h"

Pin::Pin(Filter& filter, const wchar_t* name, PIN_DIRECTION direction)
    : IUnknownImpl(nullptr), direction(direction), filter(filter), name(name ? name : L"")
{
}

Pin::~Pin() = default;

STDMETHODIMP_(ULONG) Pin::AddRef()
{
    return filter.baseFilter()->AddRef();
}

STDMETHODIMP_(ULONG) Pin::Release()
{
    return filter.baseFilter()->Release();
}

STDMETHODIMP Pin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* type)
{
    if (!receivePin)
        return E_POINTER;
    return oryx::comBoundary([&] {
        oryx::AutoLock lock(filter.filterLock);
        if (connected)
            return VFW_E_ALREADY_CONNECTED;
        if (filter.isActive())
            return VFW_E_NOT_STOPPED;
        const MediaType* const pattern = type ? &MediaType::of(*type) : nullptr;
        if (pattern && pattern->isComplete()) {
            attemptConnection(receivePin, *pattern);
            return S_OK;
        }
        // Our own preferences first: the receiving pin may list a type
        // first that we would only convert to.
        for (IPin* offering : {pinInterface(), receivePin}) {
            for (MediaTypeCursor cursor(*offering); !cursor.atEnd(); cursor.advance()) {
                const MediaType& candidate = *cursor.current();
                if (pattern && !candidate.matches(*pattern))
                    continue;
                try {
                    attemptConnection(receivePin, candidate);
                    return S_OK;
                } catch (const std::exception&) {
                    // This candidate failed; the next one may not.
                }
            }
        }
        return VFW_E_NO_ACCEPTABLE_TYPES;
    });
}

void Pin::attemptConnection(IPin* receivePin, const MediaType& type)
{
    checkConnection(receivePin);
    bool peerConnected = false;
    try {
        if (!checkMediaType(type))
            throw oryx::COMError(VFW_E_TYPE_NOT_ACCEPTED, "Media type not supported for connection");
        connected = receivePin;
        setMediaType(type);
        oryx::checkResult(receivePin->ReceiveConnection(pinInterface(), &type), "ReceiveConnection failed");
        peerConnected = true;
        completeConnection();
    } catch (...) {
        // The peer took the connection before our side failed: it must not
        // stay connected to a pin that is not connected to it.
        if (peerConnected)
            receivePin->Disconnect();
        try {
            breakConnection();
        } catch (...) {
            // The attempt's own failure is the one to report.
        }
        throw;
    }
}

STDMETHODIMP Pin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type)
{
    if (!connector || !type)
        return E_POINTER;
    return oryx::comBoundary([&] {
        oryx::AutoLock lock(filter.filterLock);
        if (connected)
            return VFW_E_ALREADY_CONNECTED;
        if (filter.isActive())
            return VFW_E_NOT_STOPPED;
        checkConnection(connector);
        try {
            const MediaType& offered = MediaType::of(*type);
            if (!checkMediaType(offered))
                throw oryx::COMError(VFW_E_TYPE_NOT_ACCEPTED, "Media type is not supported for received connection");
            connected = connector;
            setMediaType(offered);
            completeConnection();
            return S_OK;
        } catch (...) {
            connected.release();
            breakConnection();
            throw;
        }
    });
}

STDMETHODIMP Pin::Disconnect()
{
    return oryx::comBoundary([&] {
        oryx::AutoLock lock(filter.filterLock);
        if (!connected)
            return S_FALSE;
        breakConnection();
        return S_OK;
    });
}

STDMETHODIMP Pin::ConnectedTo(IPin** out)
{
    if (!out)
        return E_POINTER;
    return oryx::comBoundary([&] {
        oryx::AutoLock lock(filter.filterLock);
        *out = connected.get();
        if (!*out)
            return VFW_E_NOT_CONNECTED;
        (*out)->AddRef();
        return S_OK;
    });
}

STDMETHODIMP Pin::ConnectionMediaType(AM_MEDIA_TYPE* out)
{
    if (!out)
        return E_POINTER;
    return oryx::comBoundary([&] {
        oryx::AutoLock lock(filter.filterLock);
        if (!connected)
            return VFW_E_NOT_CONNECTED;
        MediaType& copy = MediaType::of(*out);
        copy.reset();
        copy.copyFrom(*connectionType);
        return S_OK;
    });
}

STDMETHODIMP Pin::QueryPinInfo(PIN_INFO* info)
{
    if (!info)
        return E_POINTER;
    return oryx::comBoundary([&] {
        info->pFilter = filter.baseFilter();
        info->pFilter->AddRef();
        info->dir = direction;
        copyToNameField(name, info->achName);
        return S_OK;
    });
}

STDMETHODIMP Pin::QueryDirection(PIN_DIRECTION* out)
{
    if (!out)
        return E_POINTER;
    *out = direction;
    return S_OK;
}

STDMETHODIMP Pin::QueryId(LPWSTR* out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    return oryx::comBoundary([&] {
        oryx::AutoLock lock(filter.filterLock);
        *out = taskStringCopy(name);
        return S_OK;
    });
}

STDMETHODIMP Pin::QueryAccept(const AM_MEDIA_TYPE* type)
{
    if (!type)
        return E_POINTER;
    try {
        return checkMediaType(MediaType::of(*type)) ? S_OK : S_FALSE;
    } catch (...) {
        return S_FALSE;
    }
}

STDMETHODIMP Pin::EnumMediaTypes(IEnumMediaTypes** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    return oryx::comBoundary([&] {
        const oryx::COMPtr<IEnumMediaTypes> enumeration(new MediaTypeEnumeration(*this, mediaTypesVersion, 0));
        *out = enumeration.get();
        (*out)->AddRef();
        return S_OK;
    });
}

STDMETHODIMP Pin::QueryInternalConnections(IPin** pins, ULONG* count)
{
    if (!pins || !count)
        return E_POINTER;
    return oryx::comBoundary([&] {
        std::vector<oryx::COMPtr<IPin>> list;
        internalConnections(list);
        const std::size_t handed = std::min<std::size_t>(*count, list.size());
        for (std::size_t i = 0; i < handed; ++i) {
            pins[i] = list[i].get();
            pins[i]->AddRef();
        }
        if (*count < list.size())
            return S_FALSE;
        *count = oryx::rangeChecked<ULONG>(list.size());
        return S_OK;
    });
}

STDMETHODIMP Pin::EndOfStream()
{
    return E_NOTIMPL;
}

STDMETHODIMP Pin::BeginFlush()
{
    return E_NOTIMPL;
}

STDMETHODIMP Pin::EndFlush()
{
    return E_NOTIMPL;
}

STDMETHODIMP Pin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double)
{
    return E_NOTIMPL;
}

STDMETHODIMP Pin::Notify(IBaseFilter*, Quality)
{
    return E_NOTIMPL;
}

STDMETHODIMP Pin::SetSink(IQualityControl* sink)
{
    return oryx::comBoundary([&] {
        oryx::AutoLock lock(filter.filterLock);
        qualitySink = sink;
        return S_OK;
    });
}

IUnknown* Pin::interfaceFor(REFIID iid)
{
    // Renderers ask every upstream pin for IID_IQualityControl itself, on
    // every sample.
    if (IUnknown* found = oryx::lookUpInterface<IPin, IQualityControl>(this, iid))
        return found;
    return IUnknownImpl::interfaceFor(iid);
}

void Pin::breakConnection()
{
    connected.release();
}

void Pin::checkConnection(IPin* pin)
{
    PIN_DIRECTION other;
    oryx::checkResult(pin->QueryDirection(&other), "Can't query pin direction");
    if (other == direction)
        throw oryx::COMError(VFW_E_INVALID_DIRECTION, "The pins have the same direction");
}

void Pin::completeConnection()
{
}

void Pin::setMediaType(const MediaType& type)
{
    // Copied before the old contents go, so a failed copy keeps them.
    MediaTypeHolder copy;
    copy->copyFrom(type);
    connectionType->releaseContents();
    std::swap(static_cast<AM_MEDIA_TYPE&>(*connectionType), static_cast<AM_MEDIA_TYPE&>(*copy));
}

void Pin::internalConnections(std::vector<oryx::COMPtr<IPin>>&)
{
    throw oryx::COMError(E_NOTIMPL);
}

bool Pin::checkMediaType(const MediaType& type)
{
    const unsigned count = getMediaTypeCount();
    for (unsigned i = 0; i < count; ++i) {
        MediaTypeHolder offered;
        if (getPinMediaType(*offered, i) == type)
            return true;
    }
    return false;
}

void Pin::activate()
{
    active = true;
}

void Pin::deactivate()
{
    active = false;
}

void Pin::mediaTypesChanged()
{
    oryx::AutoLock lock(filter.filterLock);
    ++mediaTypesVersion;
}

std::wstring Pin::nameCopy()
{
    oryx::AutoLock lock(filter.filterLock);
    return name;
}

oryx::COMPtr<IPin> Pin::connectedPin()
{
    oryx::AutoLock lock(filter.filterLock);
    return connected;
}

void Pin::deliverBeginFlush()
{
    if (const oryx::COMPtr<IPin> peer = connectedPin())
        oryx::checkResult(peer->BeginFlush(), "Unable to start flush");
}

void Pin::deliverEndFlush()
{
    if (const oryx::COMPtr<IPin> peer = connectedPin())
        oryx::checkResult(peer->EndFlush(), "Unable to end flush");
}

void Pin::deliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    if (const oryx::COMPtr<IPin> peer = connectedPin())
        oryx::checkResult(peer->NewSegment(start, stop, rate), "Unable to start new segment");
}

Pin::MediaTypeEnumeration::MediaTypeEnumeration(Pin& pin, LONG version, ULONG position)
    : ListEnumeration(version, position), pin(pin), pinReference(pin.pinInterface())
{
}

oryx::CriticalSection& Pin::MediaTypeEnumeration::listLock()
{
    return pin.filter.filterLock;
}

AM_MEDIA_TYPE* Pin::MediaTypeEnumeration::fetch(ULONG index)
{
    auto* const block = static_cast<AM_MEDIA_TYPE*>(taskAllocate(sizeof(AM_MEDIA_TYPE)));
    try {
        pin.getPinMediaType(MediaType::of(*block), index);
    } catch (...) {
        CoTaskMemFree(block);
        throw;
    }
    return block;
}
