// What the decode benchmarks share: the clock's unit and what a player asks
// for per call.
#pragma once

#include <chrono>

namespace codecbench {

inline double seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// What a player asks for per call: the PCM of a short audio buffer.
constexpr int blocksPerCall = 4096;

} // namespace codecbench
