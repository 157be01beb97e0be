#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include <windows.h>

#include "mediafoundation/ByteStreamHandlerInterface.h"

#include "com/CreateInstanceImpl.h"
#include "com/DelegatingUnknown.h"
#include "com/IUnknownImpl.h"
#include "support/CriticalSection.h"

// What Media Foundation's source resolver creates for an .ape stream (by the
// extension of its URL or its MIME type): it turns a byte stream into an
// ApeMediaSource. Any readable, seekable IMFByteStream of known length will
// do, a file's or one made over memory.
//
// Creation runs on a Media Foundation work queue, so BeginCreateObject
// returns at once whatever the stream does; the callback follows on a
// work-queue thread. The cookie Begin gives names that creation to
// CancelObjectCreation: a creation cancelled before it ends shuts the source
// it made down and ends with MF_E_OPERATION_CANCELLED.
//
// Locks: `lock` guards `pending`, and nothing is called under it.
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
    // S_OK, also for a creation that has already ended; E_INVALIDARG for null.
    STDMETHOD(CancelObjectCreation)(IUnknown* cancelCookie) override;
    STDMETHOD(GetMaxNumberOfBytesRequiredForResolution)(QWORD* bytes) override;

private:
    struct Creation {
        IUnknown* cookie; // identity of the cookie Begin gave
        std::shared_ptr<std::atomic<bool>> cancelled;
    };
    // On the work queue: makes the source and calls the caller back.
    void create(IMFByteStream& stream, IMFAsyncCallback& callback, IUnknown* state, const Creation& creation);

    oryx::CriticalSection lock;
    std::vector<Creation> pending; // creations begun and not yet ended
};
