#pragma once

#include <cstdint>

#include <dshow.h>

namespace oryx {

// What the filter mapper records about a media filter class.
struct FilterRegistration {
    std::uint32_t merit; // a MERIT_ value
    const REGFILTERPINS2* pins;
    std::uint32_t pinCount;
    const CLSID* category; // null: the mapper's default category
};

} // namespace oryx
