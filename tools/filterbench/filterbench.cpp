// filterbench: what the source filter costs on top of the codec, run under
// Wine by tools/filterbench.sh. apesrc.dll and MACDllC.dll lie beside the
// program; the source is made through the module's class object, so nothing
// is registered. Prints figures; asserts nothing.
//
//   filterbench [--seconds N] [--runs N] [--seeks N] [--repeats N] [--dir DIR]
//     Encodes N seconds (default 60) of synthetic 16-bit stereo music at
//     44100 Hz into DIR (default the program's folder), then measures:
//     - playback: Run to EC_COMPLETE through Wine's graph without a clock
//       (source straight into the Null Renderer) against the codec's own
//       decode of the same file in reads of 2000 blocks, alternating run by
//       run, best of --runs (default 5); ratio raw/graph, goal >= 0.95;
//       with the spread of the runs, the source alone into a sink whose
//       allocator makes no system call (no graph; alternating with the two
//       others), and Wine's memory allocator's GetBuffer and Release timed
//       alone: what the graph pays per buffer that no source can avoid;
//     - seek latency: with the graph paused, SetPositions to --seeks
//       (default 40) seeded random targets; time from the call to the first
//       sample of the new segment at a Sample Grabber, against the codec's
//       seek to the same block and decode of 2000 blocks, each side
//       --repeats times (default 3) alternating, best of each; graph/raw of
//       the medians and the worst target, goal <= 1.1;
//     - memory: peak private bytes of a child run that plays the file, minus
//       those of a child run that sets up the same without a file; goal
//       <= 8 MB.
//   filterbench --memory-probe [FILE]: the child run; prints its peak
//     private bytes.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>

#include <dshow.h>
#include <psapi.h>

#include "encoder/ApeEncoder.h"
#include "PooledSink.h"
#include "tools/common/BesideTheProgram.h"
#include "SignalGenerator.h"
#include "apecodec.h"
#include "monkeysaudio/SourceIdentifiers.h"
#include "support/COMPtr.h"
#include "tests/common/GraphInterfaces.h"

using oryx::COMPtr;

using tools::now;
using tools::programDirectory;

namespace {

constexpr std::uint32_t rate = 44100;
constexpr int blocksPerRead = 2000; // as the filter fills one buffer
constexpr DWORD eventBoundMs = 120'000;

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "filterbench: %s\n", what.c_str());
    std::exit(1);
}

// The codec's functions, from the same MACDllC.dll the module uses.
struct Codec {
    HMODULE module = LoadLibraryA("MACDllC.dll");
    template <class F>
    F entry(const char* name)
    {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }
    decltype(&c_APEDecompress_Create) create = entry<decltype(&c_APEDecompress_Create)>("c_APEDecompress_Create");
    decltype(&c_APEDecompress_Destroy) destroy = entry<decltype(&c_APEDecompress_Destroy)>("c_APEDecompress_Destroy");
    decltype(&c_APEDecompress_GetData) getData = entry<decltype(&c_APEDecompress_GetData)>("c_APEDecompress_GetData");
    decltype(&c_APEDecompress_Seek) seek = entry<decltype(&c_APEDecompress_Seek)>("c_APEDecompress_Seek");
    decltype(&c_APEDecompress_GetInfo) info = entry<decltype(&c_APEDecompress_GetInfo)>("c_APEDecompress_GetInfo");
};

// One decompressor of `file`, destroyed with the object.
class RawDecoder {
public:
    RawDecoder(Codec& codec, const std::string& file) : codec(codec)
    {
        int error = 0;
        handle = codec.create(file.c_str(), &error);
        if (!handle)
            fail("the codec cannot open " + file);
        buffer.resize(static_cast<std::size_t>(codec.info(handle, APE_INFO_BLOCK_ALIGN, 0, 0)) * blocksPerRead);
    }
    ~RawDecoder() { codec.destroy(handle); }

    // Decodes up to `blocks` blocks (all when negative) into one buffer, as
    // the filter decodes into one sample; the number decoded.
    std::int64_t decode(std::int64_t blocks = -1)
    {
        std::int64_t done = 0;
        for (int got = 1; got > 0 && (blocks < 0 || done < blocks); done += got)
            if (codec.getData(handle, buffer.data(), blocksPerRead, &got) != 0)
                fail("the codec failed to decode");
        return done;
    }
    void seek(std::int64_t block)
    {
        if (codec.seek(handle, static_cast<int>(block)) != 0)
            fail("the codec failed to seek");
    }

private:
    Codec& codec;
    APE_DECOMPRESS_HANDLE handle = nullptr;
    std::vector<char> buffer;
};

