#pragma once

// A downstream input pin for filterbench whose allocator makes no system
// call: its samples come from a fixed pool, taken and given back through
// atomic flags. Connected straight to the source's output pin, without a
// graph, it shows what the source itself costs per buffer, apart from Wine's
// memory allocator (a kernel semaphore wait and release per buffer, each a
// server round trip) and the graph. Receive accepts and counts; EndOfStream
// sets an event. Only what the source calls is implemented. The benchmark
// owns every object here, so reference counts only keep COM callers happy,
// except the samples', whose last Release returns them to the pool.
#include <atomic>
#include <cstdint>
#include <vector>

#include <windows.h>

#include <dshow.h>

class PooledAllocator;

class PooledSample final : public IMediaSample {
public:
    PooledSample(PooledAllocator& owner, std::size_t size) : owner(owner), buffer(size) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        *out = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMediaSample) ? this : nullptr;
        if (!*out)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP GetPointer(BYTE** out) override
    {
        *out = buffer.data();
        return S_OK;
    }
    STDMETHODIMP_(long) GetSize() override { return static_cast<long>(buffer.size()); }
    STDMETHODIMP GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override
    {
        *start = timeStart;
        *stop = timeStop;
        return S_OK;
    }
    STDMETHODIMP SetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override
    {
        timeStart = start ? *start : 0;
        timeStop = stop ? *stop : 0;
        return S_OK;
    }
    STDMETHODIMP IsSyncPoint() override { return syncPoint ? S_OK : S_FALSE; }
    STDMETHODIMP SetSyncPoint(BOOL value) override
    {
        syncPoint = value != FALSE;
        return S_OK;
    }
    STDMETHODIMP IsPreroll() override { return S_FALSE; }
    STDMETHODIMP SetPreroll(BOOL) override { return S_OK; }
    STDMETHODIMP_(long) GetActualDataLength() override { return length; }
    STDMETHODIMP SetActualDataLength(long value) override
    {
        if (value < 0 || static_cast<std::size_t>(value) > buffer.size())
            return VFW_E_BUFFER_OVERFLOW;
        length = value;
        return S_OK;
    }
    STDMETHODIMP GetMediaType(AM_MEDIA_TYPE** out) override
    {
        *out = nullptr;
        return S_FALSE;
    }
    STDMETHODIMP SetMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHODIMP IsDiscontinuity() override { return discontinuity ? S_OK : S_FALSE; }
    STDMETHODIMP SetDiscontinuity(BOOL value) override
    {
        discontinuity = value != FALSE;
        return S_OK;
    }
    STDMETHODIMP GetMediaTime(LONGLONG* start, LONGLONG* stop) override
    {
        *start = mediaStart;
        *stop = mediaStop;
        return S_OK;
    }
    STDMETHODIMP SetMediaTime(LONGLONG* start, LONGLONG* stop) override
    {
        mediaStart = start ? *start : 0;
        mediaStop = stop ? *stop : 0;
        return S_OK;
    }

    // Taken from the pool: one reference, flags cleared.
    void reset()
    {
        references = 1;
        length = 0;
        syncPoint = discontinuity = false;
    }
    std::atomic<bool> lent{false};

private:
    PooledAllocator& owner;
    std::vector<BYTE> buffer;
    std::atomic<ULONG> references{0};
    long length = 0;
    REFERENCE_TIME timeStart = 0;
    REFERENCE_TIME timeStop = 0;
    LONGLONG mediaStart = 0;
    LONGLONG mediaStop = 0;
    bool syncPoint = false;
    bool discontinuity = false;
};

class PooledAllocator final : public IMemAllocator {
public:
    ~PooledAllocator()
    {
        for (PooledSample* sample : pool)
            delete sample;
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        *out = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMemAllocator) ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* wanted, ALLOCATOR_PROPERTIES* granted) override
    {
        if (committed)
            return VFW_E_ALREADY_COMMITTED;
        properties = *wanted;
        properties.cbAlign = 1;
        properties.cbPrefix = 0;
        *granted = properties;
        return S_OK;
    }
    STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES* out) override
    {
        *out = properties;
        return S_OK;
    }
    STDMETHODIMP Commit() override
    {
        if (pool.empty())
            for (long i = 0; i < properties.cBuffers; ++i)
                pool.push_back(new PooledSample(*this, static_cast<std::size_t>(properties.cbBuffer)));
        committed = true;
        return S_OK;
    }
    STDMETHODIMP Decommit() override
    {
        committed = false;
        return S_OK;
    }
    // The source takes one sample at a time and this sink returns each
    // inside Receive, so a free one is always found on the first pass.
    STDMETHODIMP GetBuffer(IMediaSample** out, REFERENCE_TIME*, REFERENCE_TIME*, DWORD) override
    {
        *out = nullptr;
        for (;;) {
            if (!committed)
                return VFW_E_NOT_COMMITTED;
            for (PooledSample* sample : pool) {
                if (!sample->lent.exchange(true)) {
                    sample->reset();
                    *out = sample;
                    return S_OK;
                }
            }
            SwitchToThread();
        }
    }
    STDMETHODIMP ReleaseBuffer(IMediaSample* sample) override
    {
        static_cast<PooledSample*>(sample)->lent = false;
        return S_OK;
    }

private:
    ALLOCATOR_PROPERTIES properties{};
    std::atomic<bool> committed{false};
    std::vector<PooledSample*> pool;
};

inline STDMETHODIMP_(ULONG) PooledSample::Release()
{
    const ULONG left = --references;
    if (left == 0)
        owner.ReleaseBuffer(this);
    return left;
}

class PooledSink final : public IPin, public IMemInputPin {
public:
    PooledSink() : ended(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~PooledSink() { CloseHandle(ended); }

    // Clears the end of stream; then waits at most `boundMs` for the next.
    void rearm() { ResetEvent(ended); }
    bool waitForEnd(DWORD boundMs) { return WaitForSingleObject(ended, boundMs) == WAIT_OBJECT_0; }
    std::int64_t samples() const { return received; }

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
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    // IPin
    STDMETHODIMP Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE*) override
    {
        if (peer)
            return VFW_E_ALREADY_CONNECTED;
        peer = connector;
        return S_OK;
    }
    STDMETHODIMP Disconnect() override
    {
        const bool was = peer != nullptr;
        peer = nullptr;
        return was ? S_OK : S_FALSE;
    }
    STDMETHODIMP ConnectedTo(IPin** out) override
    {
        *out = peer;
        if (!peer)
            return VFW_E_NOT_CONNECTED;
        peer->AddRef();
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
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes**) override { return E_NOTIMPL; }
    STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP EndOfStream() override
    {
        SetEvent(ended);
        return S_OK;
    }
    STDMETHODIMP BeginFlush() override { return S_OK; }
    STDMETHODIMP EndFlush() override { return S_OK; }
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    // IMemInputPin
    STDMETHODIMP GetAllocator(IMemAllocator** out) override
    {
        *out = &allocator;
        return S_OK;
    }
    STDMETHODIMP NotifyAllocator(IMemAllocator*, BOOL) override { return S_OK; }
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    STDMETHODIMP Receive(IMediaSample*) override
    {
        ++received;
        return S_OK;
    }
    STDMETHODIMP ReceiveMultiple(IMediaSample**, long, long*) override { return E_NOTIMPL; }
    STDMETHODIMP ReceiveCanBlock() override { return S_FALSE; }

private:
    PooledAllocator allocator;
    IPin* peer = nullptr;
    HANDLE ended;
    std::atomic<std::int64_t> received{0};
};
