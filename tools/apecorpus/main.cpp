// apecorpus: writes the deterministic test corpus, or the demo sample.
//
//   apecorpus [--small] OUTDIR   OUTDIR/<name>.ape, OUTDIR/<name>.pcm (the
//                                source PCM exactly as a decoder must output
//                                it) and OUTDIR/corpus.tsv
//   apecorpus --demo OUT.ape     a few seconds of tagged synthetic music

#include "encoder/ApeEncoder.h"
#include "encoder/ApeTagWriter.h"
#include "CorpusPlan.h"
#include "SignalGenerator.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr unsigned maxWorkers = 2;
constexpr std::uint32_t demoRate = 44100;
constexpr double demoSeconds = 8.0;

void writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

struct ItemResult {
    std::uint64_t apeBytes = 0;
    std::uint64_t pcmBytes = 0;
};

ItemResult writeItem(const ape::CorpusItem& item, std::size_t index, const std::filesystem::path& dir)
{
    const ape::EncodedItem encoded = ape::CorpusPlan::encode(item, index);
    writeFile(dir / (item.name + ".ape"), encoded.file);
    writeFile(dir / (item.name + ".pcm"), encoded.pcm);
    return {encoded.file.size(), encoded.pcm.size()};
}

int writeCorpus(const std::filesystem::path& dir, bool small)
{
    const auto started = std::chrono::steady_clock::now();
    std::filesystem::create_directories(dir);
    const std::vector<ape::CorpusItem> items = ape::CorpusPlan::build(small);

    std::vector<ItemResult> results(items.size());
    std::atomic<std::size_t> next{0};
    std::mutex errorLock; // guards errors
    std::vector<std::string> errors;
    const auto work = [&] {
        for (std::size_t i = next++; i < items.size(); i = next++) {
            try {
                results[i] = writeItem(items[i], i, dir);
            } catch (const std::exception& e) {
                std::lock_guard<std::mutex> hold(errorLock);
                errors.push_back(items[i].name + ": " + e.what());
            }
        }
    };
    const unsigned workers = std::clamp(std::thread::hardware_concurrency(), 1u, maxWorkers);
    std::vector<std::thread> threads;
    for (unsigned w = 1; w < workers; ++w)
        threads.emplace_back(work);
    work();
    for (std::thread& t : threads)
        t.join();
    if (!errors.empty()) {
        std::sort(errors.begin(), errors.end());
        for (const std::string& error : errors)
            std::cerr << "apecorpus: " << error << "\n";
        return EXIT_FAILURE;
    }

    std::ofstream manifest(dir / "corpus.tsv", std::ios::trunc);
    manifest << "name\tversion\tlevel\tchannels\tbits\trate\tblocks\n";
    std::uint64_t apeBytes = 0;
    std::uint64_t pcmBytes = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const ape::CorpusItem& item = items[i];
        manifest << item.name << '\t' << item.options.version << '\t' << item.options.level << '\t'
                 << item.format.channels << '\t' << item.format.bitsPerSample << '\t' << item.format.sampleRate << '\t'
                 << item.blocks << '\n';
        apeBytes += results[i].apeBytes;
        pcmBytes += results[i].pcmBytes;
    }
    manifest.close();
    if (!manifest) {
        std::cerr << "apecorpus: cannot write " << (dir / "corpus.tsv").string() << "\n";
        return EXIT_FAILURE;
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    std::printf("apecorpus: %zu files, %.1f MB encoded from %.1f MB of PCM, in %.1f s\n", items.size(), apeBytes / 1e6,
                pcmBytes / 1e6, took.count());
    return EXIT_SUCCESS;
}

int writeDemo(const std::filesystem::path& path)
{
    const ape::PcmFormat format{2, 16, demoRate};
    ape::SignalGenerator generator(format.bitsPerSample, format.channels, format.sampleRate, 1);
    const std::vector<std::uint8_t> pcm =
        generator.pack(generator.generate(ape::Signal::music, std::size_t(demoSeconds * demoRate)));
    ape::EncoderOptions options;
    options.level = 3000;
    ape::ApeEncoder encoder(format, options);
    std::vector<std::uint8_t> file = encoder.encode(pcm);

    ape::ApeTagWriter tag;
    tag.addText("Artist", "The Sine Wave Ensemble");
    tag.addText("Title", "\xC3\x89tude f\xC3\xBCr Obert\xC3\xB6ne"); // "Étude für Obertöne"
    tag.addText("Genre", "Ambient");
    tag.addText("Notes", "Synthetic demo music: a four-chord pad with a plucked arpeggio.");
    tag.addText("Copyright", "Public domain");
    tag.addText("File URL", "https://example.org/apesrc/demo.ape");
    const std::vector<std::uint8_t> tagBytes = tag.bytes();
    file.insert(file.end(), tagBytes.begin(), tagBytes.end());
    if (path.has_parent_path())
        std::filesystem::create_directories(path.parent_path());
    writeFile(path, file);
    return EXIT_SUCCESS;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (args.size() == 2 && args[0] == "--demo")
            return writeDemo(args[1]);
        if (args.size() == 2 && args[0] == "--small")
            return writeCorpus(args[1], true);
        if (args.size() == 1 && args[0][0] != '-')
            return writeCorpus(args[0], false);
    } catch (const std::exception& e) {
        std::cerr << "apecorpus: " << e.what() << "\n";
        return EXIT_FAILURE;
    }
    std::cerr << "usage: apecorpus [--small] OUTDIR | apecorpus --demo OUT.ape\n";
    return 2;
}
