// codecbench [--seconds N] [--runs N] [--dll-bench codecbench_dll.exe] [--dir DIR]
//   Decode throughput against ffmpeg's decoder, per compression level.
//   Encodes N seconds (default 120) of a synthetic 16-bit stereo mix at every
//   level, then times, on the same files, our decoder (single thread, output
//   discarded) and `ffmpeg -threads 1 ... -f null -`, alternating, best of
//   --runs (default 5) each.
//   Prints blocks per second, the ratio ours/ffmpeg, the compression ratio and
//   the peak heap use of one decompressor. With --dll-bench it also runs the
//   Windows benchmark (codecbench_dll) under `wine` (WINEPREFIX as set by the
//   caller). The speed table over many kinds of material is codecbench_table.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "DecoderRuns.h"
#include "dsp/NNKernels.h"
#include "encoder/ApeEncoder.h"

using namespace codecbench;

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
