#include "filter/Filter.h"

#include "filter/NameField.h"
#include "filter/Pin.h"
#include "support/AutoLock.h"
#include "support/COMError.h"
#include "support/ComBoundary.h"

Filter::Filter(IUnknown* outer, const wchar_t* name, const CLSID* classId)
    : IUnknownImpl(outer), DelegatingUnknown<Filter, oryx::IPersistImpl>(classId), name(name ? name : L"")
{
}

Filter::~Filter() = default;

STDMETHODIMP Filter::GetClassID(CLSID* out)
{
    return IPersistImpl::GetClassID(out);
}

STDMETHODIMP Filter::Stop()
{
    return oryx::comBoundaryCatchAll([&] { return doStop() ? S_OK : S_FALSE; });
}

STDMETHODIMP Filter::Pause()
{
    return oryx::comBoundaryCatchAll([&] { return doPause() ? S_OK : S_FALSE; });
}

STDMETHODIMP Filter::Run(REFERENCE_TIME start)
{
    return oryx::comBoundaryCatchAll([&] { return doRun(start) ? S_OK : S_FALSE; });
}

STDMETHODIMP Filter::GetState(DWORD timeout, FILTER_STATE* out)
{
    if (!out)
        return E_POINTER;
    return oryx::comBoundary([&] {
        *out = currentState(timeout);
        return S_OK;
    });
}

STDMETHODIMP Filter::SetSyncSource(IReferenceClock* clock)
{
    return oryx::comBoundary([&] {
        setClock(clock);
        return S_OK;
    });
}

STDMETHODIMP Filter::GetSyncSource(IReferenceClock** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    return oryx::comBoundary([&] {
        oryx::COMPtr<IReferenceClock> held = clock();
        if ((*out = held.get()))
            (*out)->AddRef();
        return S_OK;
    });
}

STDMETHODIMP Filter::EnumPins(IEnumPins** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    return oryx::comBoundary([&] {
        const oryx::COMPtr<IEnumPins> enumeration(new PinEnumeration(*this, pinsVersion, 0));
        *out = enumeration.get();
        (*out)->AddRef();
        return S_OK;
    });
}

STDMETHODIMP Filter::FindPin(LPCWSTR id, IPin** out)
{
    if (!id || !out)
        return E_POINTER;
    *out = nullptr;
    return oryx::comBoundary([&] {
        const oryx::COMPtr<IPin> found = findPin(id);
        if (!found)
            return VFW_E_NOT_FOUND;
        *out = found.get();
        (*out)->AddRef();
        return S_OK;
    });
}

STDMETHODIMP Filter::QueryFilterInfo(FILTER_INFO* info)
{
    if (!info)
        return E_POINTER;
    return oryx::comBoundary([&] {
        oryx::AutoLock lock(filterLock);
        copyToNameField(name, info->achName);
        info->pGraph = graph;
        if (graph)
            graph->AddRef();
        return S_OK;
    });
}

STDMETHODIMP Filter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name)
{
    return oryx::comBoundary([&] {
        oryx::AutoLock lock(filterLock);
        if (name)
            this->name = name;
        if (!graph) {
            this->graph = nullptr;
            return S_OK;
        }
        if (!name)
            return E_POINTER;
        this->graph = graph;
        return S_OK;
    });
}

STDMETHODIMP Filter::QueryVendorInfo(LPWSTR* out)
{
    if (!out)
        return E_POINTER;
    return oryx::comBoundary([&] {
        const std::wstring text = vendorInfo();
        if (text.empty())
            return E_NOTIMPL;
        *out = taskStringCopy(text);
        return S_OK;
    });
}

IUnknown* Filter::interfaceFor(REFIID iid)
{
    if (IsEqualIID(iid, IID_IBaseFilter) || IsEqualIID(iid, IID_IMediaFilter))
        return static_cast<IBaseFilter*>(this);
    return IPersistImpl::interfaceFor(iid);
}

void Filter::activate()
{
    for (unsigned i = 0; i < pinCount(); ++i) {
        try {
            pin(i)->activate();
        } catch (...) {
            for (unsigned j = 0; j < i; ++j) {
                try {
                    pin(j)->deactivate();
                } catch (...) {
                    // The activation failure is what the caller must see.
                }
            }
            throw;
        }
    }
}

void Filter::deactivate()
{
    for (unsigned i = 0; i < pinCount(); ++i)
        pin(i)->deactivate();
}

bool Filter::doStop()
{
    oryx::AutoLock lock(stateLock);
    if (state != State_Stopped)
        deactivate();
    state = State_Stopped;
    return true;
}

bool Filter::doPause()
{
    oryx::AutoLock lock(stateLock);
    if (state == State_Stopped)
        activate();
    state = State_Paused;
    return true;
}

bool Filter::doRun(REFERENCE_TIME /*start*/)
{
    oryx::AutoLock lock(stateLock);
    if (state == State_Stopped)
        activate();
    state = State_Running;
    return true;
}

FILTER_STATE Filter::currentState(DWORD /*timeout*/)
{
    // Without stateLock: a state change may hold it for as long as its
    // activation takes, and GetState answers at once whatever the time-out.
    // The state changes only when a change is complete.
    return state;
}

void Filter::setClock(IReferenceClock* clock)
{
    oryx::AutoLock lock(filterLock);
    referenceClock = clock;
}

oryx::COMPtr<IReferenceClock> Filter::clock()
{
    oryx::AutoLock lock(filterLock);
    return referenceClock;
}

oryx::COMPtr<IPin> Filter::findPin(const wchar_t* id)
{
    oryx::AutoLock lock(filterLock);
    const std::wstring wanted(id);
    for (unsigned i = 0; i < pinCount(); ++i) {
        if (pin(i)->nameCopy() == wanted)
            return oryx::COMPtr<IPin>(pin(i)->pinInterface());
    }
    return {};
}

std::wstring Filter::vendorInfo()
{
    return {};
}

void Filter::notifyEvent(long code, LONG_PTR param1, LONG_PTR param2)
{
    oryx::COMPtr<IMediaEventSink> sink;
    {
        oryx::AutoLock lock(filterLock);
        if (!graph)
            throw oryx::COMError(E_NOTIMPL, "No filter graph for sending notification message");
        sink = graph;
    }
    // Outside filterLock: the graph may call back into the filter.
    oryx::checkResult(sink->Notify(code, param1, param2));
}

void Filter::notifyAbort(HRESULT hr)
{
    notifyEvent(EC_ERRORABORT, hr, 0);
}

bool Filter::isActive()
{
    // Without stateLock, which must never be taken under the filterLock a
    // pin may hold here; the state is written under stateLock and read
    // atomically.
    return state != State_Stopped;
}

Filter::PinEnumeration::PinEnumeration(Filter& filter, LONG version, ULONG position)
    : ListEnumeration(version, position), filter(filter), filterReference(filter.baseFilter())
{
}

IPin* Filter::PinEnumeration::fetch(ULONG index)
{
    IPin* const found = filter.pin(index)->pinInterface();
    found->AddRef();
    return found;
}
