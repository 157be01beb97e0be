// codecbench: decode throughput against ffmpeg's decoder, per compression level.
//
// Host:    codecbench [--seconds N] [--runs N] [--dll-bench codecbench_dll.exe] [--dir DIR]
//   Encodes N seconds (default 120) of a synthetic 16-bit stereo mix at every
//   level, then times, on the same files, our decoder (single thread, output
//   discarded) and `ffmpeg -threads 1 ... -f null -`, alternating, best of
//   --runs (default 5) each.
//   Prints blocks per second, the ratio ours/ffmpeg, the compression ratio and
//   the peak heap use of one decompressor. With --dll-bench it also runs the
//   Windows benchmark below under `wine` (WINEPREFIX as set by the caller).
// Host:    codecbench --table [--real DIR] [--only NAME] [--seconds N] [--runs N] [--dll-bench EXE] [--dir DIR]
//   The speed table: every material of BenchMaterial.h (and the real
//   recordings in DIR) at every level, N seconds each (default 60), encoded
//   once into DIR-named files that later runs reuse. Per material and run the
//   decoders take turns (ours, ffmpeg, per level, then the DLL on all levels);
//   the best of --runs counts. All three are timed by user time, which the
//   load of a shared machine distorts least: ffmpeg by its own -benchmark
//   figure less its start-up, ours and the DLL by the decoding thread's
//   account (GetThreadTimes under Wine: 10 ms steps). Prints the
//   ratio of speeds (above 1: faster than ffmpeg) per material and level for
//   the host build and the DLL, the worst of each, and how far the median run
//   lay above the best (the noise of the machine).
// Windows: codecbench_dll [--runs N] FILE... : decodes each file through
//   MACDllC.dll, 4096 blocks per call as a player asks, and prints
//   "<file> <seconds> <user seconds>" per decode (best of N, default 3; a
//   run repeats a short decode until 0.4 s of user time are counted).
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

double seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// What a player asks for per call: the PCM of a short audio buffer.
constexpr int blocksPerCall = 4096;

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
    int runs = 3;
    int first = 1;
    if (argc > 2 && !std::strcmp(argv[1], "--runs")) {
        runs = std::max(1, std::atoi(argv[2]));
        first = 3;
    }
    // User time of this thread, in seconds (100 ns units from Windows).
    auto userTime = [] {
        FILETIME created, exited, kernel, user;
        GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
        return double((std::uint64_t(user.dwHighDateTime) << 32) | user.dwLowDateTime) * 1e-7;
    };
    for (int i = first; i < argc; ++i) {
        double best = 1e30, bestUser = 1e30;
        for (int run = 0; run < runs; ++run) {
            // Windows counts thread time in scheduler ticks (10 ms under
            // Wine): a run repeats the decode until it has used enough of
            // them to be measured to a few percent.
            const double userStart = userTime();
            auto start = std::chrono::steady_clock::now();
            int repeats = 0;
            do {
                int error = 0;
                APE_DECOMPRESS_HANDLE h = create(argv[i], &error);
                if (!h) {
                    std::fprintf(stderr, "codecbench_dll: %s: error %d\n", argv[i], error);
                    return 1;
                }
                std::vector<char> buffer(std::size_t(info(h, APE_INFO_BLOCK_ALIGN, 0, 0)) * blocksPerCall);
                for (int got = 1; got > 0;)
                    if (getData(h, buffer.data(), blocksPerCall, &got) != 0)
                        break;
                destroy(h);
                ++repeats;
            } while (userTime() - userStart < 0.4);
            best = std::min(best, seconds(std::chrono::steady_clock::now() - start) / repeats);
            bestUser = std::min(bestUser, (userTime() - userStart) / repeats);
        }
        std::printf("%s %.6f %.6f\n", argv[i], best, bestUser);
    }
    return 0;
}

#else
#include "encoder/ApeEncoder.h"
#include "BenchMaterial.h"
#include "decoder/Decompressor.h"
#include "encoder/EncodeError.h"
#include "decoder/FileByteSource.h"
#include "dsp/NNKernels.h"

#include <atomic>
#include <fstream>
#include <map>
#include <new>
#include <sys/resource.h>

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

