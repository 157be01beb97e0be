#pragma once

#include <windows.h>

#include <mfidl.h>

#include "com/DelegatingUnknown.h"
#include "com/IUnknownImpl.h"
#include "mediafoundation/MediaEventGenerator.h"
#include "support/COMPtr.h"
#include "support/CriticalSection.h"

class ApeMediaSource;

// The one audio stream of an ApeMediaSource: its descriptor and event
// queue, and RequestSample, which the source answers. The stream holds its
// source until the source shuts it down (ApeMediaSource.h has the locks and
// why the cycle is broken there); afterwards every call answers
// MF_E_SHUTDOWN.
//
// Locks: `lock` guards `owner` and `isShutdown`. It is the innermost lock:
// the source may take it under its own, and the stream never calls the
// source while holding it.
class ApeMediaStream : public oryx::DelegatingUnknown<ApeMediaStream, MediaEventGenerator<IMFMediaStream>>,
                       public oryx::IUnknownImpl {
public:
    // Raises COMError when the event queue cannot be made.
    ApeMediaStream(ApeMediaSource& source, IMFStreamDescriptor& descriptor);

    IUnknown* interfaceFor(REFIID iid) override;

    // IMFMediaStream
    STDMETHOD(GetMediaSource)(IMFMediaSource** source) override;
    STDMETHOD(GetStreamDescriptor)(IMFStreamDescriptor** descriptor) override;
    STDMETHOD(RequestSample)(IUnknown* token) override;

    // For the source, under its lock, which also queues the stream's events
    // (queueEvent): shuts the queue down and gives up the source, which the
    // caller releases once it holds no lock.
    oryx::COMPtr<IMFMediaSource> shutdown();

private:
    const oryx::COMPtr<IMFStreamDescriptor> descriptor;

    oryx::CriticalSection lock;
    oryx::COMPtr<IMFMediaSource> owner; // the source, as ApeMediaSource in `source`
    ApeMediaSource* source;
    bool isShutdown = false;
};
