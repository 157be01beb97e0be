#pragma once

// The IUnknown of a callback object a test hands to Media Foundation: an
// interlocked count that starts at 0 (a COMPtr takes the first reference),
// deletion when it is back at 0, and QueryInterface answering IID_IUnknown
// and whatever identifiers the subclass's answers() accepts, all with the
// one interface `Interface` the subclass implements.
#include <windows.h>

template <typename Interface>
class TestCallback : public Interface {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || answers(iid)) {
            *out = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&references); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG left = InterlockedDecrement(&references);
        if (left == 0)
            delete this;
        return left;
    }

protected:
    virtual ~TestCallback() = default;
    virtual bool answers(REFIID iid) const = 0;

private:
    LONG references = 0;
};
