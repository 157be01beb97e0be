#pragma once

#include <cstdint>

#include <objidl.h>

#include "bytesource/SeekingByteSource.h"
#include "support/COMPtr.h"

// The codec core's view of the stream Windows hands a property handler,
// through IStream::Seek and Read. The size is taken once, when the source
// is made.
class StreamByteSource : public oryx::SeekingByteSource {
public:
    // Raises COMError with the stream's HRESULT when its size is unknown.
    explicit StreamByteSource(IStream& stream);

private:
    HRESULT seekTo(std::uint64_t offset) override;
    HRESULT readSome(void* out, ULONG want, ULONG* got) override;

    oryx::COMPtr<IStream> stream;
};
