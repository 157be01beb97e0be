#pragma once

#include <stdexcept>
#include <utility>

#include <objbase.h>

#include "support/COMError.h"
#include "support/Diagnostics.h"
#include "support/HResults.h"

namespace oryx {

// Holds one counted reference to a COM interface. Not thread-safe: one
// holder belongs to one thread at a time.
template <typename I>
class COMPtr {
public:
    COMPtr() = default;
    COMPtr(I* pointer) { assign(pointer); }
    COMPtr(const COMPtr& other) { assign(other.pointer); }
    COMPtr(COMPtr&& other) noexcept : pointer(std::exchange(other.pointer, nullptr)) {}
    // Creates an object of `clsid` and holds its `I`.
    COMPtr(REFCLSID clsid, DWORD clsContext = CLSCTX_INPROC_SERVER, IUnknown* outer = nullptr)
    {
        checkResult(CoCreateInstance(clsid, outer, clsContext, __uuidof(I), reinterpret_cast<void**>(&pointer)),
                    "Unable to create instance of class " + guidName(clsid, true) + " with interface " +
                        guidName(__uuidof(I), true));
    }
    ~COMPtr() { release(); }

    COMPtr& operator=(I* other)
    {
        assign(other);
        return *this;
    }
    COMPtr& operator=(const COMPtr& other)
    {
        assign(other.pointer);
        return *this;
    }
    COMPtr& operator=(COMPtr&& other) noexcept
    {
        if (this != &other) {
            release();
            pointer = std::exchange(other.pointer, nullptr);
        }
        return *this;
    }

    // Queries `source` for I; a null source leaves the holder empty.
    // clang-format off
    template <typename Other>
        requires(!std::is_same_v<Other, I>)
    COMPtr& operator=(Other* source)
    // clang-format on
    {
        release();
        if (source) {
            const HRESULT hr = source->QueryInterface(__uuidof(I), reinterpret_cast<void**>(&pointer));
            if (FAILED(hr)) {
                pointer = nullptr;
                throw COMError(hr, "Can't query interface " + guidName(__uuidof(I), true));
            }
        }
        return *this;
    }

    I* operator->() const { return &**this; }
    I& operator*() const
    {
        if (!pointer)
            throw std::runtime_error("Can't dereference 0 COM pointer");
        return *pointer;
    }
    I* get() const { return pointer; }
    explicit operator bool() const { return pointer != nullptr; }

    void release()
    {
        if (pointer)
            std::exchange(pointer, nullptr)->Release();
    }

    // For out-parameters of COM calls: the holder must be empty.
    I** receive()
    {
        release();
        return &pointer;
    }

private:
    void assign(I* other)
    {
        if (other)
            other->AddRef();
        release();
        pointer = other;
    }

    I* pointer = nullptr;
};

} // namespace oryx
