// Vector variants of Predictor3950's 32-bit stereo run, behind one function
// pointer that Predictor3950 picks once.
#pragma once

#include "Predictor3950.h"

namespace ape {

// Slot values in, Y and X out, for `count` blocks of 32-bit wrapping arithmetic.
using Stereo32Run = void (*)(Predictor3950::Channel<int32_t>& y, Predictor3950::Channel<int32_t>& x,
                             const int32_t* slot0, const int32_t* slot1, int32_t* outY, int32_t* outX, size_t count);

// Null where SSE2 is not compiled in.
Stereo32Run sse2Stereo32Run();

} // namespace ape
