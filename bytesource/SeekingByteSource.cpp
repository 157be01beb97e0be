#include "bytesource/SeekingByteSource.h"

#include <algorithm>
#include <limits>

#include "support/AutoLock.h"

namespace oryx {

SeekingByteSource::SeekingByteSource(std::uint64_t byteCount)
    : byteCount(std::min<std::uint64_t>(byteCount, std::numeric_limits<LONGLONG>::max()))
{
}

bool SeekingByteSource::read(std::uint64_t offset, void* out, std::size_t count)
{
    if (offset > byteCount || count > byteCount - offset)
        return false;
    AutoLock locked(lock);
    return readLocked(offset, out, count);
}

bool SeekingByteSource::readLocked(std::uint64_t offset, void* out, std::size_t count)
{
    auto failed = [this](HRESULT hr) {
        if (firstFailure == S_OK)
            firstFailure = hr;
        return false;
    };
    if (const HRESULT hr = seekTo(offset); FAILED(hr))
        return failed(hr);
    auto* bytes = static_cast<unsigned char*>(out);
    // A stream may deliver less than asked without being at its end.
    while (count > 0) {
        const ULONG want = static_cast<ULONG>(std::min<std::size_t>(count, std::numeric_limits<ULONG>::max()));
        ULONG got = 0;
        if (const HRESULT hr = readSome(bytes, want, &got); FAILED(hr))
            return failed(hr);
        if (got == 0 || got > want)
            return false;
        bytes += got;
        count -= got;
    }
    return true;
}

HRESULT SeekingByteSource::failure()
{
    AutoLock locked(lock);
    return firstFailure;
}

HRESULT SeekingByteSource::failureOr(HRESULT otherwise)
{
    const HRESULT failed = failure();
    return FAILED(failed) ? failed : otherwise;
}

} // namespace oryx
