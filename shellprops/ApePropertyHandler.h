#pragma once

#include <memory>

#include <windows.h>

#include <propsys.h>

#include "com/CreateInstanceImpl.h"
#include "com/DelegatingUnknown.h"
#include "com/IUnknownImpl.h"
#include "shellprops/ApeFileProperties.h"
#include "support/COMPtr.h"
#include "support/CriticalSection.h"

// The read-only property store Windows asks about an .ape file: Explorer's
// isolated host creates it by its class identifier, hands it the file as a
// stream (IInitializeWithStream) and asks for values (IPropertyStore). The
// stream is read once, in Initialize, and released before it returns.
//
// Before a successful Initialize the store is empty, and a failed one
// leaves it so. IInitializeWithStream allows one Initialize per object: the
// host makes a new handler for another try, so any later call is refused
// whether the first succeeded or failed. Nothing is ever writable: SetValue
// and Commit answer STG_E_ACCESSDENIED and IsPropertyWritable S_FALSE.
//
// Locks: `lock` guards `values` and `initialized` and is held through
// Initialize, so a caller asking meanwhile waits for the whole answer; the
// values themselves never change once set.
class ApePropertyHandler : public oryx::DelegatingUnknown<ApePropertyHandler, IPropertyStore>,
                           public oryx::DelegatingUnknown<ApePropertyHandler, IInitializeWithStream>,
                           public oryx::DelegatingUnknown<ApePropertyHandler, IPropertyStoreCapabilities>,
                           public oryx::IUnknownImpl,
                           public oryx::CreateInstanceImpl<ApePropertyHandler> {
public:
    explicit ApePropertyHandler(IUnknown* outer);

    // A store already holding `values`, for a module that read the file
    // itself (the Media Foundation source's MF_PROPERTY_HANDLER_SERVICE);
    // its Initialize answers HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED).
    static oryx::COMPtr<IPropertyStore> holding(std::unique_ptr<const ApeFileProperties> values);

    IUnknown* interfaceFor(REFIID iid) override;

    // IInitializeWithStream. Write access in `mode` is refused with
    // STG_E_ACCESSDENIED; a stream that is not a whole .ape file with
    // HRESULT_FROM_WIN32(ERROR_BAD_FORMAT), or with the stream's own error
    // when one of its calls failed; any call after one that had a stream,
    // whatever it answered, with HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED).
    // A null stream is E_POINTER and does not count as that call.
    STDMETHOD(Initialize)(IStream* stream, DWORD mode) override;

    // IPropertyStore. GetValue of a key the file has no value for gives
    // VT_EMPTY and S_OK; GetAt beyond GetCount gives E_INVALIDARG.
    STDMETHOD(GetCount)(DWORD* count) override;
    STDMETHOD(GetAt)(DWORD index, PROPERTYKEY* key) override;
    STDMETHOD(GetValue)(REFPROPERTYKEY key, PROPVARIANT* value) override;
    STDMETHOD(SetValue)(REFPROPERTYKEY key, REFPROPVARIANT value) override;
    STDMETHOD(Commit)() override;

    // IPropertyStoreCapabilities
    STDMETHOD(IsPropertyWritable)(REFPROPERTYKEY key) override;

private:
    oryx::CriticalSection lock;
    std::unique_ptr<const ApeFileProperties> values;
    bool initialized = false; // Initialize was called with a stream
};
