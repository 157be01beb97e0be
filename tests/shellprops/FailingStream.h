#pragma once

// A stream over another that starts failing: its Read calls after the first
// `goodReads` answer `failure`, or (statFails) Stat does at once. What a
// handler meets when a network share drops or a disk has a bad sector.
#include <windows.h>

#include <objidl.h>

#include "support/COMPtr.h"

class FailingStream : public IStream {
public:
    FailingStream(IStream* inner, int goodReads, HRESULT failure, bool statFails = false)
        : inner(inner), goodReads(goodReads), failure(failure), statFails(statFails)
    {
    }
    virtual ~FailingStream() = default;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISequentialStream) || IsEqualIID(iid, IID_IStream)) {
            *out = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG left = InterlockedDecrement(&references);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

    STDMETHODIMP Read(void* out, ULONG count, ULONG* read) override
    {
        if (goodReads-- <= 0)
            return failure;
        return inner->Read(out, count, read);
    }
    STDMETHODIMP Write(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }
    STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override
    {
        return inner->Seek(move, origin, position);
    }
    STDMETHODIMP SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
    STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHODIMP Commit(DWORD) override { return S_OK; }
    STDMETHODIMP Revert() override { return S_OK; }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    STDMETHODIMP Stat(STATSTG* status, DWORD flags) override
    {
        return statFails ? failure : inner->Stat(status, flags);
    }
    STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }

private:
    oryx::COMPtr<IStream> inner;
    int goodReads;
    const HRESULT failure;
    const bool statFails;
    LONG references = 0;
};
