#include "support/SignalableThread.h"

#include "support/AutoLock.h"

namespace oryx {

namespace {

// The two handles a controller waits for, in this order: when both are
// signalled the lower index wins, so a reply given just before the thread
// ended still counts.
constexpr DWORD acknowledged = 0;
constexpr DWORD threadEnded = 1;

} // namespace

SignalableThread::SignalableThread() = default;

SignalableThread::~SignalableThread()
{
    // Joined here, not only by Thread: the worker uses the channel, which is
    // destroyed before Thread's destructor runs.
    try {
        join();
    } catch (...) {
    }
}

void SignalableThread::start(bool suspended)
{
    AutoLock lock(signalLock);
    clearChannel();
    Thread::start(suspended);
}

std::int32_t SignalableThread::signal(std::int32_t value)
{
    AutoLock lock(signalLock);
    signalValue = value;
    requestPending = true;
    requestEvent.set();
    if (isRunning()) {
        const HANDLE handles[] = {ackEvent.handle(), handle()};
        if (waitForAny(2, handles, false, INFINITE).index != threadEnded)
            return signalValue;
    } else if (ackEvent.isSignalled()) {
        // A quick worker can take the request, answer and end before we ask
        // whether it runs. Its answer counts: the exchange took place.
        return signalValue;
    }
    // Withdrawn, so that no later worker takes it and answers nobody.
    clearChannel();
    throw NotRunningException("Thread is not running in signal(int)");
}

std::int32_t SignalableThread::waitForSignal()
{
    requestEvent.wait(INFINITE);
    requestEvent.clear();
    requestPending = false;
    return signalValue;
}

void SignalableThread::reply(std::int32_t value)
{
    signalValue = value;
    ackEvent.set();
}

bool SignalableThread::isSignalPending() const
{
    return requestPending;
}

void SignalableThread::clearChannel()
{
    requestEvent.clear();
    requestPending = false;
    ackEvent.clear();
    signalValue = 0;
}

} // namespace oryx
