#pragma once
// The filter graph around one Monkey's Audio source: the source is created
// by its class identifier through its COM registration (never linked), loaded
// with the file, added to a graph, and its output pin "PCM Output" is then
// connected through the Sample Grabber, which lets the player count (or
// keep) every byte, either to the default sound device or to the Null
// Renderer for a conversion without a clock.
//
// Wine's graph manager never picks the source by the file's extension (its
// RenderFile ignores the registration of ".ape"), so the graph is built here
// rather than with RenderFile; on Windows the result is the same graph.
//
// Every failure raises PlayerError with a message for the console. Used by
// the one thread that made it; the graph's own threads call only the
// Sample Grabber's callback.

#include <optional>
#include <string>
#include <vector>

#include <windows.h>
#include <dshow.h>
#include <qedit.h>
#include <qnetwork.h>

#include "PcmFormat.h"
#include "support/COMPtr.h"

// Defined in the platform's strmiids library, declared by no header of
// this compiler's.
extern "C" const CLSID CLSID_SampleGrabber;
extern "C" const CLSID CLSID_NullRenderer;
// The compiler's control.h gives IMediaEvent no __uuidof.
__CRT_UUID_DECL(IMediaEvent, 0x56a868b6, 0x0ad4, 0x11ce, 0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70)

namespace apeplay {

struct TagText {
    const char* label;
    std::wstring text;
};

class PlaybackGraph {
public:
    explicit PlaybackGraph(const std::wstring& file);
    PlaybackGraph(const PlaybackGraph&) = delete;
    PlaybackGraph& operator=(const PlaybackGraph&) = delete;
    // Stops the graph, then lets it go.
    ~PlaybackGraph();

    // The format the output pin offers for the file, before any connection.
    PcmFormat offeredFormat() const;
    // The length of the file in 100-ns units, from the pin's IMediaSeeking.
    REFERENCE_TIME duration() const;
    // The tag texts that IAMMediaContent gives, in its order, empty ones left
    // out; none when the source lacks the interface.
    std::vector<TagText> tags() const;

    // Where the samples go after the Sample Grabber.
    enum class Destination {
        // The graph manager renders "PCM Output" (IGraphBuilder::Render),
        // which leads through the grabber, already in the graph, to the
        // DirectSound renderer of the default device.
        defaultDevice,
        // The Null Renderer, with the graph's clock taken away, so samples
        // flow as fast as they are decoded.
        nullRenderer,
    };
    // Connects "PCM Output" through the Sample Grabber to `destination` and
    // returns the format of the connection. The grabber calls `callback`'s
    // SampleCB for every sample, in order, on the streaming thread.
    PcmFormat connectThroughSampleGrabber(Destination destination, ISampleGrabberCB* callback);

    void seek(REFERENCE_TIME start);
    void run();
    void stop();
    // Where playback is, by the graph's clock; nothing when the graph can't
    // tell.
    std::optional<REFERENCE_TIME> position() const;
    // What the graph's events say about the stream.
    struct Outcome {
        enum class Kind { running, complete, aborted } kind = Kind::running;
        // Why, for an abort.
        HRESULT reason = S_OK;
    };
    // Takes the graph's next event, waiting up to `milliseconds`: complete
    // for EC_COMPLETE, aborted for EC_ERRORABORT and the other aborts,
    // running for the rest and for no event.
    Outcome waitForEvent(long milliseconds);

private:
    oryx::COMPtr<IGraphBuilder> graph;
    oryx::COMPtr<IMediaControl> control;
    oryx::COMPtr<IMediaEvent> events;
    oryx::COMPtr<IBaseFilter> source;
    oryx::COMPtr<IPin> output;
    oryx::COMPtr<ISampleGrabber> grabber;
};

} // namespace apeplay
