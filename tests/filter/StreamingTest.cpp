// The streaming engine and its seeking: the exact sequences a downstream
// pin sees (recorded by a pin of our own), playback through Wine's graph and
// DirectSound renderer, and a storm of state changes and seeks from several
// threads. Every wait is bounded.
#include <array>
#include <atomic>
#include <chrono>
#include <limits>
#include <random>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "com/IUnknownImpl.h"
#include "support/COMPtr.h"
#include "tests/common/ConcurrentRun.h"
#include "tests/common/GraphInterfaces.h"
#include "tests/common/Watchdog.h"
#include "tests/filter/CounterSource.h"
#include "tests/filter/RecordingInputPin.h"

using oryx::COMPtr;
using namespace std::chrono_literals;

namespace {

constexpr REFERENCE_TIME duration = 10000 * 10'000'000LL / CounterSource::rate;

class Streaming : public testing::Test {
protected:
    const LONG objectsBefore = oryx::objectCount;
    Watchdog watchdog{120'000};
    CounterSource* source = new CounterSource;
    COMPtr<IBaseFilter> filter{source};
    RecordingInputPin peer;

    void SetUp() override
    {
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        source->load();
        ASSERT_EQ(source->outputPinInterface()->Connect(&peer, nullptr), S_OK);
    }
    void TearDown() override
    {
        EXPECT_EQ(filter->Stop(), S_OK);
        EXPECT_FALSE(source->isRunning()) << "the worker outlived Stop";
        source->outputPinInterface()->Disconnect();
        filter.release();
        EXPECT_EQ(oryx::objectCount, objectsBefore) << "an object was left alive";
        CoUninitialize();
    }

    // The deliveries from the last NewSegment on, flushed samples left out.
    std::vector<Delivery> lastSegment()
    {
        std::vector<Delivery> all = peer.deliveries();
        std::vector<Delivery> tail;
        for (const Delivery& d : all) {
            if (d.kind == Delivery::NewSegment)
                tail.clear();
            if (!(d.kind == Delivery::Sample && d.duringFlush))
                tail.push_back(d);
        }
        return tail;
    }
};

// One segment: NewSegment(start, duration), then samples with continuous
// counter values and media times from 0, the first one a discontinuity.
void expectSegment(const std::vector<Delivery>& segment, std::int64_t firstSample)
{
    ASSERT_FALSE(segment.empty());
    EXPECT_EQ(segment[0].kind, Delivery::NewSegment);
    EXPECT_EQ(segment[0].start, firstSample * 10'000'000 / CounterSource::rate);
    EXPECT_EQ(segment[0].stop, duration);
    std::int64_t expected = 0;
    for (std::size_t i = 1; i < segment.size(); ++i) {
        if (segment[i].kind != Delivery::Sample)
            continue;
        EXPECT_EQ(segment[i].discontinuity, expected == 0) << "sample " << i;
        EXPECT_EQ(segment[i].start, expected);
        EXPECT_EQ(segment[i].firstValue, static_cast<std::uint16_t>(firstSample + expected));
        expected = segment[i].stop;
    }
}

TEST_F(Streaming, PauseStreamsOneSegmentToTheEndAndStopEndsItOnceMore)
{
    ASSERT_EQ(filter->Pause(), S_OK);
    ASSERT_TRUE(peer.waitFor(Delivery::EndOfStream, 1));
    const std::vector<Delivery> segment = lastSegment();
    expectSegment(segment, 0);
    EXPECT_EQ(peer.count(Delivery::Sample), 20) << "10000 samples in buffers of 500";
    EXPECT_EQ(segment.back().kind, Delivery::EndOfStream);
    EXPECT_EQ(peer.segmentRate, 1.0);
    EXPECT_EQ(filter->Run(0), S_OK);
    EXPECT_EQ(filter->Stop(), S_OK);
    EXPECT_EQ(peer.count(Delivery::EndOfStream), 2);
    EXPECT_EQ(peer.deliveries().end()[-3].kind, Delivery::BeginFlush);
    EXPECT_EQ(peer.deliveries().end()[-2].kind, Delivery::EndOfStream) << "the last one before the flush ends";
    EXPECT_EQ(peer.deliveries().end()[-1].kind, Delivery::EndFlush);

    // A new worker starts from the beginning unless a seek was stored.
    peer.clear();
    LONGLONG target = 4000;
    ASSERT_EQ(source->seeking()->SetTimeFormat(&TIME_FORMAT_SAMPLE), S_OK);
    ASSERT_EQ(source->seeking()->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    ASSERT_EQ(filter->Pause(), S_OK);
    ASSERT_TRUE(peer.waitFor(Delivery::EndOfStream, 1));
    expectSegment(lastSegment(), 4000);
    EXPECT_EQ(source->threadStarts, 2);
}

TEST_F(Streaming, ASeekFlushesThenStartsASegmentAtTheTarget)
{
    peer.allow(3);
    ASSERT_EQ(filter->Run(0), S_OK);
    ASSERT_TRUE(peer.waitFor(Delivery::Sample, 3));
    IMediaSeeking* const seeking = source->seeking();
    LONGLONG position = 0;
    LONGLONG stop = 0;
    EXPECT_EQ(seeking->GetPositions(&position, &stop), S_OK);
    EXPECT_EQ(stop, duration);

    LONGLONG target = 5000 * 10'000'000LL / CounterSource::rate;
    ASSERT_EQ(seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning | AM_SEEKING_ReturnTime, &stop,
                                    AM_SEEKING_NoPositioning),
              S_OK);
    peer.openGate();
    ASSERT_TRUE(peer.waitFor(Delivery::EndOfStream, 1));
    const std::vector<Delivery> all = peer.deliveries();
    auto flush = std::find_if(all.begin(), all.end(), [](const Delivery& d) { return d.kind == Delivery::BeginFlush; });
    ASSERT_NE(flush, all.end());
    auto next = std::find_if(flush + 1, all.end(), [](const Delivery& d) { return d.kind != Delivery::Sample; });
    ASSERT_NE(next, all.end());
    EXPECT_EQ(next->kind, Delivery::EndFlush);
    expectSegment(lastSegment(), 5000);
    EXPECT_EQ(lastSegment()[1].start, 0) << "media times restart with the segment";

    // A relative move before the start is refused, but the worker still
    // restarts; the stop position cannot be set.
    peer.clear();
    LONGLONG back = -2 * duration;
    // Each restart is let reach its end of stream before the next call:
    // a call that holds the worker first would take that end away.
    EXPECT_EQ(seeking->SetPositions(&back, AM_SEEKING_RelativePositioning, nullptr, 0), E_INVALIDARG);
    ASSERT_TRUE(peer.waitFor(Delivery::EndOfStream, 1));
    EXPECT_EQ(seeking->SetPositions(nullptr, 0, &stop, AM_SEEKING_AbsolutePositioning), E_FAIL);
    EXPECT_EQ(seeking->SetPositions(&back, AM_SEEKING_IncrementalPositioning, nullptr, 0), E_INVALIDARG);
    ASSERT_TRUE(peer.waitFor(Delivery::EndOfStream, 2));
    EXPECT_EQ(seeking->SetPositions(nullptr, AM_SEEKING_AbsolutePositioning, nullptr, 0), E_POINTER);
    EXPECT_EQ(peer.count(Delivery::BeginFlush), 2) << "refused stop flags flush nothing";
    // A seek after the end of stream plays again from the target.
    LONGLONG sample = 9500;
    ASSERT_EQ(seeking->SetTimeFormat(&TIME_FORMAT_SAMPLE), S_OK);
    ASSERT_EQ(seeking->SetPositions(&sample, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    ASSERT_TRUE(peer.waitFor(Delivery::EndOfStream, 3));
    expectSegment(lastSegment(), 9500);
}

TEST_F(Streaming, SeekingAnswersInEveryTimeFormat)
{
    IMediaSeeking* const seeking = source->seeking();
    COMPtr<IMediaSeeking> throughPin;
    ASSERT_EQ(
        source->outputPinInterface()->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(throughPin.receive())),
        S_OK);
    EXPECT_EQ(throughPin.get(), seeking);
    DWORD capabilities = 0;
    EXPECT_EQ(seeking->GetCapabilities(&capabilities), S_OK);
    EXPECT_EQ(capabilities, 0x2Fu);
    DWORD wanted = AM_SEEKING_CanGetStopPos;
    EXPECT_EQ(seeking->CheckCapabilities(&wanted), S_FALSE);
    wanted = AM_SEEKING_CanSeekAbsolute;
    EXPECT_EQ(seeking->CheckCapabilities(&wanted), S_OK);
    EXPECT_EQ(seeking->IsFormatSupported(&TIME_FORMAT_MEDIA_TIME), S_OK);
    EXPECT_EQ(seeking->IsFormatSupported(&TIME_FORMAT_SAMPLE), S_OK);
    EXPECT_EQ(seeking->IsFormatSupported(&TIME_FORMAT_BYTE), S_FALSE);
    EXPECT_EQ(seeking->SetTimeFormat(&TIME_FORMAT_BYTE), E_INVALIDARG);
    EXPECT_EQ(seeking->SetTimeFormat(&TIME_FORMAT_FIELD), E_INVALIDARG);
    GUID format;
    EXPECT_EQ(seeking->QueryPreferredFormat(&format), S_OK);
    EXPECT_TRUE(IsEqualGUID(format, TIME_FORMAT_MEDIA_TIME));
    LONGLONG value = 0;
    EXPECT_EQ(seeking->GetDuration(&value), S_OK);
    EXPECT_EQ(value, duration);
    ASSERT_EQ(seeking->SetTimeFormat(&TIME_FORMAT_SAMPLE), S_OK);
    EXPECT_EQ(seeking->IsUsingTimeFormat(&TIME_FORMAT_SAMPLE), S_OK);
    EXPECT_EQ(seeking->GetStopPosition(&value), S_OK);
    EXPECT_EQ(value, 10000);
    EXPECT_EQ(seeking->GetCurrentPosition(&value), S_OK);
    EXPECT_EQ(value, 0);
    LONGLONG earliest = 1;
    EXPECT_EQ(seeking->GetAvailable(&earliest, &value), S_OK);
    EXPECT_EQ(earliest, 0);
    EXPECT_EQ(seeking->GetAvailable(nullptr, nullptr), S_OK);
    double rate = 0;
    EXPECT_EQ(seeking->GetRate(&rate), S_OK);
    EXPECT_EQ(rate, 1.0);
    EXPECT_EQ(seeking->SetRate(2.0), E_NOTIMPL);
    EXPECT_EQ(seeking->GetPreroll(&value), S_OK);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(seeking->ConvertTimeFormat(&value, nullptr, 0, nullptr), E_NOTIMPL);
    source->load();
    EXPECT_EQ(seeking->IsUsingTimeFormat(&TIME_FORMAT_MEDIA_TIME), S_OK) << "a new input resets the format";

    // A query that meets a new input being opened waits for it, rather than
    // finding no input.
    std::atomic<bool> opening{false};
    std::thread loader([&] { source->reload(200ms, opening); });
    while (!opening)
        std::this_thread::yield();
    EXPECT_EQ(seeking->GetDuration(&value), S_OK);
    EXPECT_EQ(value, duration);
    EXPECT_EQ(seeking->GetCurrentPosition(&value), S_OK);
    loader.join();
    // So does a renderer's query of the pin, which is how Wine's graph finds
    // the seeking: a gap would make its GetDuration answer E_NOTIMPL.
    opening = false;
    loader = std::thread([&] { source->reload(200ms, opening); });
    while (!opening)
        std::this_thread::yield();
    COMPtr<IMediaSeeking> passedUpstream;
    EXPECT_EQ(source->outputPinInterface()->QueryInterface(IID_IMediaSeeking,
                                                           reinterpret_cast<void**>(passedUpstream.receive())),
              S_OK);
    loader.join();

    // The farthest move back is refused, not negated into an overflow.
    value = std::numeric_limits<LONGLONG>::min();
    EXPECT_EQ(seeking->SetPositions(&value, AM_SEEKING_RelativePositioning, nullptr, 0), E_INVALIDARG);
}

TEST_F(Streaming, StopReleasesAWorkerHeldInReceiveAndEndsIt)
{
    peer.shutGate();
    ASSERT_EQ(filter->Pause(), S_OK);
    std::this_thread::sleep_for(100ms);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(filter->Stop(), S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
    EXPECT_FALSE(source->isRunning());

    // A seek whose flush is refused fails without waiting for the worker, so
    // the Stop after it still frees the worker; so does a Stop after one
    // refused Stop.
    ASSERT_EQ(filter->Pause(), S_OK);
    std::this_thread::sleep_for(100ms);
    peer.refuseFlush = true;
    LONGLONG position = 5000;
    HRESULT seek = S_OK;
    HRESULT refusedStop = S_OK;
    ASSERT_TRUE(runConcurrently(
        1,
        [&] {
            seek = source->seeking()->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr, 0);
            refusedStop = filter->Stop();
        },
        5s))
        << "a seek or a Stop waited for a worker held in Receive";
    EXPECT_TRUE(FAILED(seek));
    EXPECT_TRUE(FAILED(refusedStop));
    EXPECT_TRUE(source->isRunning());
    peer.refuseFlush = false;
    EXPECT_EQ(filter->Stop(), S_OK);
    EXPECT_FALSE(source->isRunning());
}

TEST_F(Streaming, AHeldWorkerDecodesNothingForTheFlushAndWaitsOutADecommittedAllocator)
{
    // A seek releases the worker from Receive with its flush: it stops there
    // and takes the hold, instead of filling more samples only to have them
    // dropped.
    peer.allow(3);
    ASSERT_EQ(filter->Run(0), S_OK);
    ASSERT_TRUE(peer.waitFor(Delivery::Sample, 3));
    std::this_thread::sleep_for(50ms); // the fourth one now waits in Receive
    peer.beginFlushDelay = 50ms;
    LONGLONG target = 5000 * 10'000'000LL / CounterSource::rate;
    ASSERT_EQ(source->seeking()->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    const std::vector<Delivery> all = peer.deliveries();
    EXPECT_LE(std::count_if(all.begin(), all.end(), [](const Delivery& d) { return d.duringFlush; }), 1)
        << "only the sample that waited in Receive may meet the flush";
    ASSERT_EQ(filter->Stop(), S_OK);
    peer.beginFlushDelay = 0ms;

    // Downstream's own allocator, decommitted by downstream while the worker
    // streams (as a renderer that stops before us does): the worker waits
    // without losing a sample and plays on once it is committed again.
    source->outputPinInterface()->Disconnect();
    peer.Disconnect();
    COMPtr<IMemAllocator> allocator(CLSID_MemoryAllocator);
    peer.ownAllocator = allocator.get();
    ASSERT_EQ(source->outputPinInterface()->Connect(&peer, nullptr), S_OK);
    peer.clear();
    peer.allow(2);
    ASSERT_EQ(filter->Pause(), S_OK);
    ASSERT_TRUE(peer.waitFor(Delivery::Sample, 2));
    std::this_thread::sleep_for(50ms); // the third one now waits in Receive
    ASSERT_EQ(allocator->Decommit(), S_OK);
    peer.openGate();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(peer.count(Delivery::Sample), 3) << "a sample came from a decommitted allocator";
    EXPECT_EQ(peer.count(Delivery::EndOfStream), 0) << "the worker gave up";
    ASSERT_EQ(allocator->Commit(), S_OK);
    ASSERT_TRUE(peer.waitFor(Delivery::EndOfStream, 1, 2s)) << "the worker did not resume";
    expectSegment(lastSegment(), 0);
    EXPECT_EQ(peer.count(Delivery::Sample), 20);

    // Decommitted again and left so: Stop still ends the waiting worker.
    ASSERT_EQ(allocator->Decommit(), S_OK);
    ASSERT_EQ(source->seeking()->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(peer.count(Delivery::Sample), 20);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(filter->Stop(), S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    EXPECT_FALSE(source->isRunning());
    source->outputPinInterface()->Disconnect();
    peer.Disconnect();
    peer.ownAllocator = nullptr;
}

TEST_F(Streaming, NoWorkerStartsWhileASeekOrANewInputHoldsTheStream)
{
    // Held while stopped, as SetPositions or a new input holds it, with the
    // peer blocking Receive as a paused renderer does. A worker started now
    // would be blocked in Receive when unlock() signals it; unlock() would
    // never return (and the watchdog would end the test).
    peer.shutGate();
    source->lock();
    std::atomic<bool> paused{false};
    std::thread starter([&] {
        EXPECT_EQ(filter->Pause(), S_OK);
        paused = true;
    });
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(paused) << "the start went ahead while the stream was held";
    EXPECT_FALSE(source->isRunning());
    source->unlock();
    starter.join();
    EXPECT_TRUE(paused);
    EXPECT_TRUE(source->isRunning());
}

// Two threads each make one of Stop, Pause, Run, a seek and a new input at
// once, from every state, while the peer holds the worker in Receive as a
// paused renderer does. Each pair must end (the bound catches a deadlock),
// succeed, and leave no worker behind a Stop. A stopped filter's new input
// sends nothing downstream.
TEST_F(Streaming, EveryPairOfControlCallsEndsWhileAPausedPeerHoldsTheWorker)
{
    enum Call { Stop, Pause, Run, Seek, Load, callCount };
    static constexpr const char* names[callCount] = {"Stop", "Pause", "Run", "a seek", "a new input"};
    peer.shutGate();
    source->load();
    EXPECT_EQ(peer.count(Delivery::BeginFlush), 0) << "a stopped filter's new input flushed downstream";
    // A flush that takes a while, so that the two calls' flushes overlap.
    peer.beginFlushDelay = 5ms;
    std::mt19937 random(11);
    auto make = [&](int call) {
        LONGLONG position = std::uniform_int_distribution<LONGLONG>(0, duration)(random);
        switch (call) {
        case Stop:
            return filter->Stop();
        case Pause:
            return filter->Pause();
        case Run:
            return filter->Run(0);
        case Seek:
            return source->seeking()->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr, 0);
        default:
            source->load();
            return S_OK;
        }
    };
    for (int first = 0; first < callCount; ++first)
        for (int second = first; second < callCount; ++second)
            for (int round = 0; round < 9; ++round) {
                SCOPED_TRACE(std::string(names[first]) + " with " + names[second]);
                ASSERT_EQ(make(round % 3), S_OK) << "the starting state";
                std::this_thread::sleep_for(std::chrono::milliseconds(round % 4));
                std::array<std::atomic<HRESULT>, 2> results{E_PENDING, E_PENDING};
                std::atomic<int> next{0};
                const bool finished = runConcurrently(
                    2,
                    [&] {
                        const int mine = next++;
                        if (mine == 1)
                            std::this_thread::sleep_for(std::chrono::milliseconds(round % 3));
                        results[mine] = make(mine == 0 ? first : second);
                    },
                    10s);
                ASSERT_TRUE(finished) << "deadlock";
                EXPECT_EQ(results[0], S_OK);
                EXPECT_EQ(results[1], S_OK);
                FILTER_STATE state;
                ASSERT_EQ(filter->GetState(0, &state), S_OK);
                EXPECT_EQ(source->isRunning(), state != State_Stopped);
            }
    // Still plays to its end.
    ASSERT_EQ(filter->Stop(), S_OK);
    peer.beginFlushDelay = 0ms;
    peer.openGate();
    peer.clear();
    LONGLONG start = 0;
    ASSERT_EQ(source->seeking()->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    ASSERT_EQ(filter->Pause(), S_OK);
    ASSERT_TRUE(peer.waitFor(Delivery::EndOfStream, 1));
    expectSegment(lastSegment(), 0);
}

TEST_F(Streaming, FailuresEndTheStreamAndALaterSeekPlaysOn)
{
    source->failSeeks = true;
    LONGLONG target = 100;
    ASSERT_EQ(source->seeking()->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    ASSERT_EQ(filter->Pause(), S_OK);
    ASSERT_TRUE(peer.waitFor(Delivery::EndOfStream, 1)) << "a failed seek ends the stream";
    EXPECT_EQ(peer.count(Delivery::Sample), 0);
    source->failSeeks = false;

    source->failFillAt = 2000;
    ASSERT_EQ(source->seeking()->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    ASSERT_TRUE(peer.waitFor(Delivery::EndOfStream, 2)) << "a failed read ends the stream too";
    source->failFillAt = -1;
    ASSERT_EQ(source->seeking()->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    ASSERT_TRUE(peer.waitFor(Delivery::EndOfStream, 3));
    expectSegment(lastSegment(), 100 * CounterSource::rate / 10'000'000);
    EXPECT_TRUE(source->isRunning());
}

TEST_F(Streaming, SurvivesStateChangesAndSeeksFromSeveralThreads)
{
    std::atomic<int> operations{0};
    std::atomic<int> failures{0};
    const auto end = std::chrono::steady_clock::now() + 8s;
    const bool finished = runConcurrently(4, [&] {
        std::mt19937 random(static_cast<unsigned>(GetCurrentThreadId()));
        while (std::chrono::steady_clock::now() < end) {
            HRESULT hr = S_OK;
            LONGLONG position = std::uniform_int_distribution<LONGLONG>(0, duration)(random);
            switch (random() % 5) {
            case 0:
                hr = filter->Pause();
                break;
            case 1:
                hr = filter->Run(0);
                break;
            case 2:
                hr = filter->Stop();
                break;
            default:
                hr = source->seeking()->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr, 0);
                break;
            }
            if (FAILED(hr))
                ++failures;
            ++operations;
        }
    });
    ASSERT_TRUE(finished) << "deadlock";
    EXPECT_EQ(failures, 0);
    EXPECT_GT(operations, 100);
    // Every segment's first delivered sample is a discontinuity.
    bool segmentStarted = false;
    for (const Delivery& d : peer.deliveries()) {
        if (d.kind == Delivery::NewSegment)
            segmentStarted = true;
        else if (d.kind == Delivery::Sample && !d.duringFlush) {
            EXPECT_TRUE(!segmentStarted || d.discontinuity);
            segmentStarted = false;
        }
    }
}

TEST(StreamingFaults, NoWorkerOutlivesAFailedPauseOrAFilterReleasedWhilePlaying)
{
    Watchdog watchdog(60'000);
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    const LONG objectsBefore = oryx::objectCount;
    {
        RefusingAllocator allocator;
        RecordingInputPin peer;
        peer.ownAllocator = &allocator;
        auto* source = new CounterSource;
        const COMPtr<IBaseFilter> filter(source);
        source->load();
        ASSERT_EQ(source->outputPinInterface()->Connect(&peer, nullptr), S_OK);
        EXPECT_EQ(filter->Pause(), E_ACCESSDENIED) << "the allocator's refusal";
        FILTER_STATE state;
        EXPECT_EQ(filter->GetState(0, &state), S_OK);
        EXPECT_EQ(state, State_Stopped);
        EXPECT_FALSE(source->isRunning());
        source->outputPinInterface()->Disconnect();
    }
    {
        // Hosts stop before they release, but a careless one may not: the
        // worker, held in Receive, is flushed out and joined.
        RecordingInputPin peer;
        peer.shutGate();
        auto* source = new CounterSource;
        COMPtr<IBaseFilter> filter(source);
        source->load();
        ASSERT_EQ(source->outputPinInterface()->Connect(&peer, nullptr), S_OK);
        ASSERT_EQ(filter->Run(0), S_OK);
        std::this_thread::sleep_for(100ms);
        filter.release();
        EXPECT_EQ(peer.count(Delivery::BeginFlush), 1);
    }
    EXPECT_EQ(oryx::objectCount, objectsBefore);
    CoUninitialize();
}

// Through Wine's graph manager and DirectSound renderer on the null device:
// Pause must deliver before Run completes, and the end reaches the player.
TEST(StreamingInWinesGraph, PlaysAndSeeksToCompletion)
{
    Watchdog watchdog(120'000);
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    const LONG objectsBefore = oryx::objectCount;
    {
        const COMPtr<IGraphBuilder> graph(CLSID_FilterGraph);
        auto* source = new CounterSource(4000);
        const COMPtr<IBaseFilter> filter(source);
        source->load();
        ASSERT_EQ(graph->AddFilter(filter.get(), L"Counter"), S_OK);
        ASSERT_EQ(graph->Render(source->outputPinInterface()), S_OK);
        COMPtr<IMediaControl> control;
        control = graph.get();
        COMPtr<IMediaEventEx> events;
        events = graph.get();
        COMPtr<IMediaSeeking> seeking;
        seeking = graph.get();
        auto waitForEnd = [&] {
            for (int i = 0; i < 200; ++i) {
                long code;
                LONG_PTR first;
                LONG_PTR second;
                while (events->GetEvent(&code, &first, &second, 50) == S_OK) {
                    events->FreeEventParams(code, first, second);
                    if (code == EC_COMPLETE || code == EC_ERRORABORT)
                        return code;
                }
            }
            return 0L;
        };
        ASSERT_HRESULT_SUCCEEDED(control->Run());
        EXPECT_EQ(waitForEnd(), EC_COMPLETE);
        LONGLONG length = 0;
        ASSERT_EQ(seeking->GetDuration(&length), S_OK);
        EXPECT_EQ(length, 4000 * 10'000'000LL / CounterSource::rate);

        ASSERT_HRESULT_SUCCEEDED(control->Pause());
        LONGLONG target = length - length / 4;
        ASSERT_EQ(seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning),
                  S_OK);
        ASSERT_HRESULT_SUCCEEDED(control->Run());
        EXPECT_EQ(waitForEnd(), EC_COMPLETE);

        // Stop while the renderer holds the worker (paused, buffers full).
        ASSERT_EQ(control->Stop(), S_OK);
        ASSERT_HRESULT_SUCCEEDED(control->Pause());
        std::this_thread::sleep_for(200ms);
        const auto before = std::chrono::steady_clock::now();
        EXPECT_EQ(control->Stop(), S_OK);
        EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
        EXPECT_FALSE(source->isRunning());
    }
    EXPECT_EQ(oryx::objectCount, objectsBefore);
    CoUninitialize();
}

} // namespace
