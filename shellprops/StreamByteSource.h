#pragma once

#include <cstddef>
#include <cstdint>

#include <objidl.h>

#include "format/ByteSource.h"
#include "support/COMPtr.h"
#include "support/CriticalSection.h"

// The codec core's view of the stream Windows hands a property handler:
// reads at offsets through IStream::Seek and Read, never a write. The size
// is taken once, when the source is made. A failing stream call makes read()
// answer false, as a short file does; failure() tells the two apart, so the
// handler can pass the stream's own error on.
//
// Locks: `lock` makes each seek and its read one step, since the codec may
// read from several threads; it guards the stream's position and
// `firstFailure`.
class StreamByteSource : public ape::ByteSource {
public:
    // Raises COMError with the stream's HRESULT when its size is unknown.
    explicit StreamByteSource(IStream& stream);

    std::uint64_t size() const override { return byteCount; }
    bool read(std::uint64_t offset, void* out, std::size_t count) override;

    // The first failing HRESULT of a stream call; S_OK while none failed.
    HRESULT failure();

private:
    bool readLocked(std::uint64_t offset, void* out, std::size_t count);

    oryx::COMPtr<IStream> stream;
    std::uint64_t byteCount = 0;
    oryx::CriticalSection lock;
    HRESULT firstFailure = S_OK;
};
