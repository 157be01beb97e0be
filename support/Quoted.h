#pragma once

#include <string>

namespace oryx {

// A named thing in a message stands between double quotes.
inline std::string quoted(const std::string& name)
{
    return '"' + name + '"';
}

} // namespace oryx
