#include "filter/MediaTypeCursor.h"

#include <utility>

#include "support/HResults.h"

MediaTypeCursor::MediaTypeCursor(IPin& pin)
{
    oryx::checkResult(pin.EnumMediaTypes(enumerator.receive()));
}

MediaTypeCursor::MediaTypeCursor(MediaTypeCursor&& other) noexcept
    : enumerator(std::move(other.enumerator)), type(std::exchange(other.type, nullptr))
{
}

MediaTypeCursor::~MediaTypeCursor()
{
    deleteTaskMediaType(type);
}

bool MediaTypeCursor::atEnd()
{
    fetchIfNeeded();
    return !enumerator;
}

MediaType* MediaTypeCursor::current()
{
    fetchIfNeeded();
    return type;
}

void MediaTypeCursor::advance()
{
    AM_MEDIA_TYPE* fetched = nullptr;
    const HRESULT hr = enumerator->Next(1, &fetched, nullptr);
    // An enumerator that reports success without a type has ended too.
    oryx::checkResult(hr);
    deleteTaskMediaType(std::exchange(type, nullptr));
    if (hr == S_OK && fetched)
        type = &MediaType::of(*fetched);
    else {
        deleteTaskMediaType(fetched);
        enumerator.release();
    }
}

void MediaTypeCursor::fetchIfNeeded()
{
    if (enumerator && !type)
        advance();
}
