#pragma once

// A byte stream over another whose reads go wrong on purpose: after
// `goodReads` reads each Read answers `failure` (a network share gone), or
// each Read from then on first waits `stallMilliseconds` (a slow share),
// or the stream reports an unknown length or no seeking, or reads less
// than asked. It counts the
// reads and signals `stalled` whenever a read starts to wait, so a test can
// act while one is under way. The asynchronous reads go through Read.
#include <algorithm>
#include <atomic>

#include <windows.h>

#include <mfidl.h>
#include <mferror.h>

#include "support/COMPtr.h"
#include "tests/mediafoundation/TestCallback.h"

class FaultyByteStream final : public TestCallback<IMFByteStream> {
public:
    struct Faults {
        int goodReads = -1; // reads that behave before the fault; -1: never a fault
        HRESULT failure = S_OK;
        DWORD stallMilliseconds = 0;
        bool unknownLength = false;
        bool notSeekable = false;
        bool shortReads = false; // at most 7 bytes a read, as a pipe may give
    };

    FaultyByteStream(IMFByteStream* inner, Faults faults)
        : faults(faults), stalled(CreateEventA(nullptr, FALSE, FALSE, nullptr)), inner(inner)
    {
    }
    ~FaultyByteStream() override { CloseHandle(stalled); }

    // Changed by a test between reads.
    Faults faults;
    std::atomic<int> reads{0};
    HANDLE stalled; // auto-reset

    bool answers(REFIID iid) const override { return IsEqualIID(iid, IID_IMFByteStream); }

    STDMETHODIMP GetCapabilities(DWORD* capabilities) override
    {
        const HRESULT hr = inner->GetCapabilities(capabilities);
        if (SUCCEEDED(hr) && faults.notSeekable)
            *capabilities &= ~DWORD{MFBYTESTREAM_IS_SEEKABLE};
        return hr;
    }
    STDMETHODIMP GetLength(QWORD* length) override
    {
        const HRESULT hr = inner->GetLength(length);
        if (SUCCEEDED(hr) && faults.unknownLength)
            *length = ~QWORD{0};
        return hr;
    }
    STDMETHODIMP SetLength(QWORD length) override { return inner->SetLength(length); }
    STDMETHODIMP GetCurrentPosition(QWORD* position) override { return inner->GetCurrentPosition(position); }
    STDMETHODIMP SetCurrentPosition(QWORD position) override { return inner->SetCurrentPosition(position); }
    STDMETHODIMP IsEndOfStream(BOOL* end) override { return inner->IsEndOfStream(end); }
    STDMETHODIMP Read(BYTE* out, ULONG count, ULONG* read) override
    {
        const int index = reads++;
        if (faults.goodReads >= 0 && index >= faults.goodReads) {
            if (faults.stallMilliseconds) {
                SetEvent(stalled);
                Sleep(faults.stallMilliseconds);
            }
            if (FAILED(faults.failure))
                return faults.failure;
        }
        if (faults.shortReads)
            count = std::min<ULONG>(count, 7);
        return inner->Read(out, count, read);
    }
    STDMETHODIMP BeginRead(BYTE* out, ULONG count, IMFAsyncCallback* callback, IUnknown* state) override
    {
        ULONG read = 0;
        const HRESULT hr = Read(out, count, &read);
        lastRead = read;
        oryx::COMPtr<IMFAsyncResult> result;
        if (FAILED(MFCreateAsyncResult(nullptr, callback, state, result.receive())))
            return E_FAIL;
        result->SetStatus(hr);
        return MFInvokeCallback(result.get());
    }
    STDMETHODIMP EndRead(IMFAsyncResult* result, ULONG* read) override
    {
        *read = lastRead;
        return result->GetStatus();
    }
    STDMETHODIMP Write(const BYTE*, ULONG, ULONG*) override { return E_ACCESSDENIED; }
    STDMETHODIMP BeginWrite(const BYTE*, ULONG, IMFAsyncCallback*, IUnknown*) override { return E_ACCESSDENIED; }
    STDMETHODIMP EndWrite(IMFAsyncResult*, ULONG*) override { return E_ACCESSDENIED; }
    STDMETHODIMP Seek(MFBYTESTREAM_SEEK_ORIGIN origin, LONGLONG offset, DWORD flags, QWORD* position) override
    {
        return inner->Seek(origin, offset, flags, position);
    }
    STDMETHODIMP Flush() override { return inner->Flush(); }
    STDMETHODIMP Close() override { return inner->Close(); }

private:
    oryx::COMPtr<IMFByteStream> inner;
    ULONG lastRead = 0;
};
