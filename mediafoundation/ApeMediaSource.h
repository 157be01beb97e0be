// The Media Foundation source of one .ape byte stream: one audio stream of
// integer PCM (8, 16 or 24 bits, as the file holds it), seekable to the
// sample and pausable. The byte-stream handler makes it with create(); the
// pipeline drives it with Start, Pause, Stop and Shutdown and pulls samples
// through the stream's RequestSample.
//
// States: stopped (position 0, requests refused), started (requests are
// answered in order with the next sample, or with the end of the stream),
// paused (requests wait, with their tokens, for the next Start). Start with
// a position is a seek (while started or paused) and drops the requests not
// yet answered, as the pipeline flushes what it asked for before. Shutdown is final: every
// later call answers MF_E_SHUTDOWN before its arguments are looked at (the
// stream's and the event queues' too), and it breaks the reference cycle
// with the stream, which the caller must therefore always make.
//
// No caller's thread reads the byte stream. Everything the services give
// (the tag texts, the format) is read by create(), and samples are decoded
// by one read task at a time on a Media Foundation work queue: a request
// only queues its token. The task decodes without any lock and delivers
// under `lock` only if no Start, Pause or Stop came meanwhile (`generation`);
// otherwise the token stays queued and is answered from the new position.
//
// Locks, in the order they may be nested:
//   1. `lock` (this object) guards the state, the position, the queued
//      requests, `reading` and every call that queues an event, so the
//      events of one state change are queued together and in order. It is
//      never held across a call of the byte stream.
//   2. ApeMediaStream's `lock` guards its back pointer to this object and
//      its shut-down flag; the stream never holds it while it calls here.
// The decoder is outside both: only the read task touches it, while
// `reading` is set. The event queues (MediaEventGenerator) lock themselves
// and call their clients back on a work-queue thread, never inside
// QueueEvent, so queuing under `lock` cannot re-enter. That thread may call
// any method here; GetEvent, which can wait, takes no lock of ours. No lock
// is held while a reference that may be the last is released.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>

#include <windows.h>

#include <mfidl.h>
#include <propsys.h>

#include "bytesource/SeekingByteSource.h"
#include "com/DelegatingUnknown.h"
#include "com/IUnknownImpl.h"
#include "decoder/Decompressor.h"
#include "mediafoundation/MediaEventGenerator.h"
#include "support/COMPtr.h"
#include "support/CriticalSection.h"

class ApeMediaStream;

