#include "shellprops/ApePropertyHandler.h"

#include "com/ArgumentChecks.h"
#include "format/CodecError.h"
#include "shellprops/StreamByteSource.h"
#include "shellprops/InitializeOnce.h"
#include "support/AutoLock.h"
#include "support/ComBoundary.h"

namespace {

const HRESULT badFormat = HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);

} // namespace

ApePropertyHandler::ApePropertyHandler(IUnknown* outer) : IUnknownImpl(outer)
{
}

oryx::COMPtr<IPropertyStore> ApePropertyHandler::holding(std::unique_ptr<const ApeFileProperties> values)
{
    auto* handler = new ApePropertyHandler(nullptr);
    oryx::COMPtr<IPropertyStore> store(static_cast<IPropertyStore*>(handler));
    handler->values = std::move(values);
    handler->initialized = true;
    return store;
}

IUnknown* ApePropertyHandler::interfaceFor(REFIID iid)
{
    if (IUnknown* found =
            oryx::lookUpInterface<IPropertyStore, IInitializeWithStream, IPropertyStoreCapabilities>(this, iid))
        return found;
    return IUnknownImpl::interfaceFor(iid);
}

STDMETHODIMP ApePropertyHandler::Initialize(IStream* stream, DWORD mode)
{
    if (!stream)
        return E_POINTER;
    return oryx::comBoundary([&] {
        oryx::AutoLock locked(lock);
        if (const HRESULT refused = beginInitialize(initialized, mode); refused != S_OK)
            return refused;
        StreamByteSource source(*stream);
        try {
            auto read = std::make_unique<const ApeFileProperties>(source);
            // A stream that failed while the tag was read leaves a store that
            // lacks what the file holds: its error is the answer.
            if (const HRESULT failure = source.failure(); FAILED(failure))
                return failure;
            values = std::move(read);
            return S_OK;
        } catch (const ape::CodecError&) {
            // Whatever the codec made of the bytes it missed, a failing
            // stream is the cause, and its error is what the caller can act on.
            return source.failureOr(badFormat);
        }
    });
}

STDMETHODIMP ApePropertyHandler::GetCount(DWORD* count)
{
    if (!count)
        return E_POINTER;
    return oryx::comBoundary([&] {
        oryx::AutoLock locked(lock);
        // A handful of keys: the count is far below a DWORD's range.
        *count = values ? static_cast<DWORD>(values->count()) : 0;
        return S_OK;
    });
}

STDMETHODIMP ApePropertyHandler::GetAt(DWORD index, PROPERTYKEY* key)
{
    if (!key)
        return E_POINTER;
    return oryx::comBoundary([&] {
        oryx::AutoLock locked(lock);
        if (!values || index >= values->count()) {
            *key = PROPERTYKEY{GUID_NULL, 0};
            return E_INVALIDARG;
        }
        *key = values->keyAt(index);
        return S_OK;
    });
}

STDMETHODIMP ApePropertyHandler::GetValue(REFPROPERTYKEY key, PROPVARIANT* value)
{
    if (oryx::isNullReference(key.fmtid) || !value)
        return E_POINTER;
    PropVariantInit(value);
    return oryx::comBoundary([&] {
        oryx::AutoLock locked(lock);
        if (const PropertyValue* found = values ? values->find(key) : nullptr)
            found->copyTo(*value);
        return S_OK;
    });
}

STDMETHODIMP ApePropertyHandler::SetValue(REFPROPERTYKEY, REFPROPVARIANT)
{
    return STG_E_ACCESSDENIED;
}

STDMETHODIMP ApePropertyHandler::Commit()
{
    return STG_E_ACCESSDENIED;
}

STDMETHODIMP ApePropertyHandler::IsPropertyWritable(REFPROPERTYKEY)
{
    return S_FALSE;
}
