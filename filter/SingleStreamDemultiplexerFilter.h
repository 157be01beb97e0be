#pragma once

#include <atomic>
#include <cstdint>
#include <exception>

#include <dshow.h>

#include "filter/Filter.h"
#include "filter/MemoryOutputPin.h"
#include "support/CriticalSection.h"
#include "support/Event.h"
#include "support/Lockable.h"
#include "support/SignalableThread.h"

// The streaming engine: a push source with one output pin, "PCM Output",
// and a worker thread of its own that takes empty samples from the pin's
// allocator, has the concrete source fill them and delivers them
// downstream, with IMediaSeeking (reached through the pin) to move it.
//
// A concrete source must supply the position and duration operations, the
// seeks, fillSample(), supportsTimeSeeking(), hasInput(), the output media
// types (isAcceptableType, mediaTypeCount, getMediaType,
// requireAcceptableType) and acceptsInputType(). It may override
// supportsByteSeeking() (false), onThreadStart() (nothing; runs on the worker
// each time it starts), bufferSize() (4096 bytes) and beginFlush()/endFlush().
// After opening a new input it calls resetPosition(). The seeks run with no
// lock of ours held and may decode at length: they take positionLock only
// for short steps, answer the target as the current position meanwhile,
// and stop between steps once seekCancelled() says so (the seek then stays
// stored and is carried out again later). A source whose
// fillSample() uses members of its own calls stopWorker() first in its
// destructor, before those members go.
//
// Positions are in the source's samples ("sample" below: for audio one
// block, a sample of every channel) or in media time, 100-ns units.
//
// Threads: application threads change the state, connect, seek and query;
// the worker streams. The worker is told what to do through the
// SignalableThread channel: Stream (run the streaming loop), Hold (stop
// delivering and wait) and Exit. It acknowledges every signal before it
// takes any lock, and waits for signals, buffers and Receive with no lock
// held, so a controller may signal while holding any lock the worker takes.
// Every controller sends BeginFlush downstream before Hold or Exit, so a
// worker blocked in Receive or GetBuffer is always released, and EndFlush
// only once the worker has answered Hold or ended, so EndFlush never races
// the worker's EndOfStream downstream. Before that flush it raises
// stopRequested, so the released worker goes to take the signal at once
// rather than decode a buffer the flush would drop (Stop raises it only once
// its flush has succeeded: a failed Stop leaves the worker streaming); it
// lowers it only when it lets the worker stream again. The allocator is
// committed before the worker starts; a worker that still finds it
// decommitted (downstream decommits its own allocator when it stops first)
// waits for a controller or, briefly, for downstream to recommit it.
//
// Seeks: a stored seek is carried out by the thread that holds the worker
// (SetPositions' unlock(), or activate()), before it lets the worker go, so
// the first sample follows the release at once. A renderer cues (reports an
// intermediate state) until that sample arrives, and a graph that finds it
// cueing runs asynchronously; Wine's graph deadlocks when a seek meets such
// a pending run, so the window is kept as short as the file allows. The
// decoding runs under the pause lock alone, so queries, GetState and the
// pin answer meanwhile; a Stop raises stopsWaiting before it takes any lock,
// the seek gives up at its next step and leaves the worker held for that
// Stop to end. A failed seek is reported once, by the worker
// (EC_ERRORABORT), and not retried. Only after a refused Stop does the
// worker carry out a stored seek itself, giving up when a controller asks
// it to stop.
//
// Locks, in the order they may be nested (an outer one first):
//   1. stateLock (Filter): Stop, Pause, Run; so activate and deactivate,
//      with the worker's start, acknowledgement and join. GetState does not
//      take it.
//   2. pauseLock: a whole SetPositions with its seek's decoding, or the
//      replacement of the input: the worker is held from lock() to
//      unlock(). Also taken by activate() and deactivate() around the
//      worker's start and end, so no worker starts unheld in between and
//      none is released after Stop's flush. Never taken by the worker.
//   3. filterLock (Filter): connection and allocator work, the source's
//      input, its media types, tag and album tracks.
//   4. positionLock: the seek command, target and failure, the segment
//      start, the source's read position; a new input is opened under it,
//      so position queries ask hasInput() under it too. Held only for short
//      steps, never across a seek's decoding; nothing is called downstream
//      and no other lock is taken while it is held.
//   5. signal lock (SignalableThread): one signal until it is acknowledged.
// The worker takes positionLock and filterLock only for short steps, never
// both, and never while it waits.
class SingleStreamDemultiplexerFilter : public Filter,
                                        public oryx::SignalableThread,
                                        public oryx::DelegatingUnknown<SingleStreamDemultiplexerFilter, IMediaSeeking>,
                                        public oryx::Lockable {
public:
    class OutputPin : public MemoryOutputPin {
    public:
        explicit OutputPin(SingleStreamDemultiplexerFilter& owner);

        bool checkMediaType(const MediaType& type) override;
        unsigned getMediaTypeCount() override;
        MediaType& getPinMediaType(MediaType& out, unsigned index) override;
        void setMediaType(const MediaType& type) override;
        bool decideBufferSize(IMemAllocator& allocator, ALLOCATOR_PROPERTIES& requested) override;
        // Adds IMediaSeeking, the filter's, while an input is loaded.
        IUnknown* interfaceFor(REFIID iid) override;

    private:
        SingleStreamDemultiplexerFilter& source;
    };

    SingleStreamDemultiplexerFilter(IUnknown* outer, const wchar_t* name, const CLSID* classId);
    ~SingleStreamDemultiplexerFilter() override;

    unsigned pinCount() override { return 1; }
    Pin* pin(unsigned) override { return &outputPin; }
    void activate() override;
    void deactivate() override;
    bool doStop() override;

    // IMediaSeeking
    STDMETHOD(GetCapabilities)(DWORD* capabilities) override;
    STDMETHOD(CheckCapabilities)(DWORD* capabilities) override;
    STDMETHOD(IsFormatSupported)(const GUID* format) override;
    STDMETHOD(QueryPreferredFormat)(GUID* format) override;
    STDMETHOD(GetTimeFormat)(GUID* format) override;
    STDMETHOD(IsUsingTimeFormat)(const GUID* format) override;
    STDMETHOD(SetTimeFormat)(const GUID* format) override;
    STDMETHOD(GetDuration)(LONGLONG* duration) override;
    STDMETHOD(GetStopPosition)(LONGLONG* stop) override;
    STDMETHOD(GetCurrentPosition)(LONGLONG* current) override;
    STDMETHOD(ConvertTimeFormat)(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                 const GUID* sourceFormat) override;
    STDMETHOD(SetPositions)(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) override;
    STDMETHOD(GetPositions)(LONGLONG* current, LONGLONG* stop) override;
    STDMETHOD(GetAvailable)(LONGLONG* earliest, LONGLONG* latest) override;
    STDMETHOD(SetRate)(double rate) override;
    STDMETHOD(GetRate)(double* rate) override;
    STDMETHOD(GetPreroll)(LONGLONG* preroll) override;

    // The streaming pause lock: lock() flushes downstream and holds the
    // worker; unlock() carries out a seek stored meanwhile and restarts the
    // worker with a new segment at the current position. Serialised: one
    // holder at a time. When lock() raises, the worker has been restarted
    // and nothing is held.
    void lock() override;
    void unlock() override;

    virtual void beginFlush();
    virtual void endFlush();
    virtual std::int64_t currentMediaTime() = 0;
    virtual std::int64_t currentSample() = 0;
    virtual std::int64_t currentByte() = 0;
    virtual std::int64_t durationMediaTime() = 0;
    virtual std::int64_t durationBytes() = 0;
    virtual std::int64_t durationSamples() = 0;
    virtual void seekToByte(std::int64_t position) = 0;
    virtual void seekToSample(std::int64_t position) = 0;
    virtual void seekToMediaTime(std::int64_t time) = 0;
    // Fills `sample` in place and stamps it; false at the end of the stream.
    virtual bool fillSample(IMediaSample& sample) = 0;
    virtual bool supportsTimeSeeking() = 0;
    virtual bool supportsByteSeeking();
    virtual void onThreadStart();
    virtual bool hasInput() = 0;
    virtual bool acceptsInputType(const MediaType& type) = 0;
    virtual bool isAcceptableType(const MediaType& type) = 0;
    virtual int mediaTypeCount() = 0;
    virtual void getMediaType(MediaType& out, unsigned index) = 0;
    // Raises when isAcceptableType() would say false.
    virtual void requireAcceptableType(const MediaType& type) = 0;
    // The least size of one sample buffer, in bytes.
    virtual std::uint32_t bufferSize();

protected:
    // After a new input has been opened: media time format, no stored seek,
    // the segment at 0, and new media types on the pin.
    void resetPosition();
    // The pause lock as the replacement of the input takes it: like lock(),
    // but a stopped filter sends nothing downstream, where nothing of ours
    // can be held and a peer's refusal must not fail the Load.
    oryx::Lockable& newInputLock() { return newInputHold; }
    // Ends streaming and joins the worker if one runs; for destructors.
    void stopWorker() noexcept;
    // For the seeks, between their steps: a Stop waits for a seek on a
    // controller's thread, or a controller for one on the worker.
    bool seekCancelled() const;

    DWORD run() override;

    OutputPin outputPin;
    oryx::CriticalSection positionLock;
    // Under positionLock. Media time (100 ns) and sample at which the current
    // segment began: samples are stamped relative to them.
    std::int64_t segmentStartTime = 0;
    std::int64_t segmentStartSample = 0;

private:
    enum Signal : std::int32_t { Stream = 0, Hold = 1, Exit = 2 };
    enum SeekCommand : std::int32_t { NoSeek = 0, SeekSample = 1, SeekMediaTime = 2, SeekByte = 3 };
    enum TimeFormat : std::int32_t { ByteFormat = 0, SampleFormat = 1, MediaTimeFormat = 2 };

    enum IdleFlush { FlushAlways, FlushOnlyWhenRunning };
    struct NewInputHold : oryx::Lockable {
        explicit NewInputHold(SingleStreamDemultiplexerFilter& owner) : owner(owner) {}
        void lock() override { owner.holdStream(FlushOnlyWhenRunning); }
        void unlock() override { owner.unlock(); }
        SingleStreamDemultiplexerFilter& owner;
    };

    enum SeekOutcome { NothingStored, SeekDone, SeekCutShort };

    void holdStream(IdleFlush idleFlush);
    // Raises a failure after clearing the command; a seek cut short stays
    // stored. Without positionLock held.
    SeekOutcome performStoredSeek();
    // While the worker is held (see Seeks above): false when cut short. A
    // failure is kept for the worker to report.
    bool carryOutStoredSeek();
    void seekTo(SeekCommand command, std::int64_t target);
    void streamSamples();
    // On the worker: raises a failure a controller's seek left, then carries
    // out a seek still stored.
    SeekOutcome seekOnWorker();
    // Signals that find no worker are dropped: the command stays stored.
    // True when a worker took it.
    bool signalIfRunning(Signal value);
    // stopRequested up (waking a worker that waits for the allocator) and
    // down, as described above.
    void requestStop();
    void allowStreaming();
    // The worker's wait after GetBuffer failed: until a controller asks it
    // to stop, or allocatorRetryMs have passed.
    void awaitAllocator();
    std::int64_t positionIn(TimeFormat format);
    std::int64_t durationIn(TimeFormat format);
    static SeekCommand seekCommandFor(TimeFormat format);

    // Written by SetTimeFormat and resetPosition only; one aligned value.
    volatile TimeFormat timeFormat = MediaTimeFormat;
    // The worker's own, and SetPositions' while the worker is held.
    bool discontinuityPending = false;
    // Read by the worker between steps; written by controllers, see above.
    std::atomic<bool> stopRequested{false};
    // True while the worker waits in awaitAllocator(); the controller that
    // finds it so sets allocatorWake. Both sides write their own flag before
    // they read the other's, so one of them always sees the other.
    std::atomic<bool> awaitingAllocator{false};
    oryx::Event allocatorWake{false, false};
    // Under positionLock.
    SeekCommand seekCommand = NoSeek;
    std::int64_t seekTarget = 0;
    std::exception_ptr seekFailure;
    // Stops that have begun and not yet ended; raised before any lock.
    std::atomic<int> stopsWaiting{0};
    // True while the worker carries out a seek itself.
    std::atomic<bool> workerSeeking{false};
    oryx::CriticalSection pauseLock;
    // Under pauseLock: a Hold reached the worker, which now waits; it stays
    // held after a seek cut short, until the Stop that cut it ends it.
    bool workerHeld = false;
    NewInputHold newInputHold{*this};
};
