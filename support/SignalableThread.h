#pragma once

#include <atomic>
#include <cstdint>
#include <stdexcept>

#include "support/CriticalSection.h"
#include "support/Event.h"
#include "support/Thread.h"

namespace oryx {

// A worker thread with a request/acknowledge channel. A controlling thread
// hands the worker a small integer with signal() and waits until the worker
// has taken it and answered with reply(); the answer is signal()'s result.
//
// Subclasses supply run(), which takes each request with waitForSignal()
// and answers every one it takes with exactly one reply(). isSignalPending()
// lets a busy worker notice a request without taking it. A subclass whose
// run() uses its own members must end the thread and join() it in its own
// destructor, like any Thread.
//
// Locks: signalLock serialises controllers and is held while a controller
// waits for the acknowledgement. The worker never takes it, so a worker
// can always reach waitForSignal(); a controller must not hold a lock there
// that the worker needs on its way.
//
// The channel starts every thread clean: a request sent while no thread runs
// fails and is withdrawn, and start() clears whatever an ended thread left,
// so no worker takes a stale request and no exchange is answered by an
// earlier acknowledgement.
class SignalableThread : public Thread {
public:
    class NotRunningException : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    SignalableThread();
    ~SignalableThread() override;

    // Clears the channel, then starts the thread. Hides Thread::start so that
    // every start of a worker goes through the clean-up.
    void start(bool suspended = false);

    // For a controller. Raises NotRunningException when no thread runs or
    // the thread ends before acknowledging.
    std::int32_t signal(std::int32_t value);

protected:
    // For the worker.
    std::int32_t waitForSignal();
    void reply(std::int32_t value);
    bool isSignalPending() const;

private:
    void clearChannel();

    // The request on its way to the worker, then the reply on its way back;
    // each side reads it only after the other side's event, so the events
    // order every access.
    std::int32_t signalValue = 0;
    // Mirrors requestEvent for isSignalPending(), which a busy worker asks
    // once per unit of work: an atomic read, where testing the event costs a
    // system call (a server round trip under Wine).
    std::atomic<bool> requestPending{false};
    CriticalSection signalLock;
    Event requestEvent{true, false};
    Event ackEvent{false, false};
};

} // namespace oryx