COMPtr<IBaseFilter> createSource()
{
    try {
        return tools::createSourceBesideTheProgram();
    } catch (const std::exception& e) {
        fail(e.what());
    }
}

COMPtr<IPin> firstPin(IBaseFilter& filter, PIN_DIRECTION wanted)
{
    COMPtr<IEnumPins> pins;
    oryx::checkResult(filter.EnumPins(pins.receive()));
    for (COMPtr<IPin> each; pins->Next(1, each.receive(), nullptr) == S_OK;) {
        PIN_DIRECTION direction;
        each->QueryDirection(&direction);
        if (direction == wanted)
            return each;
    }
    fail("a filter lacks a pin");
}

// Records when the first sample of a new segment passes the grabber. The
// waiting thread sleeps on an event set after the time is taken, so it takes
// no processor from the worker it is timing.
class FirstSampleClock : public ISampleGrabberCB {
public:
    FirstSampleClock() : arrived(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}
    ~FirstSampleClock() { CloseHandle(arrived); }

    void arm()
    {
        ResetEvent(arrived);
        seen = 0;
        armed = true;
    }
    // Seconds on now()'s scale, or 0 when none came within `boundMs`.
    double wait(DWORD boundMs)
    {
        WaitForSingleObject(arrived, boundMs);
        return seen.load();
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISampleGrabberCB)) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SampleCB(double, IMediaSample* sample) override
    {
        if (armed && sample->IsDiscontinuity() == S_OK) {
            seen = now();
            armed = false;
            SetEvent(arrived);
        }
        return S_OK;
    }
    STDMETHODIMP BufferCB(double, BYTE*, long) override { return S_OK; }

private:
    HANDLE arrived;
    std::atomic<bool> armed{false};
    std::atomic<double> seen{0};
};

// Wine's graph around one loaded source, without a clock: straight into the
// Null Renderer, or through a Sample Grabber calling `clock` back.
class Graph {
public:
    Graph(const std::string& file, FirstSampleClock* clock)
    {
        const std::wstring name(file.begin(), file.end());
        COMPtr<IFileSourceFilter> loader;
        loader = source.get();
        oryx::checkResult(loader->Load(name.c_str(), nullptr), "Load");
        oryx::checkResult(graph->AddFilter(source.get(), L"Source"));
        oryx::checkResult(graph->AddFilter(renderer.get(), L"Renderer"));
        COMPtr<IMediaFilter> timing;
        timing = graph.get();
        oryx::checkResult(timing->SetSyncSource(nullptr));
        COMPtr<IPin> output = firstPin(*source, PINDIR_OUTPUT);
        if (clock) {
            COMPtr<IBaseFilter> grabberFilter(CLSID_SampleGrabberFilter);
            oryx::checkResult(graph->AddFilter(grabberFilter.get(), L"Grabber"));
            grabber = grabberFilter.get();
            grabber->SetBufferSamples(FALSE);
            grabber->SetCallback(clock, 0);
            oryx::checkResult(
                graph->ConnectDirect(output.get(), firstPin(*grabberFilter, PINDIR_INPUT).get(), nullptr));
            output = firstPin(*grabberFilter, PINDIR_OUTPUT);
        }
        oryx::checkResult(graph->ConnectDirect(output.get(), firstPin(*renderer, PINDIR_INPUT).get(), nullptr));
        control = graph.get();
        events = graph.get();
        seeking = graph.get();
    }
    ~Graph()
    {
        control->Stop();
        if (grabber)
            grabber->SetCallback(nullptr, 0);
    }

