#pragma once

#include <windows.h>

#include <mfapi.h>
#include <mfidl.h>

#include "support/COMPtr.h"
#include "support/HResults.h"

// IMFMediaEventGenerator for a class whose COM interface derives from it
// (IMFMediaSource, IMFMediaStream): the four methods forwarded to an event
// queue of Media Foundation's (MFCreateEventQueue) that this mix-in makes
// when it is constructed (raising COMError when it cannot) and owns.
//
// The final class supplies QueryInterface, AddRef and Release, usually as
// DelegatingUnknown<Owner, MediaEventGenerator<IMFMediaSource>>, answers
// IID_IMFMediaEventGenerator in its interfaceFor, queues its events with
// queueEvent and shuts the queue down with shutdownEvents() when it is shut
// down itself (every call here then answers MF_E_SHUTDOWN).
//
// Locks: none here. The queue locks itself and calls its clients back on a
// work-queue thread, never inside QueueEvent, so events may be queued under
// any lock of the class; GetEvent can wait, so the class must not route it
// through a lock of its own.
template <typename Interface>
class MediaEventGenerator : public Interface {
public:
    STDMETHODIMP GetEvent(DWORD flags, IMFMediaEvent** event) override { return events->GetEvent(flags, event); }
    STDMETHODIMP BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override
    {
        return events->BeginGetEvent(callback, state);
    }
    STDMETHODIMP EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override
    {
        return events->EndGetEvent(result, event);
    }
    STDMETHODIMP QueueEvent(MediaEventType type, REFGUID extendedType, HRESULT status,
                            const PROPVARIANT* value) override
    {
        return events->QueueEventParamVar(type, extendedType, status, value);
    }

    // Queue an event with a value (may be null) or an object as its value;
    // raise COMError when the queue refuses, as it does once shut down.
    void queueEvent(MediaEventType type, HRESULT status, const PROPVARIANT* value)
    {
        oryx::checkResult(events->QueueEventParamVar(type, GUID_NULL, status, value), "Can't queue an event");
    }
    void queueEvent(MediaEventType type, IUnknown& object)
    {
        oryx::checkResult(events->QueueEventParamUnk(type, GUID_NULL, S_OK, &object), "Can't queue an event");
    }
    // An event made by the caller, for one that carries attributes.
    void queueEvent(IMFMediaEvent& event) { oryx::checkResult(events->QueueEvent(&event), "Can't queue an event"); }

protected:
    MediaEventGenerator() { oryx::checkResult(MFCreateEventQueue(events.receive()), "Can't make an event queue"); }
    ~MediaEventGenerator() = default;

    void shutdownEvents() { events->Shutdown(); }

private:
    oryx::COMPtr<IMFMediaEventQueue> events; // set once; locks itself
};
