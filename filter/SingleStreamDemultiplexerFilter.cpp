// The engine's worker and its control: activation and deactivation, the
// streaming pause lock, and the streaming loop itself.
#include "filter/SingleStreamDemultiplexerFilter.h"

#include <exception>
#include <utility>

#include "support/AutoLock.h"
#include "support/COMError.h"
#include "support/ComBoundary.h"

namespace {

// How long a worker that found the allocator decommitted waits before it asks
// again, when no controller wakes it first: only a downstream recommitting on
// its own needs this, and nothing tells us when it does.
constexpr DWORD allocatorRetryMs = 10;

} // namespace

SingleStreamDemultiplexerFilter::SingleStreamDemultiplexerFilter(IUnknown* outer, const wchar_t* name,
                                                                 const CLSID* classId)
    : Filter(outer, name, classId), outputPin(*this)
{
}

SingleStreamDemultiplexerFilter::~SingleStreamDemultiplexerFilter()
{
    stopWorker();
}

void SingleStreamDemultiplexerFilter::stopWorker() noexcept
{
    if (!isRunning())
        return;
    requestStop();
    try {
        beginFlush();
    } catch (...) {
        // A refused flush must not keep the worker alive: it will find the
        // signal once its Receive returns.
    }
    try {
        signal(Exit);
    } catch (...) {
    }
    // Joined before the flush ends, as in deactivate().
    try {
        join();
    } catch (...) {
    }
    try {
        endFlush();
    } catch (...) {
    }
}

void SingleStreamDemultiplexerFilter::activate()
{
    // Not while a seek or a new input holds the stream: lock() found no
    // worker to hold, so unlock() would signal one that was never held and
    // may already wait in a paused renderer's Receive, and wait for it for
    // ever.
    oryx::AutoLock noHolder(pauseLock);
    // The pins first: a worker started before the allocator is committed
    // only finds GetBuffer refused and has to wait for it.
    Filter::activate();
    try {
        allowStreaming();
        start();
        // Held first: the thread answers only once its start (which may
        // rewind the source) is done, and the stored seek must follow that.
        signal(Hold);
        if (carryOutStoredSeek())
            signal(Stream);
        else
            workerHeld = true;
    } catch (...) {
        // The filter stays Stopped, so no thread may outlive the failure.
        stopWorker();
        try {
            Filter::deactivate();
        } catch (...) {
            // The start's failure is what the caller must see.
        }
        throw;
    }
}

void SingleStreamDemultiplexerFilter::deactivate()
{
    // A seek or a new input between its hold and its release would
    // otherwise let the worker stream again after our flush, into a paused
    // renderer's Receive, while we wait for it to take Exit.
    oryx::AutoLock noHolder(pauseLock);
    try {
        beginFlush();
    } catch (...) {
        // The filter stays active: a worker left held by a seek cut short
        // for this Stop streams on, and carries that seek out itself.
        if (std::exchange(workerHeld, false)) {
            allowStreaming();
            signalIfRunning(Stream);
        }
        throw;
    }
    // Only now: should the flush fail, the filter stays active and its
    // worker must stream on. Raised still wakes a worker that waits for the
    // allocator which downstream decommitted when it stopped first.
    requestStop();
    signalIfRunning(Exit);
    workerHeld = false;
    // The worker's last EndOfStream must be delivered before EndFlush, not
    // alongside it: downstream, a filter holding its lock across EndFlush and
    // a renderer asking upstream from inside EndOfStream take the same two
    // locks in opposite orders (Wine's Sample Grabber and renderers do).
    join();
    endFlush();
    Filter::deactivate();
}

bool SingleStreamDemultiplexerFilter::doStop()
{
    // Before stateLock and the pause lock, which a seek may hold while it
    // decodes (SetPositions, or a Pause from Stopped): it gives up at its
    // next step instead of making this Stop wait for the whole decode.
    ++stopsWaiting;
    struct Lower {
        std::atomic<int>& count;
        ~Lower() { --count; }
    } lower{stopsWaiting};
    return Filter::doStop();
}

bool SingleStreamDemultiplexerFilter::seekCancelled() const
{
    // A controller's own seek runs with stopRequested raised (it holds the
    // worker); only a Stop may cut it short.
    return workerSeeking ? stopRequested.load() : stopsWaiting > 0;
}

void SingleStreamDemultiplexerFilter::lock()
{
    holdStream(FlushAlways);
}

void SingleStreamDemultiplexerFilter::holdStream(IdleFlush idleFlush)
{
    pauseLock.lock();
    requestStop();
    try {
        // Stable while the pause lock is held: activate and deactivate take it.
        if (isRunning() || idleFlush == FlushAlways) {
            beginFlush();
            workerHeld = signalIfRunning(Hold);
            endFlush();
        }
    } catch (...) {
        if (workerHeld) {
            unlock();
        } else {
            // A refused flush left the worker where it was, perhaps in a
            // paused renderer's Receive: signalling it would wait for it,
            // with the pause lock that Stop needs to free it.
            allowStreaming();
            pauseLock.unlock();
        }
        throw;
    }
}

void SingleStreamDemultiplexerFilter::unlock()
{
    try {
        // Only a worker known to wait leaves the source to us. One cut short
        // for a Stop stays held: that Stop ends it.
        if (workerHeld && !carryOutStoredSeek()) {
            pauseLock.unlock();
            return;
        }
        workerHeld = false;
        allowStreaming();
        signalIfRunning(Stream);
    } catch (...) {
        pauseLock.unlock();
        throw;
    }
    pauseLock.unlock();
}

