#include <algorithm>
#include <atomic>
#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/Event.h"
#include "support/SignalableThread.h"
#include "support/Thread.h"
#include "tests/common/Watchdog.h"

using namespace oryx;

namespace {

constexpr DWORD deadlockLimit = 60000;
constexpr DWORD patience = 5000;
// How long a freshly started worker is given to take a request that it must
// not see. Nothing can arrive in a sound channel, however long the wait.
constexpr DWORD staleRequestWindow = 200;

class Threads : public testing::Test {
protected:
    Watchdog watchdog{deadlockLimit};
};

// A thread whose body is a function.
class FunctionThread : public Thread {
public:
    explicit FunctionThread(std::function<DWORD()> body) : body(std::move(body)) {}
    ~FunctionThread() override { join(); }

    DWORD run() override { return body(); }

private:
    std::function<DWORD()> body;
};

// Answers each request with 2 * value + 1 until it receives `stop`, and
// keeps every value it took, for reading after join().
class EchoWorker : public SignalableThread {
public:
    static constexpr std::int32_t stop = -1;

    ~EchoWorker() override { join(); }

    std::vector<std::int32_t> taken;
    // Set whenever a request was taken.
    Event tookOne{false, false};

    DWORD run() override
    {
        for (;;) {
            const std::int32_t value = waitForSignal();
            taken.push_back(value);
            tookOne.set();
            if (value == stop) {
                reply(0);
                return static_cast<DWORD>(taken.size());
            }
            reply(2 * value + 1);
        }
    }
};

TEST_F(Threads, JoinGivesTheBodysExitCodeAndZeroForABodyThatRaises)
{
    FunctionThread seven([] { return DWORD(7); });
    EXPECT_EQ(seven.join(), 0u) << "no thread yet";
    seven.start(false);
    EXPECT_EQ(seven.join(), 7u);
    EXPECT_EQ(seven.join(), 7u) << "the handle stays until the next start";

    FunctionThread raising([]() -> DWORD { throw std::runtime_error("body failed"); });
    raising.start(false);
    EXPECT_EQ(raising.join(), 0u);
    EXPECT_FALSE(raising.isRunning());

    FunctionThread foreign([]() -> DWORD { throw 42; });
    foreign.start(false);
    EXPECT_EQ(foreign.join(), 0u);
}

TEST_F(Threads, IsRunningFromStartUntilTheBodyReturns)
{
    Event release(true, false);
    FunctionThread waiting([&] {
        release.wait(INFINITE);
        return DWORD(1);
    });
    EXPECT_FALSE(waiting.isRunning());
    waiting.start(false);
    EXPECT_TRUE(waiting.isRunning());
    release.set();
    EXPECT_EQ(waiting.join(), 1u);
    EXPECT_FALSE(waiting.isRunning());
}

TEST_F(Threads, ABodyThatEndsAtOnceIsNeverLeftMarkedRunning)
{
    int runs = 0;
    FunctionThread quick([&] {
        ++runs;
        return DWORD(runs);
    });
    for (int i = 1; i <= 200; ++i) {
        quick.start(false);
        ASSERT_EQ(quick.wait(patience), WaitResult::Signalled);
        ASSERT_FALSE(quick.isRunning()) << "run " << i;
        EXPECT_EQ(quick.join(), static_cast<DWORD>(i)) << "each start runs the body again";
    }
}

TEST_F(Threads, ASuspendedThreadRunsOnlyWhenResumed)
{
    std::atomic<bool> ran{false};
    FunctionThread suspended([&] {
        ran = true;
        return DWORD(3);
    });
    suspended.start(true);
    EXPECT_TRUE(suspended.isRunning());
    EXPECT_EQ(suspended.wait(50), WaitResult::Timeout);
    EXPECT_FALSE(ran);
    ResumeThread(suspended.handle());
    EXPECT_EQ(suspended.join(), 3u);
    EXPECT_TRUE(ran);
}

TEST_F(Threads, DestructionWaitsForTheThreadToEnd)
{
    std::atomic<bool> finished{false};
    {
        FunctionThread slow([&] {
            Sleep(50);
            finished = true;
            return DWORD(0);
        });
        slow.start(false);
    }
    EXPECT_TRUE(finished);
}

TEST_F(Threads, ASignalBeforeStartRaisesAndLeavesNoTraceForTheWorker)
{
    EchoWorker worker;
    try {
        worker.signal(99);
        ADD_FAILURE() << "nothing raised";
    } catch (const SignalableThread::NotRunningException& e) {
        EXPECT_STREQ(e.what(), "Thread is not running in signal(int)");
    }
    worker.start(false);
    EXPECT_EQ(worker.tookOne.wait(staleRequestWindow), WaitResult::Timeout) << "the worker took the failed request";
    EXPECT_EQ(worker.signal(5), 11) << "answered by the reply to this request, not to the stale one";
    EXPECT_EQ(worker.signal(EchoWorker::stop), 0);
    EXPECT_EQ(worker.join(), 2u);
    EXPECT_EQ(worker.taken, (std::vector<std::int32_t>{5, EchoWorker::stop}));
}

// Takes one request, answers it and ends at once.
class OneShotWorker : public SignalableThread {
public:
    ~OneShotWorker() override { join(); }