namespace {

// A few seconds of chords with harmonics, a little noise and slow panning:
// enough structure for the predictors to work as on music.
std::vector<std::uint8_t> synthesise(std::uint32_t rate, double duration)
{
    const std::size_t blocks = std::size_t(rate * duration);
    std::vector<std::uint8_t> pcm;
    pcm.reserve(blocks * 4);
    const double notes[] = {130.81, 164.81, 196.00, 261.63, 110.0, 220.0, 174.61, 349.23};
    std::uint32_t noise = 1;
    for (std::size_t i = 0; i < blocks; ++i) {
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
            std::int32_t q = std::int32_t(std::lround(std::clamp(s, -1.0, 1.0) * 32000));
            pcm.push_back(std::uint8_t(q));
            pcm.push_back(std::uint8_t(q >> 8));
        }
    }
    return pcm;
}

struct OurRun {
    double seconds = 0;
    std::size_t peakBytes = 0;
    double userSeconds = 1e30;
};

// User time of the calling thread, in seconds.
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
        // "<file> <seconds> <user seconds>": the wall time, as for the others here.
        char* user = std::strrchr(line, ' ');
        if (user)
            *user = 0;
        const char* space = user ? std::strrchr(line, ' ') : nullptr;
        const double seconds = space ? std::atof(space + 1) : 0;
        if (seconds > 0)
            best = std::min(best, seconds);
    }
    pclose(pipe);
    return best;
}

// ffmpeg's own account of the user time it spent (-benchmark), in seconds;
// 0 when it failed.
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

// User seconds per file from one run of the Windows benchmark on all `files`.
std::map<std::string, double> dllTimes(const std::string& bench, const std::vector<std::string>& files)
{
    std::string command = "wine '" + bench + "' --runs 1";
    for (const auto& file : files)
        command += " 'Z:" + file + "'";
    command += " 2>/dev/null";
    std::map<std::string, double> out;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe)) {
        char* user = std::strrchr(line, ' ');
        if (!user || std::strncmp(line, "Z:", 2) != 0)
            continue;
        *user = 0;
        if (char* wall = std::strrchr(line, ' '))
            *wall = 0;
        out[line + 2] = std::atof(user + 1);
    }
    pclose(pipe);
    return out;
}

// The best of a set of timings, and how noisy they were.
struct Timings {
    std::vector<double> seconds;
    void add(double s)
    {
        if (s > 0)
            seconds.push_back(s);
    }
    double best() const { return seconds.empty() ? 0 : *std::min_element(seconds.begin(), seconds.end()); }
    double median() const
    {
        if (seconds.empty())
            return 0;
        auto sorted = seconds;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }
};

// Halves every sample: loud 24-bit stereo can be beyond what level 5000
// stores portably (EncoderOptions.h), and a quieter copy still times the
// same arithmetic paths.
std::vector<std::uint8_t> attenuated(const std::vector<std::uint8_t>& pcm, unsigned bits)
{
    std::vector<std::uint8_t> out(pcm);
    const std::size_t width = bits / 8;
    for (std::size_t i = 0; i + width <= out.size(); i += width) {
        std::int32_t v = 0;
        if (bits == 8) {
            out[i] = std::uint8_t((int(out[i]) - 128) / 2 + 128);
            continue;
        }
        for (std::size_t b = 0; b < width; ++b)
            v |= std::int32_t(std::uint32_t(out[i + b]) << (8 * b));
        v = std::int32_t(std::uint32_t(v) << (32 - bits)) >> (32 - bits);
        v /= 2;
        for (std::size_t b = 0; b < width; ++b)
            out[i + b] = std::uint8_t(std::uint32_t(v) >> (8 * b));
    }
    return out;
}

struct TableCell {
    std::string file;    // empty when the material could not be encoded at this level
    int attenuation = 0; // halvings needed before the level accepted it
    Timings ours, ffmpeg, dll;
};