    // Seconds from Run to EC_COMPLETE, playing from the start.
    double playWhole()
    {
        control->Stop();
        LONGLONG start = 0;
        oryx::checkResult(
            seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning));
        discardEvents();
        const double begin = now();
        oryx::checkResult(control->Run());
        for (;;) {
            long code;
            LONG_PTR first;
            LONG_PTR second;
            if (events->GetEvent(&code, &first, &second, eventBoundMs) != S_OK)
                fail("no end of stream");
            events->FreeEventParams(code, first, second);
            if (code == EC_COMPLETE)
                break;
            if (code == EC_ERRORABORT)
                fail("the stream aborted");
        }
        const double took = now() - begin;
        control->Stop();
        return took;
    }

    void pause()
    {
        oryx::checkResult(control->Pause());
        OAFilterState state;
        if (control->GetState(10'000, &state) != S_OK || state != State_Paused)
            fail("the graph does not pause");
    }

    void discardEvents()
    {
        long code;
        LONG_PTR first;
        LONG_PTR second;
        while (events->GetEvent(&code, &first, &second, 0) == S_OK)
            events->FreeEventParams(code, first, second);
    }

    COMPtr<IBaseFilter> source = createSource();
    COMPtr<IGraphBuilder> graph{CLSID_FilterGraph};
    COMPtr<IBaseFilter> renderer{CLSID_NullRendererFilter};
    COMPtr<ISampleGrabber> grabber;
    COMPtr<IMediaControl> control;
    COMPtr<IMediaEventEx> events;
    COMPtr<IMediaSeeking> seeking;
};

// The source alone, its output pin connected straight to a PooledSink: no
// graph, and an allocator without system calls.
class SinkRun {
public:
    explicit SinkRun(const std::string& file)
    {
        const std::wstring name(file.begin(), file.end());
        COMPtr<IFileSourceFilter> loader;
        loader = source.get();
        oryx::checkResult(loader->Load(name.c_str(), nullptr), "Load");
        output = firstPin(*source, PINDIR_OUTPUT);
        oryx::checkResult(output->Connect(&sink, nullptr), "Connect to the pooled sink");
    }
    ~SinkRun()
    {
        source->Stop();
        output->Disconnect();
        sink.Disconnect();
    }

    // Seconds from Run to the end of stream; each run's new worker starts
    // from the beginning of the file.
    double playWhole()
    {
        source->Stop();
        sink.rearm();
        const double begin = now();
        oryx::checkResult(source->Run(0));
        if (!sink.waitForEnd(eventBoundMs))
            fail("no end of stream at the pooled sink");
        const double took = now() - begin;
        source->Stop();
        return took;
    }

private:
    PooledSink sink; // outlives the source's connection to it
    COMPtr<IBaseFilter> source = createSource();
    COMPtr<IPin> output;
};

std::string makeFile(const std::string& directory, double seconds)
{
    constexpr ape::PcmFormat format{2, 16, rate};
    ape::SignalGenerator generator(format.bitsPerSample, format.channels, format.sampleRate, 1);
    const std::vector<std::uint8_t> pcm =
        generator.pack(generator.generate(ape::Signal::music, static_cast<std::size_t>(seconds * rate)));
    ape::ApeEncoder encoder(format, ape::EncoderOptions{});
    const std::vector<std::uint8_t> bytes = encoder.encode(pcm);
    const std::string file = directory + "\\filterbench.ape";
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return file;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Seconds per GetBuffer and Release of one sample of Wine's memory
// allocator, which the Null Renderer hands the source: the per-buffer cost
// the graph pays that no source can avoid. Each call waits on or releases a
// kernel semaphore, a server round trip under Wine. Best of 3 runs.
double allocatorCostPerBuffer(long bufferBytes)
{
    COMPtr<IMemAllocator> allocator(CLSID_MemoryAllocator);
    ALLOCATOR_PROPERTIES wanted{4, bufferBytes, 1, 0};
    ALLOCATOR_PROPERTIES granted{};
    oryx::checkResult(allocator->SetProperties(&wanted, &granted));
    oryx::checkResult(allocator->Commit());
    constexpr int pairs = 5000;
    double best = 1e30;
    for (int run = 0; run < 3; ++run) {
        const double begin = now();
        for (int i = 0; i < pairs; ++i) {
            IMediaSample* sample = nullptr;
            oryx::checkResult(allocator->GetBuffer(&sample, nullptr, nullptr, 0));
            sample->Release();
        }
        best = std::min(best, (now() - begin) / pairs);
    }
    allocator->Decommit();
    return best;
}

void benchPlayback(Codec& codec, const std::string& file, double seconds, int runs)
{
    Graph graph(file, nullptr);
    SinkRun alone(file);
    std::vector<double> raw;
    std::vector<double> played;
    std::vector<double> sunk;
    for (int run = 0; run < runs; ++run) {
        {
            const double begin = now();
            RawDecoder decoder(codec, file);
            decoder.decode();
            raw.push_back(now() - begin);
        }
        played.push_back(graph.playWhole());
        sunk.push_back(alone.playWhole());
    }
    const double bestRaw = *std::min_element(raw.begin(), raw.end());
    const double bestPlayed = *std::min_element(played.begin(), played.end());
    const double buffers = std::ceil(seconds * rate / blocksPerRead);
    std::printf("playback   %.0f s of 16-bit stereo, best of %d: raw %.3f s (%.0fx), graph %.3f s (%.0fx), "
                "raw/graph %.3f (goal >= 0.95); %.1f us more per buffer of %d blocks\n",
                seconds, runs, bestRaw, seconds / bestRaw, bestPlayed, seconds / bestPlayed, bestRaw / bestPlayed,
                (bestPlayed - bestRaw) / buffers * 1e6, blocksPerRead);
    // Neighbouring runs share the machine's load best: their ratios drift
    // less than the bests, which may come from different moments.
    std::vector<double> pairs;
    for (std::size_t i = 0; i < raw.size(); ++i)
        pairs.push_back(raw[i] / played[i]);
    std::printf("           noise: raw %.3f-%.3f s (median %.3f), graph %.3f-%.3f s (median %.3f); "
                "raw/graph run by run %.3f-%.3f (median %.3f)\n",
                bestRaw, *std::max_element(raw.begin(), raw.end()), median(raw), bestPlayed,
                *std::max_element(played.begin(), played.end()), median(played),
                *std::min_element(pairs.begin(), pairs.end()), *std::max_element(pairs.begin(), pairs.end()),
                median(pairs));
    const double bestSunk = *std::min_element(sunk.begin(), sunk.end());
    std::printf("           the source alone into a sink whose allocator makes no system call: %.3f s, "
                "raw/source %.3f; %.1f us per buffer on top of the decode\n",
                bestSunk, bestRaw / bestSunk, (bestSunk - bestRaw) / buffers * 1e6);
    const double allocator = allocatorCostPerBuffer(blocksPerRead * 4);
    std::printf("           of which Wine's allocator: %.1f us per GetBuffer and Release, %.1f ms over %.0f buffers; "
                "raw/(graph without it) %.3f\n",
                allocator * 1e6, allocator * buffers * 1e3, buffers, bestRaw / (bestPlayed - allocator * buffers));
}

void benchSeeks(Codec& codec, const std::string& file, double seconds, int seeks, int repeats)
{
    FirstSampleClock clock;
    Graph graph(file, &clock);
    // Paused, the renderer holds the worker in Receive, so only a seek moves it.
    graph.pause();
    RawDecoder decoder(codec, file);
    const auto totalBlocks = static_cast<std::int64_t>(seconds * rate);
    std::mt19937 random(99);
    std::uniform_int_distribution<std::int64_t> blocks(0, totalBlocks - blocksPerRead);
    std::vector<double> rawTimes;
    std::vector<double> graphTimes;
    std::vector<double> ratios;
    std::vector<double> spreads;
    for (int i = 0; i < seeks; ++i) {
        const std::int64_t block = blocks(random);
        // A position whose truncation gives exactly `block`.
        LONGLONG position = (block * 10'000'000 + rate - 1) / rate;
        // Each side `repeats` times, alternating, best of each: a sample of
        // the noise is the graph's worst try against its best.
        double raw = 1e30;
        double played = 1e30;
        double worstPlayed = 0;
        for (int repeat = 0; repeat < repeats; ++repeat) {
            double begin = now();
            decoder.seek(block);
            decoder.decode(blocksPerRead);
            raw = std::min(raw, now() - begin);

            clock.arm();
            begin = now();
            oryx::checkResult(graph.seeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr,
                                                          AM_SEEKING_NoPositioning));
            const double seen = clock.wait(10'000);
            if (seen == 0)
                fail("no sample after a seek");
            played = std::min(played, seen - begin);
            worstPlayed = std::max(worstPlayed, seen - begin);
        }
        rawTimes.push_back(raw);
        graphTimes.push_back(played);
        ratios.push_back(played / raw);
        spreads.push_back(worstPlayed / played);
    }
    std::printf("seek       %d targets, best of %d each: raw median %.2f ms, graph median %.2f ms, worst %.2f ms; "
                "graph/raw of medians %.3f, median %.3f, worst %.3f (goal <= 1.1); %.0f us more per seek\n",
                seeks, repeats, median(rawTimes) * 1e3, median(graphTimes) * 1e3,
                *std::max_element(graphTimes.begin(), graphTimes.end()) * 1e3, median(graphTimes) / median(rawTimes),
                median(ratios), *std::max_element(ratios.begin(), ratios.end()),
                (median(graphTimes) - median(rawTimes)) * 1e6);
    if (repeats > 1)
        std::printf("           noise: a target's slowest try against its best, median %.2fx, worst %.2fx\n",
                    median(spreads), *std::max_element(spreads.begin(), spreads.end()));
}

// Private bytes, sampled every millisecond while `work` runs; the peak of
// what was sampled and of what the system reports.
template <class Work>
SIZE_T peakPrivateBytes(Work work)
{
    std::atomic<bool> done{false};
    std::atomic<SIZE_T> peak{0};
    auto sample = [&] {
        PROCESS_MEMORY_COUNTERS_EX counters{};
        counters.cb = sizeof counters;
        GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof counters);
        peak = std::max({peak.load(), counters.PrivateUsage, counters.PeakPagefileUsage});
    };
    std::thread sampler([&] {
        while (!done) {
            sample();
            Sleep(1);
        }
    });
    work();
    sample();
    done = true;
    sampler.join();
    return peak;
}

// The child run: the same set-up with or without a file.
int memoryProbe(const char* file)
{
    const SIZE_T peak = peakPrivateBytes([&] {
        if (file) {
            Graph graph(file, nullptr);
            graph.playWhole();
        } else {
            COMPtr<IBaseFilter> source = createSource();
            COMPtr<IGraphBuilder> graph(CLSID_FilterGraph);
            COMPtr<IBaseFilter> renderer(CLSID_NullRendererFilter);
            oryx::checkResult(graph->AddFilter(source.get(), L"Source"));
            oryx::checkResult(graph->AddFilter(renderer.get(), L"Renderer"));
        }
    });
    std::printf("%lu\n", static_cast<unsigned long>(peak));
    return 0;
}

// Runs this program as a memory probe and reads its answer from a pipe.
double probePeakBytes(const std::string& file)
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = "\"" + std::string(self) + "\" --memory-probe";
    if (!file.empty())
        command += " \"" + file + "\"";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        fail("cannot make a pipe");
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process{};
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    const BOOL started =
        CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    CloseHandle(writeEnd);
    if (!started)
        fail("cannot start the memory probe");
    std::string answer;
    char chunk[64];
    for (DWORD got = 0; ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got > 0;)
        answer.append(chunk, got);
    WaitForSingleObject(process.hProcess, eventBoundMs);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(readEnd);
    const double bytes = std::atof(answer.c_str());
    if (bytes <= 0)
        fail("the memory probe gave no answer");
    return bytes;
}

