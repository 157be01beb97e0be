#pragma once

#include <atomic>
#include <string>

#include <dshow.h>

#include "com/DelegatingUnknown.h"
#include "com/IPersistImpl.h"
#include "com/IUnknownImpl.h"
#include "filter/ListEnumeration.h"
#include "support/COMPtr.h"
#include "support/CriticalSection.h"

class Pin;

// The base of every media filter: IBaseFilter (with IMediaFilter and
// IPersist) once for all. It keeps the Stopped/Paused/Running state, the
// reference clock, the graph it was added to and its name, finds and lists
// the pins, and sends events to the graph.
//
// A subclass must supply pinCount() and pin(index); it owns its pins, which
// live exactly as long as the filter. It may override activate() and
// deactivate() (pins are activated on leaving Stopped and deactivated on
// entering it; both run under stateLock), doStop/doPause/doRun and
// currentState (to change how a state change is carried out), and
// vendorInfo(). It extends interfaceFor() in front of this one's.
//
// Locks: stateLock serialises Stop, Pause and Run (the state is read
// without it);
// filterLock guards the clock, the graph, the name, pin lookup and
// enumeration and every connection operation of the pins. stateLock is taken
// before filterLock, never the other way round; both are re-entrant. A state
// change may run while a pin connects: pins refuse to change their
// connection while isActive().
class Filter : public oryx::DelegatingUnknown<Filter, IBaseFilter>,
               public oryx::IUnknownImpl,
               public oryx::DelegatingUnknown<Filter, oryx::IPersistImpl> {
public:
    class PinEnumeration;

    // `name` is copied; `classId` is a static constant of the concrete class.
    Filter(IUnknown* outer, const wchar_t* name, const CLSID* classId);
    ~Filter() override;

    // IPersist
    STDMETHOD(GetClassID)(CLSID* out) override;
    // IMediaFilter
    STDMETHOD(Stop)() override;
    STDMETHOD(Pause)() override;
    STDMETHOD(Run)(REFERENCE_TIME start) override;
    STDMETHOD(GetState)(DWORD timeout, FILTER_STATE* out) override;
    STDMETHOD(SetSyncSource)(IReferenceClock* clock) override;
    STDMETHOD(GetSyncSource)(IReferenceClock** out) override;
    // IBaseFilter
    STDMETHOD(EnumPins)(IEnumPins** out) override;
    STDMETHOD(FindPin)(LPCWSTR id, IPin** out) override;
    STDMETHOD(QueryFilterInfo)(FILTER_INFO* info) override;
    STDMETHOD(JoinFilterGraph)(IFilterGraph* graph, LPCWSTR name) override;
    STDMETHOD(QueryVendorInfo)(LPWSTR* out) override;

    IUnknown* interfaceFor(REFIID iid) override;

    virtual void activate();
    virtual void deactivate();
    // Each returns false for S_FALSE; the base always returns true.
    virtual bool doStop();
    virtual bool doPause();
    virtual bool doRun(REFERENCE_TIME start);
    virtual FILTER_STATE currentState(DWORD timeout);
    virtual void setClock(IReferenceClock* clock);
    // Counted; null without a clock.
    virtual oryx::COMPtr<IReferenceClock> clock();
    // Not counted; index below pinCount().
    virtual Pin* pin(unsigned index) = 0;
    // Counted; null when no pin has exactly that name.
    virtual oryx::COMPtr<IPin> findPin(const wchar_t* id);
    virtual std::wstring vendorInfo();
    virtual unsigned pinCount() = 0;

    // Raises COMError(E_NOTIMPL) outside a graph, and what the graph's event
    // sink answers.
    void notifyEvent(long code, LONG_PTR param1, LONG_PTR param2);
    // EC_ERRORABORT with `hr`: how streaming failures reach the player.
    void notifyAbort(HRESULT hr);
    bool isActive();
    IBaseFilter* baseFilter() { return this; }

    // Declared first: every other member may use them until it is gone.
    oryx::CriticalSection filterLock;
    oryx::CriticalSection stateLock;

private:
    std::atomic<FILTER_STATE> state = State_Stopped;
    std::wstring name;
    // Not counted: the graph holds its filters, so holding it back would
    // make a cycle. It outlives our membership (it calls
    // JoinFilterGraph(null) before letting go of us).
    IFilterGraph* graph = nullptr;
    oryx::COMPtr<IReferenceClock> referenceClock;
    // Nothing changes the set of pins after construction; enumerators still
    // compare it so that a subclass that did would be noticed.
    LONG pinsVersion = 0;
};

class Filter::PinEnumeration : public ListEnumeration<PinEnumeration, IEnumPins, IPin*> {
public:
    PinEnumeration(Filter& filter, LONG version, ULONG position);

    oryx::CriticalSection& listLock() { return filter.filterLock; }
    LONG listVersion() { return filter.pinsVersion; }
    ULONG listSize() { return filter.pinCount(); }
    IPin* fetch(ULONG index);
    PinEnumeration* copyAt(LONG version, ULONG position) { return new PinEnumeration(filter, version, position); }

private:
    Filter& filter;
    const oryx::COMPtr<IBaseFilter> filterReference;
};
