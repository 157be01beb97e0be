// codecbench_table [--real DIR] [--only NAME] [--seconds N] [--runs N] [--dll-bench EXE]
//                  [--dll64-bench EXE --dll64-prefix DIR [--dll64-loader WINE64]] [--dir DIR]
//   The speed table: every material of BenchMaterial.h (and the real
//   recordings in DIR) at every level, N seconds each (default 60), encoded
//   once into DIR-named files that later runs reuse. Per material and run the
//   decoders take turns (ours, ffmpeg, per level, then the 32-bit DLL and the
//   x64 DLL, each in its own build's Wine prefix, on all levels);
//   the best of --runs counts. All three are timed by user time, which the
//   load of a shared machine distorts least: ffmpeg by its own -benchmark
//   figure less its start-up, ours and the DLL by the decoding thread's
//   account (GetThreadTimes under Wine: 10 ms steps). Prints the
//   ratio of speeds (above 1: faster than ffmpeg) per material and level for
//   the host build and each DLL, the worst of each, and how far the median run
//   lay above the best (the noise of the machine).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "BenchMaterial.h"
#include "DecoderRuns.h"
#include "dsp/NNKernels.h"
#include "encoder/ApeEncoder.h"
#include "encoder/EncodeError.h"

using namespace codecbench;

namespace {

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
    Timings ours, ffmpeg, dll, dll64;
    Timings seek, seek64; // the DLLs' seek to the first frame's last block
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
    std::string dir = "/tmp", dllBench, dll64Bench, dll64Prefix, dll64Loader = "wine", realDir, only;
};

void printRatios(const char* title, const std::vector<std::string>& names,
                 const std::vector<std::vector<TableCell>>& cells, double ffmpegStartup,
                 const Timings TableCell::*decoder, const Timings TableCell::*seek = nullptr)
{
    std::printf("\n%s: speed ratio to ffmpeg (above 1 is faster)%s\n", title,
                seek ? "; a seek to the last block of a level-5000 frame, in ms" : "");
    std::printf("%-42s %7s %7s %7s %7s %7s%s\n", "material", "1000", "2000", "3000", "4000", "5000",
                seek ? "  seek ms" : "");
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
        if (seek && !cells[m].empty() && (cells[m].back().*seek).best() > 0)
            std::printf("  %7.1f", 1000 * (cells[m].back().*seek).best());
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
            for (auto [bench, prefix, loader, decoder, seek] :
                 {std::tuple{&options.dllBench, "", "wine", &TableCell::dll, &TableCell::seek},
                  std::tuple{&options.dll64Bench, options.dll64Prefix.c_str(), options.dll64Loader.c_str(),
                             &TableCell::dll64, &TableCell::seek64}}) {
                if (bench->empty())
                    continue;
                auto times = dllTimes(*bench, files, prefix, loader);
                for (auto& cell : cells[m])
                    if (auto found = times.find(cell.file); found != times.end()) {
                        (cell.*decoder).add(found->second.userSeconds);
                        (cell.*seek).add(found->second.seekSeconds);
                    }
            }
        }
    }
    printRatios("host build", names, cells, startup.best(), &TableCell::ours);
    if (!options.dllBench.empty())
        printRatios("MACDllC.dll under Wine", names, cells, startup.best(), &TableCell::dll, &TableCell::seek);
    if (!options.dll64Bench.empty())
        printRatios("x64 MACDllC.dll under Wine", names, cells, startup.best(), &TableCell::dll64, &TableCell::seek64);
    std::printf("q: encoded quieter (halved until the level accepted it)\n");
    // Noise: how far, on average, the median run lay above the best one.
    for (auto [label, decoder] : {std::pair{"ours", &TableCell::ours}, std::pair{"ffmpeg", &TableCell::ffmpeg},
                                  std::pair{"dll", &TableCell::dll}, std::pair{"dll64", &TableCell::dll64}}) {
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
    TableOptions options;
    for (int j = 1; j + 1 < argc; ++j) {
        const std::string option = argv[j];
        const char* value = argv[++j];
        if (option == "--seconds")
            options.duration = std::max(1.0, std::atof(value));
        else if (option == "--runs")
            options.runs = std::max(1, std::atoi(value));
        else if (option == "--dir")
            options.dir = value;
        else if (option == "--dll-bench")
            options.dllBench = value;
        else if (option == "--dll64-bench")
            options.dll64Bench = value;
        else if (option == "--dll64-prefix")
            options.dll64Prefix = value;
        else if (option == "--dll64-loader")
            options.dll64Loader = value;
        else if (option == "--real")
            options.realDir = value;
        else if (option == "--only")
            options.only = value;
    }
    return speedTable(options);
}
