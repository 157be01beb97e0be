#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include <dshow.h>

namespace oryx {

// What the filter mapper records about a media filter class.
struct FilterRegistration {
    std::uint32_t merit; // a MERIT_ value
    const REGFILTERPINS2* pins;
    std::uint32_t pinCount;
    const CLSID* category; // null: the mapper's default category
};

// The natural layout of either width (pointers of 4 or 8 bytes, each
// 32-bit field padded to the next pointer's alignment), and pins in the
// platform's own record, which the mapper reads as REGFILTER2's rgPins2.
static_assert(std::is_standard_layout_v<FilterRegistration>);
static_assert(offsetof(FilterRegistration, pins) == sizeof(void*));
static_assert(offsetof(FilterRegistration, pinCount) == 2 * sizeof(void*));
static_assert(offsetof(FilterRegistration, category) == 3 * sizeof(void*));
static_assert(sizeof(FilterRegistration) == 4 * sizeof(void*));
static_assert(std::is_same_v<decltype(FilterRegistration::pins), decltype(REGFILTER2::rgPins2)>);

} // namespace oryx
