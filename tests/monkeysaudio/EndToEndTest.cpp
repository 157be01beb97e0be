// The whole product under a player's load: the registered module's source,
// created by its class identifier and played through Wine's graph. Every
// file of the Wine corpus and every good real file plays bit-exactly, whole
// and after seeds of seeks; four threads of hostile calls on a playing graph
// neither hang nor crash it; damaged files are refused or end.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <shared_mutex>
#include <string>
#include <vector>

#include <dshow.h>
#include <gtest/gtest.h>
#include <qnetwork.h>

#include "CorpusPlan.h"
#include "monkeysaudio/SourceIdentifiers.h"
#include "support/COMPtr.h"
#include "tests/common/ConcurrentRun.h"
#include "tests/common/DamagedCopies.h"
#include "tests/common/Watchdog.h"
#include "tests/monkeysaudio/CaptureGraph.h"
#include "tests/monkeysaudio/RegisteredModule.h"

using oryx::COMPtr;
using namespace registered;
using namespace std::chrono_literals;

namespace {

constexpr std::int64_t unitsPerSecond = 10'000'000;
constexpr int seeksPerFile = 20;
constexpr auto stressDuration = 20s;
constexpr int stressThreads = 4;
// How long a storm thread waits for the graph to finish a state change
// before the test calls it hung.
constexpr auto settleLimit = 30s;

// What a file must decode to.
struct Truth {
    std::vector<std::uint8_t> pcm;
    std::uint32_t rate;       // blocks per second
    std::uint32_t blockAlign; // bytes per block
};

COMPtr<IBaseFilter> createSource()
{
    return COMPtr<IBaseFilter>(sourceClassId);
}

HRESULT load(IBaseFilter& source, const std::string& path)
{
    COMPtr<IFileSourceFilter> file;
    file = &source;
    return file->Load(wide(path).c_str(), nullptr);
}

// A reader-writer lock for the storm's threads. Not std::shared_mutex:
// MinGW's read-write lock sets itself up on first use, and of threads that
// first lock it at the same moment all but one get EINVAL, which the
// standard library ignores; they go on as if they held it.
class SlimLock {
public:
    void lock() { AcquireSRWLockExclusive(&slim); }
    void unlock() { ReleaseSRWLockExclusive(&slim); }
    void lock_shared() { AcquireSRWLockShared(&slim); }
    void unlock_shared() { ReleaseSRWLockShared(&slim); }

private:
    SRWLOCK slim = SRWLOCK_INIT;
};

// Waits until no filter of the graph is cueing and no asynchronous Run is
// pending; false when that does not happen within the limit.
bool settle(IMediaControl& control)
{
    const auto limit = std::chrono::steady_clock::now() + settleLimit;
    OAFilterState state;
    while (control.GetState(100, &state) == VFW_S_STATE_INTERMEDIATE)
        if (std::chrono::steady_clock::now() >= limit)
            return false;
    return true;
}

COMPtr<IPin> outputPin(IBaseFilter& source)
{
    COMPtr<IPin> pin;
    source.FindPin(L"PCM Output", pin.receive());
    return pin;
}

// Plays the loaded `source` whole, then from `seeksPerFile` positions drawn
// from `random`: each time the capture must be the truth from the block of
// the position (truncated) to the end.
void expectExactPlaybackAndSeeks(IBaseFilter& source, const Truth& truth, std::mt19937& random)
{
    CaptureGraph capture(&source);
    ASSERT_TRUE(capture.connected);
    ASSERT_EQ(capture.play(), EC_COMPLETE);
    EXPECT_TRUE(capture.bytes() == truth.pcm) << "the whole file";
    const std::int64_t blocks = static_cast<std::int64_t>(truth.pcm.size() / truth.blockAlign);
    std::uniform_int_distribution<LONGLONG> positions(0, blocks * unitsPerSecond / truth.rate);
    for (int i = 0; i < seeksPerFile; ++i) {
        const LONGLONG target = positions(random);
        const std::int64_t block = target * truth.rate / unitsPerSecond;
        ASSERT_EQ(capture.seekTo(target), S_OK);
        ASSERT_EQ(capture.play(), EC_COMPLETE) << "after a seek to " << target;
        const std::vector<std::uint8_t> got = capture.bytes();
        const auto from = truth.pcm.begin() + static_cast<std::ptrdiff_t>(block * truth.blockAlign);
        EXPECT_TRUE(got.size() == static_cast<std::size_t>(truth.pcm.end() - from) &&
                    std::equal(got.begin(), got.end(), from))
            << "after a seek to " << target << " (block " << block << " of " << blocks << "), " << got.size()
            << " bytes";
    }
}

class EndToEnd : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_EQ(registerModule(), 0u);
        CreateDirectoryA(modulePath("endtoend").c_str(), nullptr);
    }
    static std::string path(const std::string& name) { return modulePath("endtoend\\" + name); }

    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }
    void TearDown() override
    {
        EXPECT_EQ(moduleCanUnloadNow(), S_OK) << "an object of the module was left alive";
        CoUninitialize();
    }

    // The Wine subset of the corpus, as apecorpus --small writes it.
    static std::vector<ape::CorpusItem> corpus() { return ape::CorpusPlan::build(true); }
    // Encodes the corpus item at `index`, writes it and returns its truth.
    static Truth writeCorpusFile(std::size_t index, const std::string& name)
    {
        const ape::CorpusItem item = corpus().at(index);
        ape::EncodedItem encoded = ape::CorpusPlan::encode(item, index);
        writeFile(path(name), encoded.file);
        return {std::move(encoded.pcm), item.format.sampleRate, item.format.blockAlign()};
    }
    // The index of the first corpus item that `wanted` accepts.
    template <class Predicate>
    static std::size_t findCorpusItem(Predicate wanted)
    {
        const std::vector<ape::CorpusItem> items = corpus();
        return static_cast<std::size_t>(std::find_if(items.begin(), items.end(), wanted) - items.begin());
    }
};

