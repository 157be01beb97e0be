#include "shellprops/StreamByteSource.h"

#include <algorithm>
#include <limits>

#include "support/AutoLock.h"
#include "support/COMError.h"

StreamByteSource::StreamByteSource(IStream& stream) : stream(&stream)
{
    STATSTG status{};
    const HRESULT hr = stream.Stat(&status, STATFLAG_NONAME);
    if (FAILED(hr))
        throw oryx::COMError(hr, "Can't learn the stream's size");
    // Seek takes signed offsets: what lies beyond them cannot be read anyway.
    byteCount = std::min<std::uint64_t>(status.cbSize.QuadPart, std::numeric_limits<LONGLONG>::max());
}

bool StreamByteSource::read(std::uint64_t offset, void* out, std::size_t count)
{
    if (offset > byteCount || count > byteCount - offset)
        return false;
    oryx::AutoLock locked(lock);
    return readLocked(offset, out, count);
}

bool StreamByteSource::readLocked(std::uint64_t offset, void* out, std::size_t count)
{
    auto failed = [this](HRESULT hr) {
        if (firstFailure == S_OK)
            firstFailure = hr;
        return false;
    };
    LARGE_INTEGER position;
    // Below the size, which the constructor kept within LONGLONG.
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (const HRESULT hr = stream->Seek(position, STREAM_SEEK_SET, nullptr); FAILED(hr))
        return failed(hr);
    auto* bytes = static_cast<unsigned char*>(out);
    // A stream may deliver less than asked without being at its end.
    while (count > 0) {
        const ULONG want = static_cast<ULONG>(std::min<std::size_t>(count, std::numeric_limits<ULONG>::max()));
        ULONG got = 0;
        if (const HRESULT hr = stream->Read(bytes, want, &got); FAILED(hr))
            return failed(hr);
        if (got == 0 || got > want)
            return false;
        bytes += got;
        count -= got;
    }
    return true;
}

HRESULT StreamByteSource::failure()
{
    oryx::AutoLock locked(lock);
    return firstFailure;
}
