#include "decoder/Reciprocal.h"

namespace ape {

// Made at load time (65,535 divisions, under a millisecond) rather than
// on first use, whose guard would sit in every value's step; not a constant
// table, which would add its 256 KiB to the library's file.
const Reciprocal::Table Reciprocal::table;

Reciprocal::Table::Table()
{
    multipliers[0] = 0; // no divisor
    for (std::uint32_t d = 1; d < multipliers.size(); ++d)
        multipliers[d] = multiplierOf(d);
}

} // namespace ape