class ApeMediaSource : public oryx::DelegatingUnknown<ApeMediaSource, MediaEventGenerator<IMFMediaSource>>,
                       public oryx::DelegatingUnknown<ApeMediaSource, IMFGetService>,
                       public oryx::DelegatingUnknown<ApeMediaSource, IMFMetadataProvider>,
                       public oryx::DelegatingUnknown<ApeMediaSource, IMFRateSupport>,
                       public oryx::DelegatingUnknown<ApeMediaSource, IMFRateControl>,
                       public oryx::IUnknownImpl {
public:
    // A source over `stream`, with one reference held by the result. Raises
    // CodecError when the stream is not a whole .ape file and COMError when
    // a call of the stream or of Media Foundation fails.
    static oryx::COMPtr<IMFMediaSource> create(IMFByteStream& stream);

    IUnknown* interfaceFor(REFIID iid) override;

    // IMFMediaSource. Start takes GUID_NULL (or null) as the time format and
    // VT_EMPTY (the current position) or VT_I8 (100-ns units from the start,
    // cut to the length; the block whose time stamp is nearest) as the
    // position. Its events carry the time asked for and, as
    // MF_EVENT_SOURCE_ACTUAL_START, the stamp of the block it starts at.
    STDMETHOD(GetCharacteristics)(DWORD* characteristics) override;
    STDMETHOD(CreatePresentationDescriptor)(IMFPresentationDescriptor** descriptor) override;
    STDMETHOD(Start)(IMFPresentationDescriptor* descriptor, const GUID* timeFormat,
                     const PROPVARIANT* startPosition) override;
    STDMETHOD(Stop)() override;
    STDMETHOD(Pause)() override;
    STDMETHOD(Shutdown)() override;

    // IMFGetService: MF_PROPERTY_HANDLER_SERVICE gives the file's format
    // and tag texts as a read-only IPropertyStore, the one the shell's
    // property handler gives; MF_METADATA_PROVIDER_SERVICE the tag texts
    // (IMFMetadataProvider); MF_RATE_CONTROL_SERVICE IMFRateSupport and
    // IMFRateControl. MF_E_UNSUPPORTED_SERVICE for any other service, and
    // for the first two for a file whose audio is cut short; MF_E_SHUTDOWN
    // for every service after Shutdown.
    STDMETHOD(GetService)(REFGUID service, REFIID iid, void** out) override;

    // IMFMetadataProvider: the presentation's metadata (stream 0 only).
    STDMETHOD(GetMFMetadata)(IMFPresentationDescriptor* descriptor, DWORD streamId, DWORD flags,
                             IMFMetadata** metadata) override;

    // IMFRateSupport and IMFRateControl: a PCM source plays forward at any
    // rate from 0 (scrubbing) to maximumRate, as the presentation clock
    // paces it; it cannot play backward or thin its samples.
    STDMETHOD(GetSlowestRate)(MFRATE_DIRECTION direction, BOOL thin, float* rate) override;
    STDMETHOD(GetFastestRate)(MFRATE_DIRECTION direction, BOOL thin, float* rate) override;
    STDMETHOD(IsRateSupported)(BOOL thin, float rate, float* nearest) override;
    STDMETHOD(SetRate)(BOOL thin, float rate) override;
    STDMETHOD(GetRate)(BOOL* thin, float* rate) override;

    // ApeMediaStream::RequestSample: `token` (may be null) goes back on the
    // sample that answers it.
    HRESULT requestSample(IUnknown* token);

    static constexpr float maximumRate = 128.0f;

private:
    enum class State { stopped, paused, started };

    ApeMediaSource(std::unique_ptr<ape::Decompressor> decoder, oryx::SeekingByteSource& byteSource);
    ~ApeMediaSource() override;
    void initialise(IMFByteStream& stream); // makes the stream, the descriptor and the services' data

    // Under `lock`. startReading() queues the read task unless it is
    // already queued or nothing waits; if the queue refuses, the stream ends.
    void startReading();
    void endStream(HRESULT status);
    std::uint64_t blockNearest(std::int64_t time) const;
    std::int64_t timeOf(std::uint64_t block) const;

    // The read task, on a work queue, entered with `reading` set: answers
    // requests one sample at a time until none is left to answer now
    // (readOneSample() false), clearing `reading` then.
    void readSamples();
    bool readOneSample();
    struct Decoded;
    Decoded decode(std::uint64_t from, std::uint32_t blocks);

    // Set once by create(), before the object is handed out.
    std::uint32_t rate = 0;
    std::uint32_t blockAlign = 0;
    std::uint64_t totalBlocks = 0;
    std::uint32_t blocksPerSample = 0;
    oryx::SeekingByteSource* byteSource; // owned by `decoder`

    std::unique_ptr<ape::Decompressor> decoder; // the read task's alone; released at Shutdown

    oryx::CriticalSection lock;
    oryx::COMPtr<IMFPresentationDescriptor> presentation;
    oryx::COMPtr<IPropertyStore> properties;      // null for a file whose audio is cut short
    oryx::COMPtr<IMFMediaStream> streamReference; // null after Shutdown
    ApeMediaStream* stream = nullptr;             // the same object
    State state = State::stopped;
    bool isShutdown = false;
    bool streamActive = false;                   // selected at the last Start
    bool streamEnded = false;                    // MEEndOfStream sent since the last Start
    bool discontinuity = false;                  // the next sample follows a seek or a start from stopped
    bool reading = false;                        // a read task is queued or running
    std::uint64_t generation = 0;                // raised by every Start, Pause and Stop
    std::uint64_t position = 0;                  // block the next sample starts at
    std::deque<oryx::COMPtr<IUnknown>> requests; // tokens of requests not yet answered
    float playRate = 1.0f;
};
