#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include <windows.h>

#include <propsys.h>

#include "format/ByteSource.h"
#include "shellprops/PropertyValue.h"

namespace ape {
class ApeContainer;
class ApeTag;
} // namespace ape

// What the property handler tells Windows about one .ape file: the format
// and length from the container header (through the codec core's
// ApeContainer) and the texts of its APE tag, or of an ID3v1 tag when it
// has no APE tag. Everything is read when the object is made, so it holds no
// stream and is immutable afterwards: any number of threads may ask at once.
//
// Only what the file holds is present: a tag item that is missing, empty,
// binary, too large or not a number where one is needed gives no property
// at all, never an empty one.
//
// Memory is bounded by the tag's own bounds (ApeTag) and by textValueLimit
// per value read here.
class ApeFileProperties {
public:
    // Tag values longer than this (bytes) are left out rather than read.
    static constexpr std::uint32_t textValueLimit = 64 * 1024;

    // Raises ape::CodecError for anything that is not a whole .ape file:
    // what ApeContainer refuses, and audio data cut short. A damaged tag is
    // no error; its properties are absent.
    explicit ApeFileProperties(ape::ByteSource& source);

    std::size_t count() const { return properties.size(); }
    const PROPERTYKEY& keyAt(std::size_t index) const { return properties.at(index).first; }
    // Null when the file gives no value for `key`.
    const PropertyValue* find(const PROPERTYKEY& key) const;

private:
    void addFormat(const ape::ApeContainer& container, std::uint64_t fileSize);
    void addTagItems(ape::ByteSource& source, const ape::ApeTag& tag);

    std::vector<std::pair<PROPERTYKEY, PropertyValue>> properties;
};
