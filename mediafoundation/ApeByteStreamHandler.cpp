#include "mediafoundation/ApeByteStreamHandler.h"

#include <algorithm>

#include <mfapi.h>
#include <mferror.h>

#include "format/CodecError.h"
#include "mediafoundation/ApeMediaSource.h"
#include "mediafoundation/WorkQueueTask.h"
#include "support/AutoLock.h"
#include "support/COMPtr.h"
#include "support/ComBoundary.h"

namespace {

// Enough for the signature and headers behind a usual leading ID3v2 tag;
// the resolver uses it only to decide how much to read before guessing.
constexpr QWORD bytesForResolution = 64 * 1024;

} // namespace

ApeByteStreamHandler::ApeByteStreamHandler(IUnknown* outer) : IUnknownImpl(outer)
{
}

IUnknown* ApeByteStreamHandler::interfaceFor(REFIID iid)
{
    if (IUnknown* found = oryx::lookUpInterface<IMFByteStreamHandler>(this, iid))
        return found;
    return IUnknownImpl::interfaceFor(iid);
}

STDMETHODIMP ApeByteStreamHandler::BeginCreateObject(IMFByteStream* stream, LPCWSTR /*url*/, DWORD flags,
                                                     IPropertyStore* /*properties*/, IUnknown** cancelCookie,
                                                     IMFAsyncCallback* callback, IUnknown* state)
{
    if (cancelCookie)
        *cancelCookie = nullptr;
    if (!stream || !callback)
        return E_POINTER;
    if (!(flags & MF_RESOLUTION_MEDIASOURCE))
        return E_INVALIDARG;
    return oryx::comBoundaryCatchAll([&] {
        // Any object will do as the cookie: only its identity matters.
        oryx::COMPtr<IMFAttributes> cookie;
        oryx::checkResult(MFCreateAttributes(cookie.receive(), 0));
        oryx::COMPtr<IUnknown> identity;
        oryx::checkResult(cookie->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(identity.receive())));
        const Creation creation{identity.get(), std::make_shared<std::atomic<bool>>(false)};
        {
            oryx::AutoLock locked(lock);
            pending.push_back(creation);
        }
        oryx::COMPtr<IMFByteStreamHandler> self(this);
        oryx::COMPtr<IMFByteStream> source(stream);
        oryx::COMPtr<IMFAsyncCallback> caller(callback);
        oryx::COMPtr<IUnknown> callerState(state);
        try {
            // The task holds the cookie too, so no other object can take its
            // address while the creation it names is pending.
            WorkQueueTask::post([self, source, caller, callerState, identity, creation] {
                static_cast<ApeByteStreamHandler*>(self.get())->create(*source, *caller, callerState.get(), creation);
            });
        } catch (...) {
            oryx::AutoLock locked(lock);
            pending.pop_back();
            throw;
        }
        if (cancelCookie) {
            *cancelCookie = identity.get();
            identity->AddRef();
        }
        return S_OK;
    });
}

void ApeByteStreamHandler::create(IMFByteStream& stream, IMFAsyncCallback& callback, IUnknown* state,
                                  const Creation& creation)
{
    oryx::COMPtr<IMFMediaSource> source;
    HRESULT status = S_OK;
    DWORD capabilities = 0;
    // The codec reads the end of the file (seek table, tags) before any audio.
    constexpr DWORD needed = MFBYTESTREAM_IS_READABLE | MFBYTESTREAM_IS_SEEKABLE;
    if (creation.cancelled->load())
        status = MF_E_OPERATION_CANCELLED;
    else if (const HRESULT hr = stream.GetCapabilities(&capabilities); FAILED(hr))
        status = hr;
    else if ((capabilities & needed) != needed)
        status = MF_E_UNSUPPORTED_BYTESTREAM_TYPE;
    else
        try {
            source = ApeMediaSource::create(stream);
        } catch (const ape::CodecError&) {
            // A stream that fails to read is as unplayable as one of
            // another format; either way the resolver may try elsewhere.
            status = MF_E_UNSUPPORTED_BYTESTREAM_TYPE;
        } catch (const std::exception& error) {
            status = oryx::exceptionToHResult(error);
        }
    {
        oryx::AutoLock locked(lock);
        pending.erase(std::find_if(pending.begin(), pending.end(),
                                   [&](const Creation& known) { return known.cookie == creation.cookie; }));
    }
    if (source && creation.cancelled->load()) {
        source->Shutdown();
        source = nullptr;
        status = MF_E_OPERATION_CANCELLED;
    }
    oryx::COMPtr<IMFAsyncResult> result;
    if (SUCCEEDED(MFCreateAsyncResult(source.get(), &callback, state, result.receive()))) {
        result->SetStatus(status);
        MFInvokeCallback(result.get());
    } else if (source) {
        source->Shutdown();
    }
}

STDMETHODIMP ApeByteStreamHandler::EndCreateObject(IMFAsyncResult* result, MF_OBJECT_TYPE* type, IUnknown** object)
{
    if (type)
        *type = MF_OBJECT_INVALID;
    if (object)
        *object = nullptr;
    if (!result || !type || !object)
        return E_POINTER;
    const HRESULT status = result->GetStatus();
    if (FAILED(status))
        return status;
    if (const HRESULT hr = result->GetObject(object); FAILED(hr))
        return hr;
    *type = MF_OBJECT_MEDIASOURCE;
    return S_OK;
}

STDMETHODIMP ApeByteStreamHandler::CancelObjectCreation(IUnknown* cancelCookie)
{
    if (!cancelCookie)
        return E_INVALIDARG;
    oryx::COMPtr<IUnknown> identity;
    if (FAILED(cancelCookie->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(identity.receive()))))
        return E_INVALIDARG;
    oryx::AutoLock locked(lock);
    for (const Creation& creation : pending) {
        if (creation.cookie == identity.get())
            creation.cancelled->store(true);
    }
    return S_OK;
}

STDMETHODIMP ApeByteStreamHandler::GetMaxNumberOfBytesRequiredForResolution(QWORD* bytes)
{
    if (!bytes)
        return E_POINTER;
    *bytes = bytesForResolution;
    return S_OK;
}
