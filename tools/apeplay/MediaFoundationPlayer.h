#pragma once
// The Media Foundation engine of apeplay: the file's source found as every
// Media Foundation player finds it, by the source resolver through the
// byte-stream handler registered for ".ape"; read through the source reader
// for a conversion, played through a media session to the streaming audio
// renderer of the default device otherwise.
//
// Every failure raises PlayerError with a message for the console. Used by
// the one thread that made it.

#include <functional>
#include <optional>
#include <vector>

#include <windows.h>

#include <mfidl.h>
#include <mfreadwrite.h>

#include "PcmFormat.h"
#include "PlaybackGraph.h"
#include "support/COMPtr.h"

namespace apeplay {

class MediaFoundationPlayer {
public:
    explicit MediaFoundationPlayer(const std::wstring& file);
    MediaFoundationPlayer(const MediaFoundationPlayer&) = delete;
    MediaFoundationPlayer& operator=(const MediaFoundationPlayer&) = delete;
    // Shuts the source down and Media Foundation with it.
    ~MediaFoundationPlayer();

    // The stream's native type and the presentation's length in 100-ns units.
    PcmFormat offeredFormat() const { return format; }
    REFERENCE_TIME duration() const { return length; }
    // The tag texts of the source's property store
    // (MF_PROPERTY_HANDLER_SERVICE) under the labels the DirectShow engine
    // prints, in its order; none when the source has no store.
    std::vector<TagText> tags() const;

    // Hands every block from `start` on to `sink`, in order, as fast as it is
    // decoded, up to `limit` bytes (the rest of a sample past it is not
    // handed over); `tick` runs after each sample (and may raise to stop).
    // Returns the bytes delivered; raises PlayerError when a read fails.
    std::uint64_t convert(REFERENCE_TIME start, std::uint64_t limit,
                          const std::function<void(const BYTE*, DWORD)>& sink,
                          const std::function<void(std::uint64_t bytes)>& tick);
    // Plays from `start` to `stop` (the end when none); `tick` receives the
    // clock's position about every `refreshMilliseconds` (and may raise to
    // stop).
    void play(REFERENCE_TIME start, std::optional<REFERENCE_TIME> stop, DWORD refreshMilliseconds,
              const std::function<void(REFERENCE_TIME)>& tick);

private:
    struct Startup {
        Startup();
        ~Startup();
    } startup;
    oryx::COMPtr<IMFMediaSource> source;
    oryx::COMPtr<IMFPresentationDescriptor> presentation;
    PcmFormat format;
    REFERENCE_TIME length = 0;
};

} // namespace apeplay
