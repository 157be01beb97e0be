#pragma once

#include "filter/Pin.h"
#include "support/COMPtr.h"

// An output pin that delivers media samples through the downstream pin's
// memory transport (IMemInputPin with an IMemAllocator).
//
// A subclass must supply getMediaTypeCount(), getPinMediaType() and
// decideBufferSize(), which sets the allocator's properties. The base
// negotiates the allocator when a connection completes (the input pin's
// own first, a new memory allocator otherwise), commits it on activate() and
// decommits it on deactivate(), and gives the streaming thread
// getDeliveryBuffer(), deliver() and deliverEndOfStream().
//
// `allocator` and `inputPin` change only under the filter's filterLock;
// the streaming thread takes counted copies under it and makes the blocking
// calls (GetBuffer, Receive, EndOfStream) outside it, so a Stop that
// decommits under filterLock releases a worker waiting for a buffer.
class MemoryOutputPin : public Pin {
public:
    MemoryOutputPin(Filter& filter, const wchar_t* name);
    ~MemoryOutputPin() override;

    // An output pin receives none of these.
    STDMETHOD(EndOfStream)() override;
    STDMETHOD(BeginFlush)() override;
    STDMETHOD(EndFlush)() override;
    STDMETHOD(NewSegment)(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    void breakConnection() override;
    void checkConnection(IPin* pin) override;
    void completeConnection() override;
    void activate() override;
    void deactivate() override;

    virtual oryx::COMPtr<IMemAllocator> decideAllocator();
    virtual oryx::COMPtr<IMemAllocator> createAllocator();
    // Sets the properties of `allocator` from `requested` (which it may
    // change); false when the allocator is not usable.
    virtual bool decideBufferSize(IMemAllocator& allocator, ALLOCATOR_PROPERTIES& requested) = 0;

    // An empty sample, blocking until the allocator has one free.
    oryx::COMPtr<IMediaSample> getDeliveryBuffer(REFERENCE_TIME* start, REFERENCE_TIME* stop, DWORD flags);
    // Receive's answer is not looked at: a refused sample is dropped.
    void deliver(IMediaSample& sample);
    void deliverEndOfStream();

private:
    oryx::COMPtr<IMemAllocator> allocator;
    oryx::COMPtr<IMemInputPin> inputPin;
};