SingleStreamDemultiplexerFilter::SeekOutcome SingleStreamDemultiplexerFilter::performStoredSeek()
{
    // Nobody else stores a command meanwhile: SetPositions and a new input
    // hold the worker first, and a controller's seek holds the pause lock.
    SeekCommand command = NoSeek;
    std::int64_t target = 0;
    {
        oryx::AutoLock lock(positionLock);
        command = seekCommand;
        target = seekTarget;
    }
    if (command == NoSeek)
        return NothingStored;
    try {
        seekTo(command, target);
    } catch (...) {
        oryx::AutoLock lock(positionLock);
        seekCommand = NoSeek;
        throw;
    }
    if (seekCancelled())
        return SeekCutShort;
    oryx::AutoLock lock(positionLock);
    seekCommand = NoSeek;
    return SeekDone;
}

bool SingleStreamDemultiplexerFilter::carryOutStoredSeek()
{
    try {
        return performStoredSeek() != SeekCutShort;
    } catch (const std::exception&) {
        oryx::AutoLock lock(positionLock);
        seekFailure = std::current_exception();
        return true;
    }
}

SingleStreamDemultiplexerFilter::SeekOutcome SingleStreamDemultiplexerFilter::seekOnWorker()
{
    std::exception_ptr failure;
    {
        oryx::AutoLock lock(positionLock);
        failure = std::exchange(seekFailure, nullptr);
    }
    if (failure)
        std::rethrow_exception(failure);
    workerSeeking = true;
    struct Clear {
        std::atomic<bool>& flag;
        ~Clear() { flag = false; }
    } clear{workerSeeking};
    return performStoredSeek();
}

void SingleStreamDemultiplexerFilter::seekTo(SeekCommand command, std::int64_t target)
{
    if (command == SeekSample)
        seekToSample(target);
    else if (command == SeekMediaTime)
        seekToMediaTime(target);
    else if (command == SeekByte)
        seekToByte(target);
}

bool SingleStreamDemultiplexerFilter::signalIfRunning(Signal value)
{
    try {
        signal(value);
        return true;
    } catch (const NotRunningException&) {
        return false;
    }
}

void SingleStreamDemultiplexerFilter::requestStop()
{
    stopRequested = true;
    if (awaitingAllocator.exchange(false))
        allocatorWake.set();
}

void SingleStreamDemultiplexerFilter::allowStreaming()
{
    stopRequested = false;
}

void SingleStreamDemultiplexerFilter::awaitAllocator()
{
    awaitingAllocator = true;
    if (!stopRequested)
        allocatorWake.wait(allocatorRetryMs);
    awaitingAllocator = false;
}

void SingleStreamDemultiplexerFilter::beginFlush()
{
    outputPin.deliverBeginFlush();
}

void SingleStreamDemultiplexerFilter::endFlush()
{
    outputPin.deliverEndFlush();
}

bool SingleStreamDemultiplexerFilter::supportsByteSeeking()
{
    return false;
}

void SingleStreamDemultiplexerFilter::onThreadStart()
{
}

std::uint32_t SingleStreamDemultiplexerFilter::bufferSize()
{
    return 4096;
}

void SingleStreamDemultiplexerFilter::resetPosition()
{
    oryx::AutoLock lock(positionLock);
    timeFormat = MediaTimeFormat;
    seekCommand = NoSeek;
    seekFailure = nullptr;
    segmentStartSample = 0;
    segmentStartTime = 0;
    outputPin.mediaTypesChanged();
}

DWORD SingleStreamDemultiplexerFilter::run()
{
    discontinuityPending = true;
    onThreadStart();
    for (;;) {
        try {
            for (;;) {
                const std::int32_t value = waitForSignal();
                reply(0);
                if (value == Exit) {
                    outputPin.deliverEndOfStream();
                    return 0;
                }
                if (value == Stream) {
                    discontinuityPending = true;
                    streamSamples();
                }
            }
        } catch (const std::exception& e) {
            // The player would otherwise wait for ever at this point. It
            // hears of the error before the end of stream turns into a
            // completion. The worker lives on: a seek or a restart may
            // still play.
            try {
                notifyAbort(oryx::exceptionToHResult(e));
            } catch (const std::exception&) {
                // Outside a graph nobody can be told.
            }
            outputPin.deliverEndOfStream();
        }
    }
}

void SingleStreamDemultiplexerFilter::streamSamples()
{
    for (;;) {
        if (isSignalPending() || stopRequested)
            return;
        const SeekOutcome seek = seekOnWorker();
        if (seek == SeekCutShort)
            return;
        const bool newSegment = discontinuityPending || seek == SeekDone;
        REFERENCE_TIME segmentStart = 0;
        REFERENCE_TIME segmentStop = 0;
        {
            oryx::AutoLock lock(positionLock);
            if (newSegment) {
                segmentStartTime = currentMediaTime();
                segmentStartSample = currentSample();
                segmentStart = segmentStartTime;
                segmentStop = supportsTimeSeeking() ? durationMediaTime() : 0;
            }
        }
        discontinuityPending = newSegment;
        if (newSegment)
            outputPin.deliverNewSegment(segmentStart, segmentStop, 1.0);

        oryx::COMPtr<IMediaSample> sample;
        try {
            sample = outputPin.getDeliveryBuffer(nullptr, nullptr, 0);
        } catch (const std::exception&) {
            // Decommitted by a downstream that stopped before us: our own
            // Stop follows.
            awaitAllocator();
            continue;
        }
        // A flush may have released GetBuffer: not worth a decode.
        if (stopRequested)
            return;
        if (!fillSample(*sample)) {
            try {
                outputPin.deliverEndOfStream();
            } catch (const std::exception&) {
            }
            discontinuityPending = false;
            return;
        }
        if (discontinuityPending) {
            oryx::checkResult(sample->SetDiscontinuity(TRUE), "Can't change discontinuity flag");
            discontinuityPending = false;
        }
        outputPin.deliver(*sample);
    }
}
