#pragma once
// The Sample Grabber's callback: counts every sample's bytes, so the player
// knows whether the whole stream arrived, and for a conversion writes them,
// in the order the grabber delivers them, into the WAV file.
//
// Threads: SampleCB runs on the source's streaming thread; the controlling
// thread calls writeTo() before streaming starts, reads bytesCollected() and
// failed() while streaming runs, and calls commit() only after the graph
// has stopped. A write
// error is kept, later samples are dropped, and the controlling thread is
// expected to notice failed() and stop the graph.
//
// The grabber holds a reference until the graph lets it go, so the object
// is heap-born and counted (IUnknownImpl); the WAV file's partial name is
// removed when the last reference goes unless commit() succeeded.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include "WavFileWriter.h"
#include "com/DelegatingUnknown.h"
#include "com/IUnknownImpl.h"
#include "support/CriticalSection.h"

namespace apeplay {

class SampleCollector : public oryx::DelegatingUnknown<SampleCollector, ISampleGrabberCB>, public oryx::IUnknownImpl {
public:
    SampleCollector();

    // From now on the bytes also go into `file`; before streaming starts.
    void writeTo(std::unique_ptr<WavFileWriter> file);
    // Only the first `bytes` of the stream pass: a sample that crosses the
    // limit is cut short and later ones are emptied, for the file and the
    // renderer alike. Before streaming starts.
    void limitTo(std::uint64_t bytes) { limit = bytes; }

    STDMETHOD(SampleCB)(double sampleTime, IMediaSample* sample) override;
    // Not used: the grabber is set to call SampleCB, which needs no copy.
    STDMETHOD(BufferCB)(double sampleTime, BYTE* buffer, LONG length) override;

    IUnknown* interfaceFor(REFIID iid) override;

    std::uint64_t bytesCollected() const { return collected.load(); }
    bool failed() const { return hasFailed.load(); }
    // The first write error's text; empty when none.
    std::string failure();
    // Completes the WAV file, if there is one.
    void commit();

private:
    std::unique_ptr<WavFileWriter> writer;
    std::uint64_t limit = UINT64_MAX;
    std::atomic<std::uint64_t> collected{0};
    std::atomic<bool> hasFailed{false};
    oryx::CriticalSection failureLock; // guards failureText
    std::string failureText;
};

} // namespace apeplay
