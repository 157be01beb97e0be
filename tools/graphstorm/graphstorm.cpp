// graphstorm: what a player's ordinary control calls do to a playing graph,
// with our source or with Wine's own WAV path (File Source and WAVE Parser)
// for the same audio, both rendered to the DirectSound Renderer with its
// clock. tools/soak.sh runs it; it prints figures and one result line.
//
//   graphstorm storm --source ours|wine [--seconds N] [--seed N] [--load] [--wait-on-hang]
//     Four threads, each with 0-20 ms between calls, call the graph's Run,
//     Pause, Stop, GetState(50), SetPositions (to a random position inside
//     the file), GetCurrentPosition and GetDuration, and with our source its
//     get_Title and, with --load, its Load of the same file. A call blocked
//     for more than 15 s is a hang: the program names the calls in progress
//     and exits with 3 (or, with --wait-on-hang, waits for a debugger). A
//     failed call or an EC_ERRORABORT exits with 1.
//   graphstorm measure --source ours|wine [--rounds N] [--seed N]
//     One thread: after each Pause and each seek (paused or running), how
//     long the renderer and the graph report an intermediate state, in ms.
//
// The files (20 s of 16-bit stereo music at 44100 Hz, as .ape at level 4000
// and as .wav) are made beside the program on first use. apesrc.dll and
// MACDllC.dll lie beside it too; the source is made through the module's
// class object, so nothing is registered.
#include <algorithm>
#include <array>
#include <atomic>
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
#include <qnetwork.h>

#include "SignalGenerator.h"
#include "tools/common/BesideTheProgram.h"
#include "encoder/ApeEncoder.h"
#include "format/WavHeader.h"
#include "monkeysaudio/SourceIdentifiers.h"
#include "support/COMPtr.h"
#include "tests/common/GraphInterfaces.h"

using oryx::COMPtr;
using tools::now;
using tools::programDirectory;

namespace {

constexpr std::uint32_t rate = 44100;
constexpr std::size_t fileSeconds = 20;
constexpr int threadCount = 4;
constexpr double hangSeconds = 15;

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "graphstorm: %s\n", what.c_str());
    std::exit(2);
}

void check(HRESULT hr, const char* what)
{
    if (FAILED(hr)) {
        char text[160];
        std::snprintf(text, sizeof text, "%s failed: 0x%08lx", what, static_cast<unsigned long>(hr));
        fail(text);
    }
}

std::wstring wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

void writeFile(const std::string& name, const std::vector<std::uint8_t>& head, const std::vector<std::uint8_t>& body)
{
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
    out.write(reinterpret_cast<const char*>(body.data()), static_cast<std::streamsize>(body.size()));
    if (!out)
        fail("cannot write " + name);
}

// The same audio as .ape and as .wav, made once.
struct Files {
    std::string ape = programDirectory() + "\\graphstorm.ape";
    std::string wav = programDirectory() + "\\graphstorm.wav";

    Files()
    {
        if (GetFileAttributesA(ape.c_str()) != INVALID_FILE_ATTRIBUTES &&
            GetFileAttributesA(wav.c_str()) != INVALID_FILE_ATTRIBUTES)
            return;
        constexpr ape::PcmFormat format{2, 16, rate};
        ape::SignalGenerator generator(format.bitsPerSample, format.channels, format.sampleRate, 1);
        const std::vector<std::uint8_t> pcm =
            generator.pack(generator.generate(ape::Signal::music, fileSeconds * rate));
        ape::EncoderOptions options;
        options.level = 4000;
        const auto header = ape::canonicalWavHeader(2, rate, 16, pcm.size());
        writeFile(wav, {header.begin(), header.end()}, pcm);
        writeFile(ape, {}, ape::ApeEncoder(format, options).encode(pcm));
    }
};

COMPtr<IBaseFilter> createSource()
{
    try {
        return tools::createSourceBesideTheProgram();
    } catch (const std::exception& e) {
        fail(e.what());
    }
}