TEST_F(EndToEnd, EveryCorpusFilePlaysBitExactlyWholeAndAfterTwentySeeks)
{
    Watchdog watchdog{1'200'000};
    const std::vector<ape::CorpusItem> items = corpus();
    ASSERT_GE(items.size(), 40u);
    std::mt19937 random(1414);
    for (std::size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(items[i].name);
        const Truth truth = writeCorpusFile(i, "corpus.ape");
        COMPtr<IBaseFilter> source = createSource();
        ASSERT_EQ(load(*source, path("corpus.ape")), S_OK);
        expectExactPlaybackAndSeeks(*source, truth, random);
    }
}

TEST_F(EndToEnd, EveryGoodRealFilePlaysLikeFfmpegWholeAndAfterTwentySeeks)
{
    Watchdog watchdog{900'000};
    const std::vector<RealFile> files = goodRealFiles();
    EXPECT_GE(files.size(), 9u) << "the real samples are missing";
    std::mt19937 random(2718);
    for (const RealFile& file : files) {
        SCOPED_TRACE(file.name);
        COMPtr<IBaseFilter> source = createSource();
        ASSERT_EQ(load(*source, realSample(file.name)), S_OK);
        // ffmpeg's md5 proves the whole capture, which is then the truth
        // for the slices after seeks.
        Truth truth{{}, file.rate, file.blockAlign};
        {
            CaptureGraph capture(source.get());
            ASSERT_TRUE(capture.connected);
            ASSERT_EQ(capture.play(), EC_COMPLETE);
            truth.pcm = capture.bytes();
        }
        ASSERT_EQ(md5(truth.pcm), file.md5);
        expectExactPlaybackAndSeeks(*source, truth, random);
    }
}

// Hostile call orders from four threads for a fixed time on a playing
// graph: the graph's own control and seeking, and the pin's seeks, Load,
// tags and positions on our filter, all racing each other and the graph's
// threads. Every seek target lies inside both files, so no call has a
// reason to fail and no stream a reason to abort.
//
// One pair is kept apart: a seek on Wine's graph never meets a state change
// of it that is still under way. A Run from paused, and the Run with which a
// seek while running ends, return at once and leave an asynchronous Run
// queued until the renderer has cued. A SetPositions meanwhile, holding the
// graph's lock, pauses and waits for that Run, which needs the lock: the
// graph deadlocks, with Wine's own File Source and WAVE Parser in our place
// too (tools/soak.sh compares the two). So a thread that changes the state
// or seeks the graph waits for the graph to settle before it lets a seek in.
TEST_F(EndToEnd, APlayingGraphSurvivesFourThreadsOfSeeksStateChangesLoadsAndQueries)
{
    Watchdog watchdog{static_cast<DWORD>(std::chrono::milliseconds(stressDuration + 4 * settleLimit + 60s).count())};
    // The two longest 16-bit stereo files at 44100 of the corpus: one format,
    // so a new Load keeps the connection's media type true.
    const std::vector<ape::CorpusItem> items = corpus();
    std::vector<std::size_t> candidates;
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i].format.channels == 2 && items[i].format.bitsPerSample == 16 && items[i].format.sampleRate == 44100)
            candidates.push_back(i);
    ASSERT_GE(candidates.size(), 2u);
    std::sort(candidates.begin(), candidates.end(),
              [&](std::size_t a, std::size_t b) { return items[a].blocks > items[b].blocks; });
    const std::array<std::string, 2> files = {path("stress-long.ape"), path("stress-short.ape")};
    writeCorpusFile(candidates[0], "stress-long.ape");
    writeCorpusFile(candidates[1], "stress-short.ape");
    const LONGLONG shortest = static_cast<LONGLONG>(items[candidates[1]].blocks) * unitsPerSecond / 44100;

    COMPtr<IBaseFilter> source = createSource();
    ASSERT_EQ(load(*source, files[0]), S_OK);
    {
        CaptureGraph capture(source.get());
        ASSERT_TRUE(capture.connected);
        capture.keepBytes = false;
        COMPtr<IMediaSeeking> pinSeeking;
        ASSERT_EQ(outputPin(*source)->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(pinSeeking.receive())),
                  S_OK);
        COMPtr<IAMMediaContent> content;
        content = source.get();
        COMPtr<IFileSourceFilter> file;
        file = source.get();

        enum Operation {
            GraphSeek,
            PinSeek,
            Pause,
            Run,
            Stop,
            Load,
            TagRead,
            GraphPositionQuery,
            PinPositionQuery,
            EventRead,
            operationCount
        };
        static constexpr const char* operationNames[operationCount] = {
            "graph seek", "pin seek", "pause",          "run",          "stop",
            "load",       "tag read", "graph position", "pin position", "event read"};
        std::array<std::atomic<long>, operationCount> calls{};
        std::array<std::atomic<long>, operationCount> failures{};
        std::array<std::atomic<HRESULT>, operationCount> lastFailure{};
        std::atomic<long> aborts{0};
        std::atomic<long> unsettled{0};
        SlimLock graphSeekOrStateChange;
        std::atomic<unsigned> seeds{0};
        // What each thread is doing and since when, to name the call that
        // hangs.
        std::array<std::atomic<int>, stressThreads> current;
        std::array<std::atomic<std::chrono::steady_clock::time_point>, stressThreads> since;
        for (std::atomic<int>& operation : current)
            operation = operationCount;
        ASSERT_HRESULT_SUCCEEDED(capture.control->Run());
        const auto started = std::chrono::steady_clock::now();
        const auto deadline = started + stressDuration;

        const bool finished = runConcurrently(
            stressThreads,
            [&] {
                CoInitializeEx(nullptr, COINIT_MULTITHREADED);
                const unsigned thread = seeds++;
                std::mt19937 random(thread + 1);
                std::uniform_int_distribution<LONGLONG> positions(0, shortest);
                while (std::chrono::steady_clock::now() < deadline) {
                    const auto operation = static_cast<Operation>(random() % operationCount);
                    std::shared_lock stateChange(graphSeekOrStateChange, std::defer_lock);
                    std::unique_lock seek(graphSeekOrStateChange, std::defer_lock);
                    if (operation == Pause || operation == Run || operation == Stop)
                        stateChange.lock();
                    else if (operation == GraphSeek)
                        seek.lock();
                    since[thread] = std::chrono::steady_clock::now();
                    current[thread] = operation;
                    HRESULT hr = S_OK;
                    LONGLONG position = positions(random);
                    LONGLONG stop = 0;
                    switch (operation) {
                    case GraphSeek:
                        hr = capture.seeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr,
                                                           AM_SEEKING_NoPositioning);
                        break;
                    case PinSeek:
                        hr = pinSeeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr,
                                                      AM_SEEKING_NoPositioning);
                        break;
                    case Pause:
                        hr = capture.control->Pause();
                        break;
                    case Run:
                        hr = capture.control->Run();
                        break;
                    case Stop:
                        hr = capture.control->Stop();
                        break;
                    case Load:
                        hr = file->Load(wide(files[random() % 2]).c_str(), nullptr);
                        break;
                    case TagRead: {
                        BSTR text = nullptr;
                        hr = random() % 2 ? content->get_Title(&text) : content->get_AuthorName(&text);
                        SysFreeString(text);
                        break;
                    }
                    case GraphPositionQuery:
                        hr = capture.seeking->GetDuration(&stop);
                        if (SUCCEEDED(hr))
                            hr = capture.seeking->GetCurrentPosition(&position);
                        break;
                    case PinPositionQuery:
                        hr = pinSeeking->GetPositions(&position, &stop);
                        if (SUCCEEDED(hr))
                            hr = pinSeeking->GetDuration(&stop);
                        break;
                    case EventRead: {
                        long code;
                        LONG_PTR first;
                        LONG_PTR second;
                        while (capture.events->GetEvent(&code, &first, &second, 0) == S_OK) {
                            if (code == EC_ERRORABORT) {
                                ++aborts;
                                lastFailure[EventRead] = static_cast<HRESULT>(first);
                            }
                            capture.events->FreeEventParams(code, first, second);
                        }
                        break;
                    }
                    default:
                        break;
                    }
                    if ((stateChange.owns_lock() || seek.owns_lock()) && !settle(*capture.control))
                        ++unsettled;
                    current[thread] = operationCount;
                    ++calls[operation];
                    if (FAILED(hr)) {
                        ++failures[operation];
                        lastFailure[operation] = hr;
                    }
                }
                CoUninitialize();
            },
            stressDuration + 2 * settleLimit + 30s);
        if (!finished) {
            const auto now = std::chrono::steady_clock::now();
            for (int thread = 0; thread < stressThreads; ++thread) {
                const int operation = current[thread];
                const std::chrono::duration<double> inside = now - since[thread].load();
                if (operation < operationCount)
                    ADD_FAILURE() << "thread " << thread << " hung in a " << operationNames[operation] << " for "
                                  << inside.count() << " s";
            }
            std::fflush(stdout);
            FAIL();
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

        long total = 0;
        std::printf("Stress: %d threads for %.1f s\n", stressThreads, seconds);
        for (int i = 0; i < operationCount; ++i) {
            total += calls[i];
            std::printf("  %-15s %7ld calls, %ld failed (last 0x%08lx)\n", operationNames[i], calls[i].load(),
                        failures[i].load(), static_cast<unsigned long>(lastFailure[i].load()));
            EXPECT_EQ(failures[i].load(), 0) << operationNames[i];
        }
        std::printf("  %ld calls in all, %ld stream aborts, %zu samples captured\n", total, aborts.load(),
                    capture.samples().size());
        EXPECT_EQ(aborts.load(), 0);
        EXPECT_EQ(unsettled.load(), 0) << "times the graph did not settle after a state change or seek";

        // Segments restart media times at 0, and only they do.
        const std::vector<CapturedSample> samples = capture.samples();
        long misflagged = 0;
        for (const CapturedSample& sample : samples)
            misflagged += (sample.mediaStart == 0) != sample.discontinuity;
        EXPECT_EQ(misflagged, 0) << "of " << samples.size() << " samples";
        EXPECT_GT(samples.size(), 100u);

        // The survivor still plays to its end.
        ASSERT_EQ(capture.control->Stop(), S_OK);
        ASSERT_EQ(file->Load(wide(files[0]).c_str(), nullptr), S_OK);
        ASSERT_EQ(capture.seekTo(shortest), S_OK);
        ASSERT_EQ(capture.play(), EC_COMPLETE);
        const std::vector<CapturedSample> last = capture.samples();
        ASSERT_FALSE(last.empty());
        EXPECT_TRUE(last[0].discontinuity);
        EXPECT_EQ(last[0].mediaStart, 0);
        EXPECT_EQ(last.back().mediaStop,
                  static_cast<std::int64_t>(items[candidates[0]].blocks) - shortest * 44100 / unitsPerSecond);
    }
    source.release();
    EXPECT_EQ(moduleCanUnloadNow(), S_OK) << "the graph's release left an object of the module alive";
}