    DWORD run() override
    {
        reply(waitForSignal() + 1);
        return 0;
    }
};

TEST_F(Threads, AnExchangeCountsEvenWhenTheWorkerEndsRightAfterReplying)
{
    // The worker may take, answer and end before the controller gets to ask
    // whether it runs; many rounds make that likely at least once.
    OneShotWorker worker;
    for (int round = 0; round < 2000; ++round) {
        worker.start(false);
        ASSERT_EQ(worker.signal(round), round + 1) << "round " << round;
        worker.join();
    }
}

// Ends its first run without replying, either after taking a request or
// while one is still pending; later runs answer like EchoWorker.
class QuittingWorker : public SignalableThread {
public:
    enum class Mode { TakeAndQuit, QuitWhilePending, Echo };

    ~QuittingWorker() override { join(); }

    Mode mode = Mode::TakeAndQuit;
    std::vector<std::int32_t> taken;
    Event tookOne{false, false};

    DWORD run() override
    {
        switch (mode) {
        case Mode::TakeAndQuit:
            taken.push_back(waitForSignal());
            return 1;
        case Mode::QuitWhilePending:
            while (!isSignalPending())
                Sleep(1);
            return 2;
        case Mode::Echo:
            break;
        }
        const std::int32_t value = waitForSignal();
        taken.push_back(value);
        tookOne.set();
        reply(2 * value + 1);
        return 3;
    }
};

TEST_F(Threads, AWorkerThatEndsWithoutReplyingReleasesTheControllerAndLeavesTheChannelClean)
{
    for (const QuittingWorker::Mode firstMode :
         {QuittingWorker::Mode::TakeAndQuit, QuittingWorker::Mode::QuitWhilePending}) {
        QuittingWorker worker;
        worker.mode = firstMode;
        worker.start(false);
        EXPECT_THROW(worker.signal(1), SignalableThread::NotRunningException);
        EXPECT_EQ(worker.join(), firstMode == QuittingWorker::Mode::TakeAndQuit ? 1u : 2u);

        worker.mode = QuittingWorker::Mode::Echo;
        worker.taken.clear();
        worker.start(false);
        EXPECT_EQ(worker.tookOne.wait(staleRequestWindow), WaitResult::Timeout)
            << "the new worker took the request of the failed exchange";
        EXPECT_EQ(worker.signal(20), 41);
        EXPECT_EQ(worker.join(), 3u);
        EXPECT_EQ(worker.taken, std::vector<std::int32_t>{20}) << "the new worker took only the new request";
    }
}

// Watches a request arrive without taking it, then takes it.
class PendingWorker : public SignalableThread {
public:
    ~PendingWorker() override { join(); }

    bool pendingTwice = false;
    bool pendingAfterTaking = true;

    DWORD run() override
    {
        while (!isSignalPending())
            Sleep(1);
        pendingTwice = isSignalPending() && isSignalPending();
        const std::int32_t value = waitForSignal();
        pendingAfterTaking = isSignalPending();
        reply(value + 1);
        return 0;
    }
};

TEST_F(Threads, APendingRequestStaysPendingUntilTheWorkerTakesIt)
{
    PendingWorker worker;
    worker.start(false);
    EXPECT_EQ(worker.signal(41), 42);
    worker.join();
    EXPECT_TRUE(worker.pendingTwice);
    EXPECT_FALSE(worker.pendingAfterTaking);
}

TEST_F(Threads, EveryReplyReachesItsOwnControllerExactlyOnce)
{
    constexpr int controllers = 4;
    constexpr int exchanges = 400;
    EchoWorker worker;
    worker.start(false);

    std::atomic<int> wrongReplies{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < controllers; ++c) {
        threads.emplace_back([&, c] {
            for (int i = 0; i < exchanges; ++i) {
                const std::int32_t value = c * 100000 + i;
                try {
                    if (worker.signal(value) != 2 * value + 1)
                        ++wrongReplies;
                } catch (const SignalableThread::NotRunningException&) {
                    ++wrongReplies;
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(worker.signal(EchoWorker::stop), 0);
    EXPECT_EQ(worker.join(), static_cast<DWORD>(controllers * exchanges + 1));
    EXPECT_EQ(wrongReplies.load(), 0);

    std::vector<std::int32_t> expected;
    for (int c = 0; c < controllers; ++c)
        for (int i = 0; i < exchanges; ++i)
            expected.push_back(c * 100000 + i);
    expected.push_back(EchoWorker::stop);
    std::vector<std::int32_t> taken = worker.taken;
    std::sort(taken.begin(), taken.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(taken, expected) << "every request taken exactly once";
}

} // namespace