// A graph from the source to the DirectSound Renderer, which is the clock.
struct Graph {
    COMPtr<IGraphBuilder> builder{CLSID_FilterGraph};
    COMPtr<IMediaControl> control;
    COMPtr<IMediaSeeking> seeking;
    COMPtr<IMediaEventEx> events;
    COMPtr<IBaseFilter> source;
    COMPtr<IBaseFilter> renderer;
    std::wstring file;

    Graph(bool ours, const Files& files) : file(wide(ours ? files.ape : files.wav))
    {
        if (ours) {
            source = createSource();
            check(fileSource()->Load(file.c_str(), nullptr), "Load");
            check(builder->AddFilter(source.get(), L"Source"), "AddFilter");
            COMPtr<IPin> output;
            check(source->FindPin(L"PCM Output", output.receive()), "FindPin");
            check(builder->Render(output.get()), "Render");
        } else {
            check(builder->RenderFile(file.c_str(), nullptr), "RenderFile");
        }
        COMPtr<IEnumFilters> filters;
        check(builder->EnumFilters(filters.receive()), "EnumFilters");
        for (COMPtr<IBaseFilter> each; filters->Next(1, each.receive(), nullptr) == S_OK;) {
            CLSID id{};
            each->GetClassID(&id);
            if (IsEqualCLSID(id, CLSID_DSoundRender))
                renderer = each;
        }
        if (!renderer)
            fail("the graph has no DirectSound Renderer");
        control = builder.get();
        seeking = builder.get();
        events = builder.get();
    }
    ~Graph() { control->Stop(); }

    COMPtr<IFileSourceFilter> fileSource()
    {
        COMPtr<IFileSourceFilter> file;
        file = source.get();
        return file;
    }

    LONGLONG duration()
    {
        LONGLONG length = 0;
        check(seeking->GetDuration(&length), "GetDuration");
        return length;
    }

    // Drains the graph's events; the number of EC_ERRORABORT among them.
    int takeAborts(HRESULT& reason)
    {
        int aborts = 0;
        long code;
        LONG_PTR first;
        LONG_PTR second;
        while (events->GetEvent(&code, &first, &second, 0) == S_OK) {
            if (code == EC_ERRORABORT) {
                ++aborts;
                reason = static_cast<HRESULT>(first);
            }
            events->FreeEventParams(code, first, second);
        }
        return aborts;
    }
};

enum Operation { Run, Pause, Stop, GetState, SetPositions, GetCurrentPosition, GetDuration, GetTitle, Load, count };
constexpr const char* operationNames[count] = {
    "Run", "Pause", "Stop", "GetState", "SetPositions", "GetCurrentPosition", "GetDuration", "get_Title", "Load"};

struct Tally {
    std::atomic<long> calls{0};
    std::atomic<long> failures{0};
    std::atomic<HRESULT> lastFailure{S_OK};
};

