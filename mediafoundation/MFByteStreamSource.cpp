#include "mediafoundation/MFByteStreamSource.h"

#include <mferror.h>

#include "support/COMError.h"

namespace {

std::uint64_t streamLength(IMFByteStream& stream)
{
    QWORD length = 0;
    const HRESULT hr = stream.GetLength(&length);
    if (FAILED(hr))
        throw oryx::COMError(hr, "Can't learn the byte stream's length");
    // A stream that is still arriving reports its length as all ones; the
    // codec needs the end of the file (its tags and seek table) first.
    if (length == ~QWORD{0})
        throw oryx::COMError(MF_E_UNSUPPORTED_BYTESTREAM_TYPE, "The byte stream's length is unknown");
    return length;
}

} // namespace

MFByteStreamSource::MFByteStreamSource(IMFByteStream& stream) : SeekingByteSource(streamLength(stream)), stream(&stream)
{
}

HRESULT MFByteStreamSource::seekTo(std::uint64_t offset)
{
    return stream->SetCurrentPosition(offset);
}

HRESULT MFByteStreamSource::readSome(void* out, ULONG want, ULONG* got)
{
    return stream->Read(static_cast<BYTE*>(out), want, got);
}