void benchMemory(const std::string& file)
{
    const double without = probePeakBytes({});
    const double with = probePeakBytes(file);
    std::printf("memory     peak private bytes: %.2f MB without a file, %.2f MB playing it; difference %.2f MB "
                "(goal <= 8 MB)\n",
                without / 1048576, with / 1048576, (with - without) / 1048576);
}

} // namespace

int main(int argc, char** argv)
{
    try {
        if (argc >= 2 && !std::strcmp(argv[1], "--memory-probe")) {
            oryx::checkResult(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
            return memoryProbe(argc >= 3 ? argv[2] : nullptr);
        }
        double seconds = 60;
        int runs = 5;
        int seeks = 40;
        int repeats = 3;
        std::string directory = programDirectory();
        for (int i = 1; i + 1 < argc; i += 2) {
            if (!std::strcmp(argv[i], "--seconds"))
                seconds = std::max(5.0, std::atof(argv[i + 1]));
            else if (!std::strcmp(argv[i], "--runs"))
                runs = std::max(1, std::atoi(argv[i + 1]));
            else if (!std::strcmp(argv[i], "--seeks"))
                seeks = std::max(1, std::atoi(argv[i + 1]));
            else if (!std::strcmp(argv[i], "--repeats"))
                repeats = std::max(1, std::atoi(argv[i + 1]));
            else if (!std::strcmp(argv[i], "--dir"))
                directory = argv[i + 1];
        }
        oryx::checkResult(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        Codec codec;
        if (!codec.module)
            fail("cannot load MACDllC.dll");
        const std::string file = makeFile(directory, seconds);
        benchPlayback(codec, file, seconds, runs);
        benchSeeks(codec, file, seconds, seeks, repeats);
        benchMemory(file);
        CoUninitialize();
    } catch (const std::exception& e) {
        fail(e.what());
    }
    return 0;
}
