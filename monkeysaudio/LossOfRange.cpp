#include "monkeysaudio/LossOfRange.h"

const char* LossOfRange::what() const noexcept
{
    return "bad numeric cast: loss of range in numeric_cast";
}
