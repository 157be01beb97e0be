#include "support/LossOfRange.h"

namespace oryx {

const char* LossOfRange::what() const noexcept
{
    return "bad numeric cast: loss of range in numeric_cast";
}

} // namespace oryx
