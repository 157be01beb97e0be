#pragma once

#include <cstddef>
#include <cstdint>

#include <windows.h>

#include "format/ByteSource.h"
#include "support/CriticalSection.h"

namespace oryx {

// The codec core's view of a Windows stream that reads where it was last
// positioned (IStream, IMFByteStream): a read at an offset is a seek and
// reads until the count is met, never a write. A failing stream call makes
// read() answer false, as a short file does; failure() tells the two apart,
// so the caller can pass the stream's own error on.
//
// A subclass supplies seekTo() and readSome(), both called under `lock`,
// and the stream's size at construction (constant for the source's life).
//
// Locks: `lock` makes each seek and its reads one step, since the codec may
// read from several threads; it guards the stream's position and
// `firstFailure`.
class SeekingByteSource : public ape::ByteSource {
public:
    std::uint64_t size() const override { return byteCount; }
    bool read(std::uint64_t offset, void* out, std::size_t count) override;

    // The first failing HRESULT of a stream call; S_OK while none failed.
    HRESULT failure();
    // That failure, or `otherwise` while the stream has not failed: the
    // answer for a read that came up short, which a failing stream caused.
    HRESULT failureOr(HRESULT otherwise);

protected:
    // Sizes beyond the signed 64-bit offsets streams take are cut to them:
    // what lies beyond cannot be read anyway.
    explicit SeekingByteSource(std::uint64_t byteCount);

    // Positions the stream at `offset`, which is below size().
    virtual HRESULT seekTo(std::uint64_t offset) = 0;
    // Up to `want` bytes at the position into `out`; *got receives the count,
    // which may be short of `want` before the end and is 0 at the end.
    virtual HRESULT readSome(void* out, ULONG want, ULONG* got) = 0;

private:
    bool readLocked(std::uint64_t offset, void* out, std::size_t count);

    std::uint64_t byteCount = 0;
    CriticalSection lock;
    HRESULT firstFailure = S_OK;
};

} // namespace oryx
