// The decoders the host benchmarks time on one file each: ours (in this
// process, with its peak heap use), ffmpeg's and MACDllC.dll under Wine
// (through codecbench_dll). Linking this file replaces the global operator
// new and delete, which count the bytes in use.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace codecbench {

struct OurRun {
    double seconds = 0;
    std::size_t peakBytes = 0;
    double userSeconds = 1e30;
};

// User time of the calling thread, in seconds.
double threadUserTime();

// One decode of `file` by our decoder, single thread, output discarded;
// returns `best` improved by it.
OurRun decodeWithUs(const std::string& file, OurRun best);

// Seconds `ffmpeg -threads 1 ... -f null -` took for `file` (its start-up
// included), or the better of that and `best`; 0 when ffmpeg failed.
double decodeWithFfmpeg(const std::string& file, double best = 1e30);

// Seconds the Windows benchmark took for `file` through MACDllC.dll under
// Wine (timed inside the process, so Wine's start-up is not counted), or the
// better of that and `best`; `best` unchanged when it could not run.
double decodeWithDll(const std::string& bench, const std::string& file, double best);

// ffmpeg's own account of the user time it spent (-benchmark), in seconds;
// 0 when it failed.
double ffmpegUserTime(const std::string& file);

struct DllTimes {
    double userSeconds = 0; // the whole decode
    double seekSeconds = 0; // a seek to the first frame's last block
};

// Per file, from one run of the Windows benchmark on all `files`, in the Wine
// prefix `prefix` (empty: the one the environment names), started by
// `loader`. Each width's benchmark runs in its own build's prefix, the x64
// one started by the 64-bit loader, since Debian's `wine` starts the 32-bit
// one first, which a kernel without 32-bit support refuses.
std::map<std::string, DllTimes> dllTimes(const std::string& bench, const std::vector<std::string>& files,
                                         const std::string& prefix, const std::string& loader);

} // namespace codecbench
