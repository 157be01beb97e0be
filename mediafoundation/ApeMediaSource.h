// The Media Foundation source of one .ape byte stream: one audio stream of
// integer PCM (8, 16 or 24 bits, as the file holds it), seekable to the
// sample and pausable. The byte-stream handler makes it with create(); the
// pipeline drives it with Start, Pause, Stop and Shutdown and pulls samples
// through the stream's RequestSample.
//
// States: stopped (position 0, requests refused), started (each request is
// answered at once with the next sample, or with the end of the stream),
// paused (requests wait, with their tokens, for the next Start). Start with
// a position while started or paused is a seek. Shutdown is final: every
// later call answers MF_E_SHUTDOWN before its arguments are looked at (the
// stream's and the event queues' too), and it breaks the reference cycle
// with the stream, which the caller must therefore always make.
//
// Locks, in the order they may be nested:
//   1. `lock` (this object) guards the state, the position, the waiting
//      requests, the decoder and every call that queues an event, so the
//      events of one state change are queued together and in order.
//   2. ApeMediaStream's `lock` guards its back pointer to this object and
//      its shut-down flag; the stream never holds it while it calls here.
// The event queues (MediaEventGenerator) lock themselves and call their
// clients back on a Media Foundation work-queue thread, never inside
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

#include "com/DelegatingUnknown.h"
#include "com/IUnknownImpl.h"
#include "decoder/Decompressor.h"
#include "mediafoundation/MediaEventGenerator.h"
#include "support/COMPtr.h"
#include "support/CriticalSection.h"

class ApeMediaStream;

class ApeMediaSource : public oryx::DelegatingUnknown<ApeMediaSource, MediaEventGenerator<IMFMediaSource>>,
                       public oryx::DelegatingUnknown<ApeMediaSource, IMFGetService>,
                       public oryx::IUnknownImpl {
public:
    // A source over `stream`, with one reference held by the result. Raises
    // CodecError when the stream is not a whole .ape file and COMError when
    // a call of the stream or of Media Foundation fails.
    static oryx::COMPtr<IMFMediaSource> create(IMFByteStream& stream);

    IUnknown* interfaceFor(REFIID iid) override;

    // IMFMediaSource. Start takes GUID_NULL (or null) as the time format and
    // VT_EMPTY (the current position) or VT_I8 (100-ns units from the start,
    // cut to the length) as the position.
    STDMETHOD(GetCharacteristics)(DWORD* characteristics) override;
    STDMETHOD(CreatePresentationDescriptor)(IMFPresentationDescriptor** descriptor) override;
    STDMETHOD(Start)(IMFPresentationDescriptor* descriptor, const GUID* timeFormat,
                     const PROPVARIANT* startPosition) override;
    STDMETHOD(Stop)() override;
    STDMETHOD(Pause)() override;
    STDMETHOD(Shutdown)() override;

    // IMFGetService: MF_PROPERTY_HANDLER_SERVICE gives the file's format
    // and tag texts as a read-only IPropertyStore, the one the shell's
    // property handler gives (read on the first call, under `lock`).
    // MF_E_UNSUPPORTED_SERVICE for any other service and for a file whose
    // audio is cut short; MF_E_SHUTDOWN for every service after Shutdown.
    STDMETHOD(GetService)(REFGUID service, REFIID iid, void** out) override;

    // ApeMediaStream::RequestSample: `token` (may be null) goes back on the
    // sample that answers it.
    HRESULT requestSample(IUnknown* token);

private:
    enum class State { stopped, paused, started };

    explicit ApeMediaSource(std::unique_ptr<ape::Decompressor> decoder);
    ~ApeMediaSource() override;
    void initialise(); // makes the stream and the descriptor; raises COMError

    // All under `lock`.
    // Answers one request: a sample, or the end of the stream and of the
    // presentation; a decoding failure ends the stream with MEError first.
    void answer(IUnknown* token);
    void endStream(HRESULT status);
    std::int64_t timeOf(std::uint64_t block) const;

    oryx::CriticalSection lock;
    std::unique_ptr<ape::Decompressor> decoder; // null after Shutdown
    oryx::COMPtr<IMFPresentationDescriptor> presentation;
    oryx::COMPtr<IPropertyStore> properties;      // made on the first GetService
    oryx::COMPtr<IMFMediaStream> streamReference; // null after Shutdown
    ApeMediaStream* stream = nullptr;             // the same object
    State state = State::stopped;
    bool isShutdown = false;
    bool streamActive = false;                  // selected at the last Start
    bool streamAnnounced = false;               // MENewStream sent once; later starts send MEUpdatedStream
    bool streamEnded = false;                   // MEEndOfStream sent since the last Start
    bool discontinuity = false;                 // the next sample follows a seek or a start
    std::uint64_t position = 0;                 // block the next sample starts at
    std::deque<oryx::COMPtr<IUnknown>> waiting; // tokens of requests made while paused
};