// The .ape file of `material` at `level`, encoded unless an earlier run left it.
TableCell encodeCell(const ape::BenchMaterial& material, unsigned level, const std::string& dir, double duration)
{
    TableCell cell;
    const std::string stem =
        dir + "/codecbench-" + material.name + "-" + std::to_string(level) + "-" + std::to_string(int(duration)) + "s";
    for (int halvings = 0; halvings < 8; ++halvings) {
        const std::string name = stem + (halvings ? "-" + std::to_string(halvings * 6) + "dB" : "") + ".ape";
        cell.attenuation = halvings;
        if (std::ifstream(name).good()) {
            cell.file = name;
            return cell;
        }
        auto pcm = material.pcm;
        for (int i = 0; i < halvings; ++i)
            pcm = attenuated(pcm, material.format.bitsPerSample);
        try {
            ape::EncoderOptions options;
            options.level = level;
            ape::ApeEncoder encoder(material.format, options);
            auto bytes = encoder.encode(pcm);
            std::ofstream(name, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
            cell.file = name;
            return cell;
        } catch (const ape::EncodeError&) {
            // Too loud for this level: try a quieter copy.
        }
    }
    cell.file.clear();
    return cell;
}

struct TableOptions {
    double duration = 60;
    int runs = 5;
    std::string dir = "/tmp", dllBench, realDir, only;
};

void printRatios(const char* title, const std::vector<std::string>& names,
                 const std::vector<std::vector<TableCell>>& cells, double ffmpegStartup,
                 const Timings TableCell::*decoder)
{
    std::printf("\n%s: speed ratio to ffmpeg (above 1 is faster)\n", title);
    std::printf("%-42s %7s %7s %7s %7s %7s\n", "material", "1000", "2000", "3000", "4000", "5000");
    double worst = 1e30;
    std::string where;
    for (std::size_t m = 0; m < names.size(); ++m) {
        std::printf("%-42s", names[m].c_str());
        for (std::size_t l = 0; l < cells[m].size(); ++l) {
            const TableCell& cell = cells[m][l];
            const double ours = (cell.*decoder).best(), ffmpeg = cell.ffmpeg.best() - ffmpegStartup;
            if (cell.file.empty() || ours <= 0 || ffmpeg <= 0) {
                std::printf(" %7s", "-");
                continue;
            }
            const double ratio = ffmpeg / ours;
            std::printf(" %6.2f%s", ratio, cell.attenuation ? "q" : " ");
            if (ratio < worst) {
                worst = ratio;
                where = names[m] + " at " + std::to_string(1000 * (l + 1));
            }
        }
        std::printf("\n");
    }
    if (worst < 1e30)
        std::printf("worst ratio: %.2f (%s)\n", worst, where.c_str());
}

int speedTable(const TableOptions& options)
{
    auto materials = ape::syntheticMaterials(options.duration);
    if (!options.realDir.empty()) {
        auto real = ape::realMaterials(options.realDir, options.duration);
        materials.insert(materials.end(), std::make_move_iterator(real.begin()), std::make_move_iterator(real.end()));
    }
    std::erase_if(materials,
                  [&](const ape::BenchMaterial& m) { return m.name.find(options.only) == std::string::npos; });
    const unsigned levels[] = {1000, 2000, 3000, 4000, 5000};
    std::vector<std::string> names;
    std::vector<std::vector<TableCell>> cells;
    for (auto& material : materials) {
        char label[128];
        std::snprintf(label, sizeof label, "%s %uch %ub %.1fk", material.name.c_str(), material.format.channels,
                      material.format.bitsPerSample, material.format.sampleRate / 1000.0);
        names.push_back(label);
        cells.emplace_back();
        for (unsigned level : levels)
            cells.back().push_back(encodeCell(material, level, options.dir, options.duration));
        material.pcm = {}; // the files hold it now
    }
    Timings startup;
    {
        ape::ApeEncoder encoder(ape::PcmFormat{2, 16, 44100}, ape::EncoderOptions{});
        auto bytes = encoder.encode(std::vector<std::uint8_t>(400));
        std::string name = options.dir + "/codecbench-tiny.ape";
        std::ofstream(name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        for (int run = 0; run < 5; ++run)
            startup.add(ffmpegUserTime(name));
    }
    std::printf("%.0f s per file, best of %d, decoders alternating; NN kernels %s; ffmpeg start-up %.3f s "
                "subtracted\n",
                options.duration, options.runs, ape::bestNNKernels().name, startup.best());
    for (std::size_t m = 0; m < cells.size(); ++m) {
        std::fprintf(stderr, "timing %s\n", names[m].c_str());
        for (int run = 0; run < options.runs; ++run) {
            std::vector<std::string> files;
            for (auto& cell : cells[m]) {
                if (cell.file.empty())
                    continue;
                files.push_back(cell.file);
                cell.ours.add(decodeWithUs(cell.file, OurRun{1e30, 0}).userSeconds);
                cell.ffmpeg.add(ffmpegUserTime(cell.file));
            }
            if (options.dllBench.empty())
                continue;
            auto times = dllTimes(options.dllBench, files);
            for (auto& cell : cells[m])
                if (auto found = times.find(cell.file); found != times.end())
                    cell.dll.add(found->second);
        }
    }
    printRatios("host build", names, cells, startup.best(), &TableCell::ours);
    if (!options.dllBench.empty())
        printRatios("MACDllC.dll under Wine", names, cells, startup.best(), &TableCell::dll);
    std::printf("q: encoded quieter (halved until the level accepted it)\n");
    // Noise: how far, on average, the median run lay above the best one.
    for (auto [label, decoder] : {std::pair{"ours", &TableCell::ours}, std::pair{"ffmpeg", &TableCell::ffmpeg},
                                  std::pair{"dll", &TableCell::dll}}) {
        double sum = 0;
        int n = 0;
        for (auto& row : cells)
            for (auto& cell : row)
                if ((cell.*decoder).best() > 0) {
                    sum += (cell.*decoder).median() / (cell.*decoder).best() - 1;
                    ++n;
                }
        if (n)
            std::printf("noise %-6s: median run %.1f%% above the best\n", label, 100 * sum / n);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (!std::strcmp(argv[i], "--table")) {
            TableOptions options;
            for (int j = 1; j + 1 < argc; ++j) {
                const std::string option = argv[j];
                if (option == "--table")
                    continue;
                const char* value = argv[++j];
                if (option == "--seconds")
                    options.duration = std::max(1.0, std::atof(value));
                else if (option == "--runs")
                    options.runs = std::max(1, std::atoi(value));
                else if (option == "--dir")
                    options.dir = value;
                else if (option == "--dll-bench")
                    options.dllBench = value;
                else if (option == "--real")
                    options.realDir = value;
                else if (option == "--only")
                    options.only = value;
            }
            return speedTable(options);
        }
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
    const std::uint32_t rate = 44100;
    auto pcm = synthesise(rate, duration);
    std::vector<std::string> files;
    std::vector<double> ratios;
    for (unsigned level : {1000u, 2000u, 3000u, 4000u, 5000u}) {
        ape::EncoderOptions options;
        options.level = level;
        ape::ApeEncoder encoder(ape::PcmFormat{2, 16, rate}, options);
        auto bytes = encoder.encode(pcm);
        std::string name = dir + "/codecbench-" + std::to_string(level) + ".ape";
        std::ofstream(name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        files.push_back(name);
        ratios.push_back(double(bytes.size()) / double(pcm.size()));
    }
    // ffmpeg's process start-up, measured on a file of a few blocks, is not decoding time.
    double ffmpegStartup;
    {
        ape::ApeEncoder encoder(ape::PcmFormat{2, 16, rate}, ape::EncoderOptions{});
        auto bytes = encoder.encode(std::vector<std::uint8_t>(pcm.begin(), pcm.begin() + 400));
        std::string name = dir + "/codecbench-tiny.ape";
        std::ofstream(name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        ffmpegStartup = 1e30;
        for (int run = 0; run < 5; ++run)
            ffmpegStartup = decodeWithFfmpeg(name, ffmpegStartup);
    }
    std::printf("%.0f s of 16-bit stereo at %u Hz per level; best of %d; x = times real time\n", duration, rate, runs);
    std::printf("NN filter kernels: %s\n", ape::bestNNKernels().name);
    std::printf("ffmpeg start-up of %.3f s subtracted from its times\n", ffmpegStartup);
    std::printf("%-6s %7s %10s %10s %8s %10s %8s %10s\n", "level", "size", "ours x", "ffmpeg x", "ratio", "dll x",
                "dll/ff", "peak heap");
    for (std::size_t i = 0; i < files.size(); ++i) {
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
