// codecbench: decode throughput against ffmpeg's decoder, per compression level.
//
// Host:    codecbench [--seconds N] [--dll-bench codecbench_dll.exe] [--dir DIR]
//   Encodes N seconds (default 120) of a synthetic 16-bit stereo mix at every
//   level, then times, on the same files, our decoder (single thread, output
//   discarded) and `ffmpeg -threads 1 ... -f null -`, alternating, best of
//   --runs (default 5) each.
//   Prints blocks per second, the ratio ours/ffmpeg, the compression ratio and
//   the peak heap use of one decompressor. With --dll-bench it also runs the
//   Windows benchmark below under `wine` (WINEPREFIX as set by the caller).
// Windows: codecbench_dll FILE... : decodes each file through MACDllC.dll and
//   prints "<file> <seconds>" (best of three). The host side runs it once per
//   file and run, alternating with the other two decoders.
#include "apecodec.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

double seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

} // namespace

#if defined(_WIN32)
#include <windows.h>

int main(int argc, char** argv)
{
    HMODULE module = LoadLibraryA("MACDllC.dll");
    if (!module) {
        std::fprintf(stderr, "codecbench_dll: cannot load MACDllC.dll\n");
        return 1;
    }
    auto get = [&](const char* name) { return reinterpret_cast<void*>(GetProcAddress(module, name)); };
    auto create = reinterpret_cast<decltype(&c_APEDecompress_Create)>(get("c_APEDecompress_Create"));
    auto destroy = reinterpret_cast<decltype(&c_APEDecompress_Destroy)>(get("c_APEDecompress_Destroy"));
    auto getData = reinterpret_cast<decltype(&c_APEDecompress_GetData)>(get("c_APEDecompress_GetData"));
    auto info = reinterpret_cast<decltype(&c_APEDecompress_GetInfo)>(get("c_APEDecompress_GetInfo"));
    for (int i = 1; i < argc; ++i) {
        double best = 1e30;
        for (int run = 0; run < 3; ++run) {
            auto start = std::chrono::steady_clock::now();
            int error = 0;
            APE_DECOMPRESS_HANDLE h = create(argv[i], &error);
            if (!h) {
                std::fprintf(stderr, "codecbench_dll: %s: error %d\n", argv[i], error);
                return 1;
            }
            std::vector<char> buffer(size_t(info(h, APE_INFO_BLOCK_ALIGN, 0, 0)) * 16384);
            for (int got = 1; got > 0;)
                if (getData(h, buffer.data(), 16384, &got) != 0)
                    break;
            destroy(h);
            best = std::min(best, seconds(std::chrono::steady_clock::now() - start));
        }
        std::printf("%s %.6f\n", argv[i], best);
    }
    return 0;
}

#else
#include "ApeEncoder.h"
#include "Decompressor.h"
#include "FileByteSource.h"
#include "format/NNKernels.h"

#include <atomic>
#include <fstream>
#include <new>

// Heap accounting for "peak memory per decompressor": every allocation carries
// its size in a header.
namespace {
std::atomic<size_t> heapNow{0}, heapPeak{0};
constexpr size_t header = alignof(std::max_align_t);
} // namespace

void* operator new(size_t size)
{
    auto* p = static_cast<unsigned char*>(std::malloc(size + header));
    if (!p)
        throw std::bad_alloc();
    std::memcpy(p, &size, sizeof size);
    size_t now = heapNow += size;
    size_t peak = heapPeak.load();
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
    auto* base = reinterpret_cast<unsigned char*>(reinterpret_cast<uintptr_t>(p) - header);
    size_t size;
    std::memcpy(&size, base, sizeof size);
    heapNow -= size;
    std::free(base);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }

namespace {

// A few seconds of chords with harmonics, a little noise and slow panning:
// enough structure for the predictors to work as on music.
std::vector<uint8_t> synthesise(uint32_t rate, double duration)
{
    const size_t blocks = size_t(rate * duration);
    std::vector<uint8_t> pcm;
    pcm.reserve(blocks * 4);
    const double notes[] = {130.81, 164.81, 196.00, 261.63, 110.0, 220.0, 174.61, 349.23};
    uint32_t noise = 1;
    for (size_t i = 0; i < blocks; ++i) {
        double t = double(i) / rate;
        int chord = int(t / 2.0) % 4;
        double v = 0;
        for (int k = 0; k < 3; ++k) {
            double f = notes[(chord * 2 + k) % 8];
            for (int h = 1; h <= 4; ++h)
                v += std::sin(2 * M_PI * f * h * t) / (h * h);
        }
        noise = noise * 1664525u + 1013904223u;
        double n = (double(noise >> 8) / double(1 << 24) - 0.5) * 0.02;
        double pan = 0.5 + 0.4 * std::sin(2 * M_PI * 0.1 * t);
        double left = (v / 4 + n) * pan * 1.6, right = (v / 4 - n) * (1 - pan) * 1.6;
        for (double s : {left, right}) {
            int32_t q = int32_t(std::lround(std::clamp(s, -1.0, 1.0) * 32000));
            pcm.push_back(uint8_t(q));
            pcm.push_back(uint8_t(q >> 8));
        }
    }
    return pcm;
}

struct OurRun {
    double seconds = 0;
    size_t peakBytes = 0;
};

OurRun decodeWithUs(const std::string& file, OurRun best)
{
    {
        size_t base = heapNow.load();
        heapPeak = base;
        auto start = std::chrono::steady_clock::now();
        auto d = ape::Decompressor::open(std::make_unique<ape::FileByteSource>(file));
        std::vector<uint8_t> buffer(size_t(d->container().blockAlign()) * 16384);
        for (uint32_t got = 1; got > 0;)
            if (d->getData(buffer.data(), 16384, &got) != 0)
                break;
        best.seconds = std::min(best.seconds, seconds(std::chrono::steady_clock::now() - start));
        best.peakBytes = std::max(best.peakBytes, heapPeak.load() - base);
    }
    return best;
}

double decodeWithFfmpeg(const std::string& file, double best = 1e30)
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

// Seconds the Windows benchmark took for `file` through MACDllC.dll under
// Wine (timed inside the process, so Wine's start-up is not counted), or the
// better of that and `best`; `best` unchanged when it could not run.
double decodeWithDll(const std::string& bench, const std::string& file, double best)
{
    std::string command = "wine '" + bench + "' 'Z:" + file + "' 2>/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return best;
    char line[4096];
    if (std::fgets(line, sizeof line, pipe)) {
        const char* space = std::strrchr(line, ' ');
        const double seconds = space ? std::atof(space + 1) : 0;
        if (seconds > 0)
            best = std::min(best, seconds);
    }
    pclose(pipe);
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    double duration = 120;
    int runs = 5;
    std::string dllBench, dir = "/tmp";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--seconds"))
            duration = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--dll-bench"))
            dllBench = argv[i + 1];
        else if (!std::strcmp(argv[i], "--runs"))
            runs = std::max(1, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--dir"))
            dir = argv[i + 1];
    }
    const uint32_t rate = 44100;
    auto pcm = synthesise(rate, duration);
    std::vector<std::string> files;
    std::vector<double> ratios;
    for (unsigned level : {1000u, 2000u, 3000u, 4000u, 5000u}) {
        ape::EncoderOptions options;
        options.level = level;
        ape::ApeEncoder encoder(ape::PcmFormat{2, 16, rate}, options);
        auto bytes = encoder.encode(pcm);
        std::string name = dir + "/codecbench-" + std::to_string(level) + ".ape";
        std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        files.push_back(name);
        ratios.push_back(double(bytes.size()) / double(pcm.size()));
    }
    // ffmpeg's process start-up, measured on a file of a few blocks, is not decoding time.
    double ffmpegStartup;
    {
        ape::ApeEncoder encoder(ape::PcmFormat{2, 16, rate}, ape::EncoderOptions{});
        auto bytes = encoder.encode(std::vector<uint8_t>(pcm.begin(), pcm.begin() + 400));
        std::string name = dir + "/codecbench-tiny.ape";
        std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        ffmpegStartup = 1e30;
        for (int run = 0; run < 5; ++run)
            ffmpegStartup = decodeWithFfmpeg(name, ffmpegStartup);
    }
    std::printf("%.0f s of 16-bit stereo at %u Hz per level; best of %d; x = times real time\n", duration, rate, runs);
    std::printf("NN filter kernels: %s\n", ape::bestNNKernels().name);
    std::printf("ffmpeg start-up of %.3f s subtracted from its times\n", ffmpegStartup);
    std::printf("%-6s %7s %10s %10s %8s %10s %8s %10s\n", "level", "size", "ours x", "ffmpeg x", "ratio", "dll x",
                "dll/ff", "peak heap");
    for (size_t i = 0; i < files.size(); ++i) {
        // Alternate the decoders so that all see the same machine load.
        OurRun ours{1e30, 0};
        double ffmpeg = 1e30;
        double dll = 1e30;
        for (int run = 0; run < runs; ++run) {
            ours = decodeWithUs(files[i], ours);
            ffmpeg = decodeWithFfmpeg(files[i], ffmpeg);
            if (!dllBench.empty())
                dll = decodeWithDll(dllBench, files[i], dll);
        }
        ffmpeg -= ffmpegStartup;
        double oursX = duration / ours.seconds, ffX = ffmpeg > 0 ? duration / ffmpeg : 0;
        double dllX = dll < 1e30 ? duration / dll : 0;
        std::printf("%-6u %6.1f%% %10.1f %10.1f %8.2f %10.1f %8.2f %8.2f MB\n", 1000u * unsigned(i + 1),
                    ratios[i] * 100, oursX, ffX, ffX > 0 ? oursX / ffX : 0, dllX, ffX > 0 ? dllX / ffX : 0,
                    double(ours.peakBytes) / 1e6);
    }
    return 0;
}
#endif
