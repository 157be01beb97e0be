#pragma once

// A downstream input pin that records, in order, what an output pin sends
// it: what a real renderer cannot show. It takes any connection whose major
// type it offers (or any at all when it offers none), leaves the allocator to
// the output pin, and can hold Receive shut until a flush or until the test
// opens it.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <dshow.h>

#include "filter/MediaType.h"

struct Delivery {
    enum Kind { NewSegment, BeginFlush, EndFlush, Sample, EndOfStream } kind;
    REFERENCE_TIME start = 0; // segment start, or media time of a sample
    REFERENCE_TIME stop = 0;
    bool discontinuity = false;
    bool duringFlush = false;
    std::uint16_t firstValue = 0;
    long length = 0;
};

// An allocator that takes any properties and refuses to commit.
class RefusingAllocator final : public IMemAllocator {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        *out = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMemAllocator) ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* wanted, ALLOCATOR_PROPERTIES* actual) override
    {
        *actual = *wanted;
        return S_OK;
    }
    STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    STDMETHODIMP Commit() override { return E_ACCESSDENIED; }
    STDMETHODIMP Decommit() override { return S_OK; }
    STDMETHODIMP GetBuffer(IMediaSample**, REFERENCE_TIME*, REFERENCE_TIME*, DWORD) override
    {
        return VFW_E_NOT_COMMITTED;
    }
    STDMETHODIMP ReleaseBuffer(IMediaSample*) override { return S_OK; }
};

class RecordingInputPin final : public IPin, public IMemInputPin {
public:
    explicit RecordingInputPin(std::vector<MediaType*> offered = {}) : offered(std::move(offered)) {}
    ~RecordingInputPin()
    {
        for (MediaType* type : offered)
            deleteTaskMediaType(type);
        connectionType.releaseContents();
    }

    // Types offered through EnumMediaTypes, in order; owned by the pin.
    static MediaType* offer(const GUID& major, const GUID& subtype, const GUID& format = GUID_NULL)
    {
        auto* type = static_cast<MediaType*>(taskAllocate(sizeof(MediaType)));
        type->reset();
        type->majortype = major;
        type->subtype = subtype;
        type->formattype = format;
        return type;
    }

    // Receive waits while the gate is shut (and no flush is on).
    void shutGate() { setGate(0); }
    void openGate() { setGate(-1); }
    void allow(int samples) { setGate(samples); }