int storm(bool ours, double seconds, unsigned seed, bool withLoad, bool waitOnHang)
{
    Files files;
    Graph graph(ours, files);
    const LONGLONG length = graph.duration();
    COMPtr<IAMMediaContent> content;
    if (ours)
        content = graph.source.get();
    const int operations = ours ? (withLoad ? Load + 1 : GetTitle + 1) : GetTitle;

    std::array<Tally, count> tallies;
    // What each thread is in, and since when; -1 between calls.
    std::array<std::atomic<int>, threadCount> current;
    std::array<std::atomic<double>, threadCount> since;
    for (auto& each : current)
        each = -1;
    std::atomic<bool> stopping{false};
    std::atomic<int> finished{0};
    check(graph.control->Run(), "the first Run");

    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t)
        threads.emplace_back([&, t] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            std::mt19937 random(seed * threadCount + static_cast<unsigned>(t));
            std::uniform_int_distribution<LONGLONG> positions(0, length - 1);
            const COMPtr<IFileSourceFilter> file = ours ? graph.fileSource() : COMPtr<IFileSourceFilter>();
            while (!stopping) {
                Sleep(random() % 21);
                const auto operation = static_cast<Operation>(random() % static_cast<unsigned>(operations));
                LONGLONG position = positions(random);
                since[t] = now();
                current[t] = operation;
                HRESULT hr = S_OK;
                switch (operation) {
                case Run:
                    hr = graph.control->Run();
                    break;
                case Pause:
                    hr = graph.control->Pause();
                    break;
                case Stop:
                    hr = graph.control->Stop();
                    break;
                case GetState: {
                    OAFilterState state;
                    hr = graph.control->GetState(50, &state);
                    break;
                }
                case SetPositions:
                    hr = graph.seeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr,
                                                     AM_SEEKING_NoPositioning);
                    break;
                case GetCurrentPosition:
                    hr = graph.seeking->GetCurrentPosition(&position);
                    break;
                case GetDuration:
                    hr = graph.seeking->GetDuration(&position);
                    break;
                case GetTitle: {
                    BSTR text = nullptr;
                    hr = content->get_Title(&text);
                    SysFreeString(text);
                    break;
                }
                case Load:
                    hr = file->Load(graph.file.c_str(), nullptr);
                    break;
                default:
                    break;
                }
                current[t] = -1;
                Tally& tally = tallies[operation];
                ++tally.calls;
                if (FAILED(hr)) {
                    ++tally.failures;
                    tally.lastFailure = hr;
                }
            }
            CoUninitialize();
            ++finished;
        });

    int aborts = 0;
    HRESULT abortReason = S_OK;
    const double start = now();
    bool hung = false;
    while (!hung) {
        Sleep(100);
        aborts += graph.takeAborts(abortReason);
        const double moment = now();
        if (moment - start >= seconds)
            stopping = true;
        for (int t = 0; t < threadCount; ++t)
            hung = hung || (current[t] >= 0 && moment - since[t] > hangSeconds);
        if (stopping && finished == threadCount)
            break;
    }

    long calls = 0;
    long failures = 0;
    std::printf("%-20s %8s %8s %s\n", "call", "calls", "failed", "last failure");
    for (int i = 0; i < operations; ++i) {
        calls += tallies[i].calls;
        failures += tallies[i].failures;
        std::printf("%-20s %8ld %8ld 0x%08lx\n", operationNames[i], tallies[i].calls.load(), tallies[i].failures.load(),
                    static_cast<unsigned long>(tallies[i].lastFailure.load()));
    }
    if (hung) {
        std::printf("result hung calls=%ld failed=%ld aborts=%d in:", calls, failures, aborts);
        for (int t = 0; t < threadCount; ++t)
            if (current[t] >= 0)
                std::printf(" %s(%.1fs)", operationNames[current[t].load()], now() - since[t]);
        std::printf("\n");
        std::fflush(stdout);
        if (waitOnHang) {
            std::printf("waiting for a debugger: process %lu\n", GetCurrentProcessId());
            std::fflush(stdout);
            Sleep(INFINITE);
        }
        // The graph cannot be stopped or released now.
        TerminateProcess(GetCurrentProcess(), 3);
    }
    for (std::thread& thread : threads)
        thread.join();
    aborts += graph.takeAborts(abortReason);
    std::printf("result %s calls=%ld failed=%ld aborts=%d abortReason=0x%08lx seconds=%.1f\n",
                failures || aborts ? "failed" : "ok", calls, failures, aborts, static_cast<unsigned long>(abortReason),
                now() - start);
    return failures || aborts ? 1 : 0;
}

// Milliseconds until `state` (a filter's or the graph's GetState with a
// time-out of 0) stops answering VFW_S_STATE_INTERMEDIATE, polled every
// millisecond; -1 past two seconds.
template <class GetState>
double intermediateMs(GetState state)
{
    const double begin = now();
    while (state() == VFW_S_STATE_INTERMEDIATE) {
        if (now() - begin > 2)
            return -1;
        Sleep(1);
    }
    return (now() - begin) * 1000;
}

