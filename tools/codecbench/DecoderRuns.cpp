#include "DecoderRuns.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <sys/resource.h>

#include "BenchClock.h"
#include "decoder/Decompressor.h"
#include "decoder/FileByteSource.h"

// Heap accounting for "peak memory per decompressor": every allocation carries
// its size in a header.
namespace {
std::atomic<std::size_t> heapNow{0}, heapPeak{0};
constexpr std::size_t header = alignof(std::max_align_t);
} // namespace

void* operator new(std::size_t size)
{
    auto* p = static_cast<unsigned char*>(std::malloc(size + header));
    if (!p)
        throw std::bad_alloc();
    std::memcpy(p, &size, sizeof size);
    std::size_t now = heapNow += size;
    std::size_t peak = heapPeak.load();
    while (now > peak && !heapPeak.compare_exchange_weak(peak, now)) {
    }
    return p + header;
}
void operator delete(void* p) noexcept
{
    if (!p)
        return;
    // Through an integer: the block starts `header` bytes before what new
    // handed out, which GCC's bounds analysis cannot know once inlined.
    auto* base = reinterpret_cast<unsigned char*>(reinterpret_cast<std::uintptr_t>(p) - header);
    std::size_t size;
    std::memcpy(&size, base, sizeof size);
    heapNow -= size;
    std::free(base);
}
void operator delete(void* p, std::size_t) noexcept
{
    operator delete(p);
}

namespace codecbench {

double threadUserTime()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return double(usage.ru_utime.tv_sec) + double(usage.ru_utime.tv_usec) * 1e-6;
}

OurRun decodeWithUs(const std::string& file, OurRun best)
{
    {
        std::size_t base = heapNow.load();
        heapPeak = base;
        const double userStart = threadUserTime();
        auto start = std::chrono::steady_clock::now();
        auto d = ape::Decompressor::open(std::make_unique<ape::FileByteSource>(file));
        std::vector<std::uint8_t> buffer(std::size_t(d->container().blockAlign()) * blocksPerCall);
        for (std::uint32_t got = 1; got > 0;)
            if (d->getData(buffer.data(), blocksPerCall, &got) != 0)
                break;
        best.seconds = std::min(best.seconds, seconds(std::chrono::steady_clock::now() - start));
        best.userSeconds = std::min(best.userSeconds, threadUserTime() - userStart);
        best.peakBytes = std::max(best.peakBytes, heapPeak.load() - base);
    }
    return best;
}

double decodeWithFfmpeg(const std::string& file, double best)
{
    std::string command = "ffmpeg -nostdin -v error -threads 1 -i '" + file + "' -f null - 2>/dev/null";
    for (int run = 0; run < 1; ++run) {
        auto start = std::chrono::steady_clock::now();
        if (std::system(command.c_str()) != 0)
            return 0;
        best = std::min(best, seconds(std::chrono::steady_clock::now() - start));
    }
    return best;
}

namespace {

// Splits codecbench_dll's line "<file> <seconds> <user seconds> <seek seconds>"
// (the name may hold spaces) into the name, left in `line`, and the figures.
bool splitDllLine(char* line, double (&figures)[3])
{
    for (int k = 2; k >= 0; --k) {
        char* space = std::strrchr(line, ' ');
        if (!space)
            return false;
        figures[k] = std::atof(space + 1);
        *space = 0;
    }
    return true;
}

} // namespace

double decodeWithDll(const std::string& bench, const std::string& file, double best)
{
    std::string command = "wine '" + bench + "' 'Z:" + file + "' 2>/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return best;
    char line[4096];
    double figures[3];
    // The wall time, as for the others here.
    if (std::fgets(line, sizeof line, pipe) && splitDllLine(line, figures) && figures[0] > 0)
        best = std::min(best, figures[0]);
    pclose(pipe);
    return best;
}

double ffmpegUserTime(const std::string& file)
{
    std::string command =
        "ffmpeg -nostdin -hide_banner -nostats -threads 1 -benchmark -i '" + file + "' -f null - 2>&1 >/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return 0;
    double user = 0;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe))
        if (const char* at = std::strstr(line, "utime="))
            user = std::atof(at + 6);
    return pclose(pipe) == 0 ? user : 0;
}

std::map<std::string, DllTimes> dllTimes(const std::string& bench, const std::vector<std::string>& files,
                                         const std::string& prefix, const std::string& loader)
{
    std::string command =
        (prefix.empty() ? "" : "WINEPREFIX='" + prefix + "' ") + "'" + loader + "' '" + bench + "' --runs 1";
    for (const auto& file : files)
        command += " 'Z:" + file + "'";
    command += " 2>/dev/null";
    std::map<std::string, DllTimes> out;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe)) {
        double figures[3];
        if (std::strncmp(line, "Z:", 2) == 0 && splitDllLine(line, figures))
            out[line + 2] = {figures[1], figures[2]};
    }
    pclose(pipe);
    return out;
}

} // namespace codecbench
