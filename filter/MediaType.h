#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include <dshow.h>

#include "filter/TaskMemory.h"

// A media type as pins hand it around: exactly an AM_MEDIA_TYPE, with the
// value operations the framework needs. It adds no data and no virtual
// function, so an AM_MEDIA_TYPE* from outside may be treated as a
// MediaType* and the other way round.
//
// Ownership, kept by every operation: pbFormat is null (and cbFormat 0) or a
// CoTaskMemAlloc block of exactly cbFormat bytes that this value owns; pUnk is
// null or a reference this value owns. Nothing releases them implicitly:
// MediaType has no destructor, because it must stay a plain AM_MEDIA_TYPE.
// Callers release with releaseContents() (or deleteTaskMediaType for a
// task-allocated one), or hold a value in a MediaTypeHolder.
class MediaType : public AM_MEDIA_TYPE {
public:
    // Uninitialised, like the AM_MEDIA_TYPE it stands for; reset() or
    // copyFrom() it before use.
    MediaType() = default;
    MediaType(const GUID& major, const GUID& subtype);
    MediaType(const MediaType&) = delete;
    MediaType& operator=(const MediaType&) = delete;

    static MediaType& of(AM_MEDIA_TYPE& type) { return static_cast<MediaType&>(type); }
    static const MediaType& of(const AM_MEDIA_TYPE& type) { return static_cast<const MediaType&>(type); }

    // Zeroes every field without releasing anything.
    void reset();
    // Deep copy into a value that owns nothing. When the format block cannot
    // be allocated, std::bad_alloc is raised and nothing has changed.
    void copyFrom(const AM_MEDIA_TYPE& source);
    // Frees the format block and releases pUnk, then zeroes every field.
    void releaseContents();
    // Size 0 frees the block (formattype becomes FORMAT_None); otherwise a
    // new zero-filled block, keeping the old bytes that fit when `keep`.
    void resizeFormat(std::uint32_t size, bool keep);
    // FORMAT_None also frees the block; any other GUID only changes formattype.
    void setFormatType(const GUID& format);

    bool operator==(const MediaType& other) const;
    // GUID_NULL leaves the major and sub type open in `pattern`, FORMAT_None
    // the format; sizes, flags and pUnk are not compared.
    bool matches(const MediaType& pattern) const;
    bool isComplete() const;
};

static_assert(sizeof(MediaType) == sizeof(AM_MEDIA_TYPE));
static_assert(std::is_standard_layout_v<MediaType> && !std::is_polymorphic_v<MediaType>);
static_assert(offsetof(MediaType, pUnk) == offsetof(AM_MEDIA_TYPE, pUnk));
static_assert(offsetof(MediaType, pbFormat) == offsetof(AM_MEDIA_TYPE, pbFormat));

// Owns one MediaType value for a scope: zeroed at construction, released at
// destruction.
class MediaTypeHolder {
public:
    MediaTypeHolder() { value.reset(); }
    ~MediaTypeHolder() { value.releaseContents(); }
    MediaTypeHolder(const MediaTypeHolder&) = delete;
    MediaTypeHolder& operator=(const MediaTypeHolder&) = delete;

    MediaType& operator*() { return value; }
    MediaType* operator->() { return &value; }
    MediaType* get() { return &value; }

private:
    MediaType value;
};

// Releases the contents of a task-allocated media type, then the block.
// Null is ignored.
void deleteTaskMediaType(AM_MEDIA_TYPE* type);
// Uncompressed integer PCM in an 18-byte WAVEFORMATEX. `type` owns nothing on
// entry (a zeroed value); its bTemporalCompression and pUnk are left alone.
void makePcmAudioType(MediaType& type, std::uint16_t channels, std::uint32_t samplesPerSecond,
                      std::uint16_t bitsPerSample);