int measure(bool ours, int rounds, unsigned seed)
{
    Files files;
    Graph graph(ours, files);
    const LONGLONG length = graph.duration();
    std::mt19937 random(seed);
    std::uniform_int_distribution<LONGLONG> positions(0, length - 1);
    COMPtr<IMediaFilter> renderer;
    renderer = graph.renderer.get();

    enum Kind { PauseFromStopped, PauseFromRunning, SeekPaused, SeekRunning, RunFromPaused, kinds };
    static constexpr const char* kindNames[kinds] = {"Pause from Stopped", "Pause from Running", "seek while paused",
                                                     "seek while running", "Run from paused"};
    std::array<std::vector<double>, kinds> call;
    std::array<std::vector<double>, kinds> rendererWindow;
    std::array<std::vector<double>, kinds> graphWindow;
    auto rendererState = [&] {
        FILTER_STATE state;
        return renderer->GetState(0, &state);
    };
    auto graphState = [&] {
        OAFilterState state;
        return graph.control->GetState(0, &state);
    };
    auto settle = [&] {
        intermediateMs(graphState);
        Sleep(50);
    };
    for (int round = 0; round < rounds; ++round) {
        const auto kind = static_cast<Kind>(random() % kinds);
        if (kind == PauseFromStopped)
            graph.control->Stop();
        else if (kind == PauseFromRunning || kind == SeekRunning)
            graph.control->Run();
        else
            graph.control->Pause();
        settle();
        LONGLONG position = positions(random);
        const double begin = now();
        if (kind == PauseFromStopped || kind == PauseFromRunning)
            graph.control->Pause();
        else if (kind == RunFromPaused)
            graph.control->Run();
        else
            graph.seeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
        call[kind].push_back((now() - begin) * 1000);
        rendererWindow[kind].push_back(intermediateMs(rendererState));
        graphWindow[kind].push_back(intermediateMs(graphState));
    }
    auto summary = [](std::vector<double> values) {
        char text[64];
        if (values.empty())
            return std::string("-");
        std::sort(values.begin(), values.end());
        std::snprintf(text, sizeof text, "%.1f / %.1f / %.1f", values[values.size() / 2],
                      values[values.size() * 9 / 10], values.back());
        return std::string(text);
    };
    std::printf("%s source, %d rounds; ms as median / 90th percentile / max (-1: over 2 s)\n", ours ? "our" : "Wine's",
                rounds);
    std::printf("%-20s %6s %24s %24s %24s\n", "after", "count", "the call", "renderer intermediate",
                "graph intermediate");
    for (int k = 0; k < kinds; ++k)
        std::printf("%-20s %6zu %24s %24s %24s\n", kindNames[k], call[k].size(), summary(call[k]).c_str(),
                    summary(rendererWindow[k]).c_str(), summary(graphWindow[k]).c_str());
    return 0;
}

[[noreturn]] void usage()
{
    std::fprintf(stderr, "usage: graphstorm storm --source ours|wine [--seconds N] [--seed N] [--load] "
                         "[--wait-on-hang]\n"
                         "       graphstorm measure --source ours|wine [--rounds N] [--seed N]\n");
    std::exit(2);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        usage();
    const std::string mode = argv[1];
    std::string source = "ours";
    double seconds = 60;
    unsigned seed = 1;
    int rounds = 200;
    bool withLoad = false;
    bool waitOnHang = false;
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--source" && hasValue)
            source = argv[++i];
        else if (option == "--seconds" && hasValue)
            seconds = std::atof(argv[++i]);
        else if (option == "--seed" && hasValue)
            seed = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        else if (option == "--rounds" && hasValue)
            rounds = std::atoi(argv[++i]);
        else if (option == "--load")
            withLoad = true;
        else if (option == "--wait-on-hang")
            waitOnHang = true;
        else
            usage();
    }
    if (source != "ours" && source != "wine")
        usage();
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const int status = mode == "storm"     ? storm(source == "ours", seconds, seed, withLoad, waitOnHang)
                       : mode == "measure" ? measure(source == "ours", rounds, seed)
                                           : (usage(), 2);
    std::fflush(stdout);
    // The graph's threads may still be winding down; nothing left to release.
    ExitProcess(static_cast<UINT>(status));
}
