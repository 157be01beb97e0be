#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include <windows.h>

#include <propsys.h>

#include "format/ByteSource.h"
#include "shellprops/PropertyValue.h"

// What the property handler tells Windows about one .ape file: the values
// ApeFileSummary reads, under the property system's keys and in its types.
// Everything is read when the object is made, so it holds no stream and is
// immutable afterwards: any number of threads may ask at once.
//
// Only what the file holds is present (ApeFileSummary): a key without a
// value is absent, never an empty property.
class ApeFileProperties {
public:
    // Raises ape::CodecError for anything that is not a whole .ape file
    // (ApeFileSummary).
    explicit ApeFileProperties(ape::ByteSource& source);

    std::size_t count() const { return properties.size(); }
    const PROPERTYKEY& keyAt(std::size_t index) const { return properties.at(index).first; }
    // Null when the file gives no value for `key`.
    const PropertyValue* find(const PROPERTYKEY& key) const;

private:
    std::vector<std::pair<PROPERTYKEY, PropertyValue>> properties;
};
