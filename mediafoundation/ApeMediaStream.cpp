#include "mediafoundation/ApeMediaStream.h"

#include <mfapi.h>
#include <mferror.h>

#include "mediafoundation/ApeMediaSource.h"
#include "support/AutoLock.h"
#include "support/ComBoundary.h"

ApeMediaStream::ApeMediaStream(ApeMediaSource& source, IMFStreamDescriptor& descriptor)
    : IUnknownImpl(nullptr), descriptor(&descriptor), owner(&source), source(&source)
{
    oryx::checkResult(MFCreateEventQueue(events.receive()), "Can't make the stream's event queue");
}

IUnknown* ApeMediaStream::interfaceFor(REFIID iid)
{
    if (IUnknown* found = oryx::lookUpInterface<IMFMediaStream, IMFMediaEventGenerator>(this, iid))
        return found;
    return IUnknownImpl::interfaceFor(iid);
}

STDMETHODIMP ApeMediaStream::GetEvent(DWORD flags, IMFMediaEvent** event)
{
    return events->GetEvent(flags, event);
}

STDMETHODIMP ApeMediaStream::BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state)
{
    return events->BeginGetEvent(callback, state);
}

STDMETHODIMP ApeMediaStream::EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event)
{
    return events->EndGetEvent(result, event);
}

STDMETHODIMP ApeMediaStream::QueueEvent(MediaEventType type, REFGUID extendedType, HRESULT status,
                                        const PROPVARIANT* value)
{
    return events->QueueEventParamVar(type, extendedType, status, value);
}

STDMETHODIMP ApeMediaStream::GetMediaSource(IMFMediaSource** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    oryx::AutoLock locked(lock);
    if (isShutdown)
        return MF_E_SHUTDOWN;
    *out = owner.get();
    (*out)->AddRef();
    return S_OK;
}

STDMETHODIMP ApeMediaStream::GetStreamDescriptor(IMFStreamDescriptor** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    oryx::AutoLock locked(lock);
    if (isShutdown)
        return MF_E_SHUTDOWN;
    *out = descriptor.get();
    (*out)->AddRef();
    return S_OK;
}

STDMETHODIMP ApeMediaStream::RequestSample(IUnknown* token)
{
    return oryx::comBoundary([&] {
        // Held across the call, so the source outlives it even if it is
        // shut down meanwhile; our lock is not.
        oryx::COMPtr<IMFMediaSource> keep;
        ApeMediaSource* target = nullptr;
        {
            oryx::AutoLock locked(lock);
            if (isShutdown)
                return MF_E_SHUTDOWN;
            keep = owner;
            target = source;
        }
        return target->requestSample(token);
    });
}

void ApeMediaStream::queue(MediaEventType type, HRESULT status, const PROPVARIANT* value)
{
    oryx::checkResult(events->QueueEventParamVar(type, GUID_NULL, status, value), "Can't queue a stream event");
}

void ApeMediaStream::queueSample(IMFSample& sample)
{
    oryx::checkResult(events->QueueEventParamUnk(MEMediaSample, GUID_NULL, S_OK, &sample), "Can't queue a sample");
}

oryx::COMPtr<IMFMediaSource> ApeMediaStream::shutdown()
{
    oryx::AutoLock locked(lock);
    isShutdown = true;
    events->Shutdown();
    source = nullptr;
    return std::move(owner);
}
