#include "mediafoundation/ApeByteStreamHandler.h"

#include <mfapi.h>
#include <mferror.h>

#include "format/CodecError.h"
#include "mediafoundation/ApeMediaSource.h"
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
        oryx::COMPtr<IMFMediaSource> source;
        HRESULT status = S_OK;
        DWORD capabilities = 0;
        oryx::checkResult(stream->GetCapabilities(&capabilities));
        // The codec reads the end of the file (seek table, tags) before any audio.
        constexpr DWORD needed = MFBYTESTREAM_IS_READABLE | MFBYTESTREAM_IS_SEEKABLE;
        if ((capabilities & needed) != needed)
            status = MF_E_UNSUPPORTED_BYTESTREAM_TYPE;
        else
            try {
                source = ApeMediaSource::create(*stream);
            } catch (const ape::CodecError&) {
                // A stream that fails to read is as unplayable as one of
                // another format; either way the resolver may try elsewhere.
                status = MF_E_UNSUPPORTED_BYTESTREAM_TYPE;
            } catch (const std::exception& error) {
                status = oryx::exceptionToHResult(error);
            }
        oryx::COMPtr<IMFAsyncResult> result;
        oryx::checkResult(MFCreateAsyncResult(source.get(), callback, state, result.receive()));
        oryx::checkResult(result->SetStatus(status));
        return MFInvokeCallback(result.get());
    });
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

STDMETHODIMP ApeByteStreamHandler::CancelObjectCreation(IUnknown* /*cancelCookie*/)
{
    return S_OK;
}

STDMETHODIMP ApeByteStreamHandler::GetMaxNumberOfBytesRequiredForResolution(QWORD* bytes)
{
    if (!bytes)
        return E_POINTER;
    *bytes = bytesForResolution;
    return S_OK;
}
