#pragma once

#include <windows.h>

#include "mediafoundation/ByteStreamHandlerInterface.h"

#include "com/CreateInstanceImpl.h"
#include "com/DelegatingUnknown.h"
#include "com/IUnknownImpl.h"

// What Media Foundation's source resolver creates for an .ape stream (by the
// extension of its URL or its MIME type): it turns a byte stream into an
// ApeMediaSource. Any readable, seekable IMFByteStream of known length will
// do, a file's or one made over memory.
//
// Creation finishes inside BeginCreateObject: the source reads only the
// headers, the seek table's end and the tag, so there is nothing worth
// cancelling, and the callback is invoked (on a work-queue thread, through
// MFInvokeCallback) before Begin returns. The handler keeps no state and
// takes no lock.
class ApeByteStreamHandler : public oryx::DelegatingUnknown<ApeByteStreamHandler, IMFByteStreamHandler>,
                             public oryx::IUnknownImpl,
                             public oryx::CreateInstanceImpl<ApeByteStreamHandler> {
public:
    explicit ApeByteStreamHandler(IUnknown* outer);

    IUnknown* interfaceFor(REFIID iid) override;

    // Only MF_RESOLUTION_MEDIASOURCE is made (else E_INVALIDARG). A stream
    // that is not a whole .ape file, or not seekable, or fails to read,
    // ends with MF_E_UNSUPPORTED_BYTESTREAM_TYPE, which reaches the caller
    // through EndCreateObject.
    STDMETHOD(BeginCreateObject)(IMFByteStream* stream, LPCWSTR url, DWORD flags, IPropertyStore* properties,
                                 IUnknown** cancelCookie, IMFAsyncCallback* callback, IUnknown* state) override;
    STDMETHOD(EndCreateObject)(IMFAsyncResult* result, MF_OBJECT_TYPE* type, IUnknown** object) override;
    // Creation is over before a cookie could be used: nothing to cancel.
    STDMETHOD(CancelObjectCreation)(IUnknown* cancelCookie) override;
    STDMETHOD(GetMaxNumberOfBytesRequiredForResolution)(QWORD* bytes) override;
};
