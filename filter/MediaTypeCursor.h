#pragma once

#include <dshow.h>

#include "filter/MediaType.h"
#include "support/COMPtr.h"

// Walks the media types a pin offers through its IEnumMediaTypes, one at a
// time and lazily: nothing is fetched until the first atEnd() or current().
// The cursor owns the current type (task memory) and its reference to the
// enumerator, which it drops at the end. Enumerator failures raise as
// COMError with the enumerator's HRESULT.
class MediaTypeCursor {
public:
    explicit MediaTypeCursor(IPin& pin);
    MediaTypeCursor(MediaTypeCursor&& other) noexcept;
    MediaTypeCursor& operator=(MediaTypeCursor&&) = delete;
    ~MediaTypeCursor();

    bool atEnd();
    // Null at the end.
    MediaType* current();
    void advance();

private:
    void fetchIfNeeded();

    oryx::COMPtr<IEnumMediaTypes> enumerator;
    MediaType* type = nullptr;
};
