#include "mediafoundation/ApeMediaStream.h"

#include <mfapi.h>
#include <mferror.h>

#include "mediafoundation/ApeMediaSource.h"
#include "mediafoundation/LockedGetter.h"
#include "support/AutoLock.h"
#include "support/ComBoundary.h"

ApeMediaStream::ApeMediaStream(ApeMediaSource& source, IMFStreamDescriptor& descriptor)
    : IUnknownImpl(nullptr), descriptor(&descriptor), owner(&source), source(&source)
{
}

IUnknown* ApeMediaStream::interfaceFor(REFIID iid)
{
    if (IUnknown* found = oryx::lookUpInterface<IMFMediaStream, IMFMediaEventGenerator>(this, iid))
        return found;
    return IUnknownImpl::interfaceFor(iid);
}

STDMETHODIMP ApeMediaStream::GetMediaSource(IMFMediaSource** out)
{
    return lockedGet(lock, isShutdown, out, [&] { return handOut(owner.get(), out); });
}

STDMETHODIMP ApeMediaStream::GetStreamDescriptor(IMFStreamDescriptor** out)
{
    return lockedGet(lock, isShutdown, out, [&] { return handOut(descriptor.get(), out); });
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

oryx::COMPtr<IMFMediaSource> ApeMediaStream::shutdown()
{
    oryx::AutoLock locked(lock);
    isShutdown = true;
    shutdownEvents();
    source = nullptr;
    return std::move(owner);
}