// Truncations at each part of a file and seeded byte flips: Load refuses
// the file, or the graph plays it (and a seek into it) to an end, never
// hanging past the bound.
TEST_F(EndToEnd, DamagedFilesFailToLoadOrPlayToAnEndWithinABound)
{
    Watchdog watchdog{900'000};
    constexpr DWORD playBound = 60'000;
    // A generated file of several short frames, one of the usual frame size,
    // and a real tagged file.
    const std::size_t shortFrames = findCorpusItem([](const ape::CorpusItem& item) {
        return item.options.version == 3990 && item.blocks > 3 * 4096 && item.wrapping == ape::Wrapping::none &&
               item.format.channels == 2;
    });
    const std::size_t usualFrames = findCorpusItem([](const ape::CorpusItem& item) { return item.blocks > 73728; });
    writeCorpusFile(shortFrames, "good-short-frames.ape");
    writeCorpusFile(usualFrames, "good-usual-frames.ape");
    std::vector<std::vector<std::uint8_t>> goods = {readFile(path("good-short-frames.ape")),
                                                    readFile(path("good-usual-frames.ape")),
                                                    readFile(realSample("taglib-mac-399-tagged.ape"))};

    std::vector<std::vector<std::uint8_t>> damaged;
    std::mt19937 random(31337);
    for (const std::vector<std::uint8_t>& good : goods) {
        DamagedCopies copies(good, 12, random);
        damaged.insert(damaged.end(), copies.cut.begin(), copies.cut.end());
        damaged.insert(damaged.end(), copies.flipped.begin(), copies.flipped.end());
    }

    int refused = 0;
    int completed = 0;
    int aborted = 0;
    for (std::size_t i = 0; i < damaged.size(); ++i) {
        SCOPED_TRACE("damaged file " + std::to_string(i));
        const std::string name = path("damaged-" + std::to_string(i) + ".ape");
        writeFile(name, damaged[i]);
        COMPtr<IBaseFilter> source = createSource();
        if (FAILED(load(*source, name))) {
            ++refused;
            continue;
        }
        CaptureGraph capture(source.get());
        if (!capture.connected) {
            ++refused;
            continue;
        }
        for (const bool seek : {false, true}) {
            LONGLONG duration = 0;
            if (seek) {
                ASSERT_EQ(capture.seeking->GetDuration(&duration), S_OK);
                ASSERT_EQ(capture.seekTo(duration / 2), S_OK);
            }
            const long end = capture.play(playBound);
            EXPECT_TRUE(end == EC_COMPLETE || end == EC_ERRORABORT) << (seek ? "after a seek" : "from the start");
            completed += end == EC_COMPLETE;
            aborted += end == EC_ERRORABORT;
            if (end == EC_ERRORABORT) {
                EXPECT_TRUE(FAILED(capture.abortResult));
            }
        }
    }
    std::printf("Damaged files: %zu, %d refused, %d plays completed, %d ended with an error\n", damaged.size(), refused,
                completed, aborted);
    EXPECT_GT(refused, 0);
    EXPECT_GT(aborted, 0);
}

} // namespace
