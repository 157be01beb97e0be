#pragma once

#include <cstdint>

#include <mfobjects.h>

#include "bytesource/SeekingByteSource.h"
#include "support/COMPtr.h"

// The codec core's view of the byte stream Media Foundation hands a
// byte-stream handler, through IMFByteStream::SetCurrentPosition and Read.
// The length is taken once, when the source is made. The source moves the
// stream's position: its owner must not expect it kept.
class MFByteStreamSource : public oryx::SeekingByteSource {
public:
    // Raises COMError with the stream's HRESULT when its length is unknown
    // (MF_E_UNSUPPORTED_BYTESTREAM_TYPE when the stream cannot tell it).
    explicit MFByteStreamSource(IMFByteStream& stream);

private:
    HRESULT seekTo(std::uint64_t offset) override;
    HRESULT readSome(void* out, ULONG want, ULONG* got) override;

    oryx::COMPtr<IMFByteStream> stream;
};