    std::vector<Delivery> deliveries()
    {
        std::lock_guard lock(mutex);
        return log;
    }
    int count(Delivery::Kind kind)
    {
        const std::vector<Delivery> all = deliveries();
        return static_cast<int>(
            std::count_if(all.begin(), all.end(), [&](const Delivery& d) { return d.kind == kind; }));
    }
    // Waits at most `limit` for `n` deliveries of `kind`.
    bool waitFor(Delivery::Kind kind, int n, std::chrono::milliseconds limit = std::chrono::seconds(10))
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, limit, [&] {
            return std::count_if(log.begin(), log.end(), [&](const Delivery& d) { return d.kind == kind; }) >= n;
        });
    }
    void clear()
    {
        std::lock_guard lock(mutex);
        log.clear();
    }

    std::vector<GUID> proposedSubtypes;    // what ReceiveConnection was offered
    IMemAllocator* ownAllocator = nullptr; // offered to the output pin when set
    // BeginFlush returns this long after it released Receive, as a busy
    // downstream's may: the worker runs on meanwhile.
    std::chrono::milliseconds beginFlushDelay{0};
    // BeginFlush fails and releases nothing, as a confused downstream's may.
    std::atomic<bool> refuseFlush{false};
    bool refuseAll = false;
    IPin* connectedTo = nullptr;
    MediaType connectionType{GUID_NULL, GUID_NULL};

    // IUnknown: the test owns the pin, so counting only keeps COM callers happy.
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPin))
            *out = static_cast<IPin*>(this);
        else if (IsEqualIID(iid, IID_IMemInputPin))
            *out = static_cast<IMemInputPin*>(this);
        else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
    STDMETHODIMP_(ULONG) Release() override { return --references; }

    // IPin
    STDMETHODIMP Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override
    {
        proposedSubtypes.push_back(type->subtype);
        if (refuseAll || connectedTo)
            return VFW_E_TYPE_NOT_ACCEPTED;
        if (!offered.empty() && std::none_of(offered.begin(), offered.end(),
                                             [&](MediaType* t) { return IsEqualGUID(t->majortype, type->majortype); }))
            return VFW_E_TYPE_NOT_ACCEPTED;
        connectedTo = connector;
        connectionType.releaseContents();
        connectionType.copyFrom(*type);
        return S_OK;
    }
    STDMETHODIMP Disconnect() override
    {
        const bool was = connectedTo != nullptr;
        connectedTo = nullptr;
        return was ? S_OK : S_FALSE;
    }
    STDMETHODIMP ConnectedTo(IPin** out) override
    {
        *out = connectedTo;
        if (!connectedTo)
            return VFW_E_NOT_CONNECTED;
        connectedTo->AddRef();
        return S_OK;
    }
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryPinInfo(PIN_INFO*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryDirection(PIN_DIRECTION* out) override
    {
        *out = PINDIR_INPUT;
        return S_OK;
    }
    STDMETHODIMP QueryId(LPWSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE*) override { return S_OK; }
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** out) override;
    STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP EndOfStream() override
    {
        record({Delivery::EndOfStream});
        return S_OK;
    }
    STDMETHODIMP BeginFlush() override
    {
        if (refuseFlush)
            return E_FAIL;
        {
            std::lock_guard lock(mutex);
            flushing = true;
        }
        record({Delivery::BeginFlush});
        std::this_thread::sleep_for(beginFlushDelay);
        return S_OK;
    }
    STDMETHODIMP EndFlush() override
    {
        {
            std::lock_guard lock(mutex);
            flushing = false;
        }
        record({Delivery::EndFlush});
        return S_OK;
    }
    STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override
    {
        segmentRate = rate;
        record({Delivery::NewSegment, start, stop});
        return S_OK;
    }

    // IMemInputPin
    STDMETHODIMP GetAllocator(IMemAllocator** out) override
    {
        *out = ownAllocator;
        if (!ownAllocator)
            return VFW_E_NO_ALLOCATOR;
        ownAllocator->AddRef();
        return S_OK;
    }
    STDMETHODIMP NotifyAllocator(IMemAllocator*, BOOL) override { return S_OK; }
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    STDMETHODIMP Receive(IMediaSample* sample) override
    {
        Delivery d{Delivery::Sample};
        sample->GetMediaTime(&d.start, &d.stop);
        d.discontinuity = sample->IsDiscontinuity() == S_OK;
        d.length = sample->GetActualDataLength();
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        if (d.length >= 2)
            std::memcpy(&d.firstValue, data, 2);
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return flushing || gate != 0; });
        d.duringFlush = flushing;
        if (gate > 0)
            --gate;
        log.push_back(d);
        changed.notify_all();
        return d.duringFlush ? S_FALSE : S_OK;
    }
    STDMETHODIMP ReceiveMultiple(IMediaSample**, long, long*) override { return E_NOTIMPL; }
    STDMETHODIMP ReceiveCanBlock() override { return S_OK; }

    double segmentRate = 0;

private:
    void record(const Delivery& d)
    {
        std::lock_guard lock(mutex);
        log.push_back(d);
        changed.notify_all();
    }
    void setGate(int value)
    {
        std::lock_guard lock(mutex);
        gate = value;
        changed.notify_all();
    }

    std::vector<MediaType*> offered;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Delivery> log;
    bool flushing = false;
    int gate = -1; // samples let through; -1 without limit
    LONG references = 1;
};

// The offered types, through an enumerator as a peer pin would hand them.
class OfferedTypes final : public IEnumMediaTypes {
public:
    explicit OfferedTypes(const std::vector<MediaType*>& types) : types(types) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumMediaTypes)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG left = --references;
        if (left == 0)
            delete this;
        return left;
    }
    STDMETHODIMP Next(ULONG count, AM_MEDIA_TYPE** out, ULONG* fetched) override
    {
        ULONG n = 0;
        for (; n < count && position < types.size(); ++n, ++position) {
            auto* copy = static_cast<MediaType*>(taskAllocate(sizeof(MediaType)));
            copy->reset();
            copy->copyFrom(*types[position]);
            out[n] = copy;
        }
        if (fetched)
            *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG) override { return E_NOTIMPL; }
    STDMETHODIMP Reset() override
    {
        position = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumMediaTypes**) override { return E_NOTIMPL; }

private:
    const std::vector<MediaType*>& types;
    std::size_t position = 0;
    ULONG references = 1;
};

inline STDMETHODIMP RecordingInputPin::EnumMediaTypes(IEnumMediaTypes** out)
{
    *out = new OfferedTypes(offered);
    return S_OK;
}
