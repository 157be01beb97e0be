#pragma once

#include <oaidl.h>
#include <windows.h>

#include "com/ArgumentChecks.h"
#include "support/AutoLock.h"
#include "support/COMError.h"
#include "support/COMPtr.h"
#include "support/ComBoundary.h"
#include "support/CriticalSection.h"
#include "support/HResults.h"
#include "support/Quoted.h"
#include "support/StringConversion.h"

// The IDispatch half of a dual interface, served from the interface's type
// information: names, dispatch identifiers and argument conversion are the
// type library's, and Invoke lands in the object's own vtable methods.
//
// A subclass supplies the interface's own methods and, as for every mix-in,
// QueryInterface, AddRef and Release (usually via DelegatingUnknown), and
// tells the constructor where the type library lives. The type information
// is loaded on the first call that needs it and kept until destruction.
//
// Threads: typeInfoLock guards the test-and-load of typeInfo, so only one
// thread loads it. Once set it never changes until the destructor, so the
// type information is used, outside the lock, by several calls at once.
template <typename DualInterface>
class IDispatchImpl : public DualInterface {
public:
    // The registered library `libraryId` at `major`.`minor` is tried first,
    // then the file `libraryFile` by the system's search for type libraries.
    // All pointers are to static constants and are not copied.
    IDispatchImpl(const wchar_t* libraryFile, const GUID* libraryId, WORD major, WORD minor, const IID* iid)
        : typeLibraryFile(libraryFile), typeLibraryId(libraryId), majorVersion(major), minorVersion(minor),
          interfaceId(iid)
    {
    }

    STDMETHODIMP GetTypeInfoCount(UINT* count) override
    {
        if (!count)
            return E_POINTER;
        *count = 1;
        return S_OK;
    }

    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** out) override
    {
        // The index is answered first: a caller probing for more type
        // information than there is may pass no pointer at all.
        if (index != 0)
            return TYPE_E_ELEMENTNOTFOUND;
        if (!out)
            return E_POINTER;
        *out = nullptr;
        return oryx::comBoundary([&] {
            ITypeInfo& info = typeInformation(lcid);
            info.AddRef();
            *out = &info;
            return S_OK;
        });
    }

    // The interface id is not examined: the names are looked up in this
    // interface's type information whatever the caller says.
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override
    {
        return oryx::comBoundary([&] { return typeInformation(lcid).GetIDsOfNames(names, count, ids); });
    }

    STDMETHODIMP Invoke(DISPID member, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                        EXCEPINFO* exception, UINT* argumentError) override
    {
        if (oryx::isNullReference(iid))
            return E_POINTER;
        if (!IsEqualIID(iid, IID_NULL))
            return DISP_E_UNKNOWNINTERFACE;
        return oryx::comBoundary([&] {
            return typeInformation(lcid).Invoke(static_cast<DualInterface*>(this), member, flags, parameters, result,
                                                exception, argumentError);
        });
    }

protected:
    ~IDispatchImpl() = default;

private:
    // The interface's type information, loaded on first use with that
    // call's locale; later calls reuse it whatever their locale.
    ITypeInfo& typeInformation(LCID lcid)
    {
        oryx::AutoLock guard(typeInfoLock);
        if (!typeInfo) {
            oryx::COMPtr<ITypeLib> library;
            if (FAILED(LoadRegTypeLib(*typeLibraryId, majorVersion, minorVersion, lcid, library.receive())))
                oryx::checkResult(LoadTypeLib(typeLibraryFile, library.receive()),
                                  "Can't load type library " + oryx::quoted(oryx::narrow(typeLibraryFile, CP_ACP)));
            oryx::checkResult(library->GetTypeInfoOfGuid(*interfaceId, typeInfo.receive()),
                              "Can't find the interface in its type library");
        }
        return *typeInfo;
    }

    const wchar_t* const typeLibraryFile;
    const GUID* const typeLibraryId;
    const WORD majorVersion;
    const WORD minorVersion;
    const IID* const interfaceId;
    oryx::CriticalSection typeInfoLock;
    oryx::COMPtr<ITypeInfo> typeInfo; // guarded by typeInfoLock until set
};
