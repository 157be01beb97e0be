#include "shellprops/StreamByteSource.h"

#include "support/COMError.h"

namespace {

std::uint64_t streamSize(IStream& stream)
{
    STATSTG status{};
    const HRESULT hr = stream.Stat(&status, STATFLAG_NONAME);
    if (FAILED(hr))
        throw oryx::COMError(hr, "Can't learn the stream's size");
    return status.cbSize.QuadPart;
}

} // namespace

StreamByteSource::StreamByteSource(IStream& stream) : SeekingByteSource(streamSize(stream)), stream(&stream)
{
}

HRESULT StreamByteSource::seekTo(std::uint64_t offset)
{
    LARGE_INTEGER position;
    // Below the size, which the base keeps within LONGLONG.
    position.QuadPart = static_cast<LONGLONG>(offset);
    return stream->Seek(position, STREAM_SEEK_SET, nullptr);
}

HRESULT StreamByteSource::readSome(void* out, ULONG want, ULONG* got)
{
    return stream->Read(out, want, got);
}
