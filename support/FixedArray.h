#pragma once

#include <cstdint>

namespace oryx {

// A heap buffer as a plain pair: where it starts and how many elements it
// has. Owning is Array's business.
template <typename T>
struct FixedArray {
    T* data = nullptr;
    std::int32_t count = 0;
};

} // namespace oryx
