// apeplay: plays a Monkey's Audio file through DirectShow (or, with
// --engine mf, through Media Foundation) with its format,
// duration, tag texts and a progress line shown, or converts it to a WAV
// file (--wav) through the Sample Grabber as fast as it decodes; the whole
// file, from --start, or one track of an album image's cue sheet (--track). Exit
// status 0 on success; 1 with a one-line message on failure; 2 for a
// mistake in the arguments.
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include <windows.h>
#include <shellapi.h>

#include "ConsoleText.h"
#include "MediaFoundationPlayer.h"
#include "PlaybackGraph.h"
#include "PlayerError.h"
#include "PlayerOptions.h"
#include "SampleCollector.h"
#include "TagPictures.h"
#include "WavFileWriter.h"
#include "WorkerThreadsDrain.h"
#include "monkeysaudio/AlbumTracks.h"
#include "monkeysaudio/ApeDecoder.h"
#include "monkeysaudio/CodecFileName.h"
#include "support/COMPtr.h"

namespace {

using namespace apeplay;

constexpr long refreshMilliseconds = 250;
// A stream that delivers nothing for this long has stalled: the source may
// stop without an end of stream when the codec fails in mid-file. Playing,
// samples arrive at least every buffer's length (2000 blocks), far less.
constexpr ULONGLONG stallMilliseconds = 10'000;
constexpr REFERENCE_TIME unitsPerSecond = 10'000'000;

std::atomic<bool> interrupted{false};

BOOL WINAPI onConsoleControl(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    // The main loop stops the graph, so a partial WAV file is cleaned up.
    interrupted = true;
    return TRUE;
}

class ComApartment {
public:
    ComApartment()
    {
        const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (FAILED(hr))
            throw PlayerError("can't start COM: " + hresultText(hr));
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() { CoUninitialize(); }
};

// The one progress line, rewritten in place; the destructor ends it so that
// a message after it starts on a line of its own.
class ProgressDisplay {
public:
    ProgressDisplay() = default;
    ProgressDisplay(const ProgressDisplay&) = delete;
    ProgressDisplay& operator=(const ProgressDisplay&) = delete;
    ~ProgressDisplay() { finish(); }

    void show(REFERENCE_TIME position, REFERENCE_TIME duration)
    {
        std::printf("\r%s", progressLine(position, duration).c_str());
        std::fflush(stdout);
        open = true;
    }
    void finish()
    {
        if (open)
            std::printf("\n");
        std::fflush(stdout);
        open = false;
    }

private:
    bool open = false;
};

std::vector<std::wstring> commandLine()
{
    int count = 0;
    const std::unique_ptr<LPWSTR, decltype(&LocalFree)> arguments(CommandLineToArgvW(GetCommandLineW(), &count),
                                                                  &LocalFree);
    if (!arguments)
        throw PlayerError("can't read the command line");
    return std::vector<std::wstring>(arguments.get() + (count > 0 ? 1 : 0), arguments.get() + count);
}

void checkInterrupted()
{
    if (interrupted)
        throw PlayerError("interrupted");
}

REFERENCE_TIME timeOfBlocks(std::uint64_t blocks, const PcmFormat& format)
{
    return REFERENCE_TIME(blocks * std::uint64_t(unitsPerSecond) / format.sampleRate);
}

void printDescription(const PlayerOptions& options, const PcmFormat& format, REFERENCE_TIME duration,
                      const std::vector<TagText>& tags)
{
    std::printf("File         %s\n", toUtf8(options.file).c_str());
    std::printf("Format       %s\n", format.describe().c_str());
    std::printf("Duration     %s\n", formatClock(duration).c_str());
    for (const TagText& tag : tags)
        std::printf("%-12s %s\n", tag.label, toUtf8(tag.text).c_str());
    std::fflush(stdout);
}

// What of the file is streamed: from the block `start` falls in (the
// source truncates a time to a block), `bytes` bytes of PCM; a track is cut
// there, the rest of a file simply ends. The progress line shows positions
// from `origin` over `length`.
struct Span {
    REFERENCE_TIME start = 0;
    std::uint64_t bytes = 0;
    bool cut = false;
    REFERENCE_TIME origin = 0;
    REFERENCE_TIME length = 0;
};

// From `start` to the end, with blocks as the source counts them: the
// duration was truncated from a whole number of blocks, and a start position
// is truncated to one.
Span toTheEnd(REFERENCE_TIME start, REFERENCE_TIME duration, const PcmFormat& format)
{
    const std::uint64_t totalBlocks =
        (std::uint64_t(duration) * format.sampleRate + unitsPerSecond - 1) / std::uint64_t(unitsPerSecond);
    const std::uint64_t startBlock = std::uint64_t(start) * format.sampleRate / std::uint64_t(unitsPerSecond);
    return Span{start, (totalBlocks - std::min(startBlock, totalBlocks)) * format.blockAlign(), false, 0, duration};
}

// One track: from its first block to the next track's. The start time is
// rounded up, so that the source's truncation (and a rounding to the nearest
// block) lands on the first block itself.
Span ofTrack(const AlbumTracks::Track& track, const PcmFormat& format)
{
    const REFERENCE_TIME start =
        REFERENCE_TIME((track.start * std::uint64_t(unitsPerSecond) + format.sampleRate - 1) / format.sampleRate);
    return Span{start, (track.end - track.start) * format.blockAlign(), true, timeOfBlocks(track.start, format),
                timeOfBlocks(track.end - track.start, format)};
}

// The tracks of the file's cue sheet, read as the source filter reads them.
AlbumTracks albumOf(const std::wstring& file)
{
    ApeDecoder decoder;
    decoder.open(codecFileName(file));
    return AlbumTracks::ofFile(decoder, file);
}

void printTracks(const AlbumTracks& album, const PcmFormat& format)
{
    if (album.tracks().empty()) {
        std::printf("Tracks       none (no cue sheet in the tag or beside the file, or none for it)\n");
        return;
    }
    std::printf("Tracks       %zu\n", album.tracks().size());
    for (const AlbumTracks::Track& track : album.tracks()) {
        std::printf("  %02u  %10s  %10s  %s", track.number, formatClock(timeOfBlocks(track.start, format)).c_str(),
                    formatClock(timeOfBlocks(track.end - track.start, format)).c_str(), toUtf8(track.title).c_str());
        if (!track.performer.empty())
            std::printf("  / %s", toUtf8(track.performer).c_str());
        std::printf("\n");
    }
    std::fflush(stdout);
}

// The span the options ask for: a track of the album, or from --start to
// the end.
Span spanOf(const PlayerOptions& options, const PcmFormat& format, REFERENCE_TIME duration)
{
    if (!options.track) {
        const REFERENCE_TIME start = options.start.value_or(0);
        if (start > duration)
            throw PlayerError("--start " + formatClock(start) + " lies beyond the end (" + formatClock(duration) + ")");
        return toTheEnd(start, duration, format);
    }
    const AlbumTracks album = albumOf(options.file);
    for (const AlbumTracks::Track& track : album.tracks())
        if (track.number == *options.track) {
            std::printf("Track        %02u  %s\n", track.number, toUtf8(album.displayName(track)).c_str());
            return ofTrack(track, format);
        }
    throw PlayerError(album.tracks().empty() ? "the file has no tracks: no cue sheet in its tag or beside it"
                                             : "the file's cue sheet has no track " + std::to_string(*options.track));
}

// Streams the span and returns once all of it arrived; the progress
// follows the graph's clock when playing, the bytes received when
// converting. Raises PlayerError when the stream fails, stalls or ends short.
void stream(PlaybackGraph& graph, const PlayerOptions& options, const Span& span)
{
    const bool converting = !options.wavFile.empty();
    // The grabber takes its own reference; the last one to go deletes a
    // partial WAV file unless it was committed.
    SampleCollector* const collector = new SampleCollector;
    const oryx::COMPtr<ISampleGrabberCB> reference(collector);
    const PcmFormat format = graph.connectThroughSampleGrabber(
        converting ? PlaybackGraph::Destination::nullRenderer : PlaybackGraph::Destination::defaultDevice, collector);
    if (converting)
        collector->writeTo(std::make_unique<WavFileWriter>(options.wavFile, format));
    if (span.cut)
        collector->limitTo(span.bytes);

    // Positions in the span, for the progress line and the messages.
    const auto reached = [&](std::uint64_t bytes) {
        return span.start - span.origin + timeOfBlocks(bytes / format.blockAlign(), format);
    };
    const auto clock = [&](REFERENCE_TIME at) { return formatClock(at) + " of " + formatClock(span.length); };
    const REFERENCE_TIME end = span.origin + span.length;

    if (span.start > 0)
        graph.seek(span.start);
    ProgressDisplay progress;
    progress.show(span.start - span.origin, span.length);
    graph.run();
    std::uint64_t lastBytes = 0;
    ULONGLONG lastArrival = GetTickCount64();
    for (;;) {
        const PlaybackGraph::Outcome outcome = graph.waitForEvent(refreshMilliseconds);
        if (outcome.kind == PlaybackGraph::Outcome::Kind::complete)
            break;
        if (outcome.kind == PlaybackGraph::Outcome::Kind::aborted)
            throw PlayerError("the stream failed at " + clock(reached(collector->bytesCollected())) + " (" +
                              hresultText(outcome.reason) + "): the file may be damaged or truncated");
        checkInterrupted();
        if (collector->failed())
            throw PlayerError(collector->failure());
        const std::uint64_t bytes = collector->bytesCollected();
        if (bytes != lastBytes) {
            lastBytes = bytes;
            lastArrival = GetTickCount64();
        } else if (GetTickCount64() - lastArrival > stallMilliseconds) {
            throw PlayerError("decoding stopped at " + clock(reached(bytes)) + ": the file is damaged or truncated");
        }
        const REFERENCE_TIME played = graph.position().value_or(span.start);
        progress.show(converting ? reached(bytes) : played - span.origin, span.length);
        // A track ends before the file: once all of it arrived (converting)
        // or has been heard (playing).
        if (span.cut && bytes >= span.bytes && (converting || played >= end))
            break;
    }
    graph.stop();
    if (collector->failed())
        throw PlayerError(collector->failure());
    const std::uint64_t bytes = collector->bytesCollected();
    if (bytes < span.bytes)
        throw PlayerError("the stream ended at " + clock(reached(bytes)) + ": the file is damaged or truncated");
    collector->commit();
    progress.show(reached(bytes), span.length);
    progress.finish();
    if (converting)
        std::printf("Wrote        %s (%s, %llu bytes of PCM)\n", toUtf8(options.wavFile).c_str(),
                    format.describe().c_str(), static_cast<unsigned long long>(bytes));
}

// The same as through DirectShow, with the source Media Foundation finds:
// description, then a conversion through the source reader or playing
// through a media session.
void runThroughMediaFoundation(const PlayerOptions& options)
{
    MediaFoundationPlayer player(options.file);
    const PcmFormat format = player.offeredFormat();
    const REFERENCE_TIME duration = player.duration();
    printDescription(options, format, duration, player.tags());
    if (options.infoOnly)
        printPictures(options.file);
    if (options.listTracks)
        printTracks(albumOf(options.file), format);
    if (options.infoOnly || options.listTracks)
        return;
    const Span span = spanOf(options, format, duration);
    const auto reached = [&](std::uint64_t bytes) {
        return span.start - span.origin + timeOfBlocks(bytes / format.blockAlign(), format);
    };
    ProgressDisplay progress;
    progress.show(span.start - span.origin, span.length);
    if (options.wavFile.empty()) {
        const std::optional<REFERENCE_TIME> stop =
            span.cut ? std::optional<REFERENCE_TIME>(span.origin + span.length) : std::nullopt;
        player.play(span.start, stop, refreshMilliseconds, [&](REFERENCE_TIME position) {
            checkInterrupted();
            progress.show(position - span.origin, span.length);
        });
        progress.finish();
        return;
    }
    WavFileWriter writer(options.wavFile, format);
    ULONGLONG lastShown = GetTickCount64();
    const std::uint64_t bytes = player.convert(
        span.start, span.cut ? span.bytes : UINT64_MAX,
        [&](const BYTE* data, DWORD size) { writer.append(data, size); },
        [&](std::uint64_t sofar) {
            checkInterrupted();
            if (GetTickCount64() - lastShown >= refreshMilliseconds) {
                lastShown = GetTickCount64();
                progress.show(reached(sofar), span.length);
            }
        });
    if (bytes < span.bytes)
        throw PlayerError("the stream ended at " + formatClock(reached(bytes)) + " of " + formatClock(span.length) +
                          ": the file is damaged or truncated");
    writer.commit();
    progress.show(reached(bytes), span.length);
    progress.finish();
    std::printf("Wrote        %s (%s, %llu bytes of PCM)\n", toUtf8(options.wavFile).c_str(), format.describe().c_str(),
                static_cast<unsigned long long>(bytes));
}

void run(const PlayerOptions& options)
{
    const DWORD attributes = GetFileAttributesW(options.file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        throw PlayerError("no such file: \"" + toUtf8(options.file) + "\"");
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        throw PlayerError("\"" + toUtf8(options.file) + "\" is a folder, not a file");

    if (!options.coverFile.empty()) {
        const std::size_t bytes = writeFrontCover(options.file, options.coverFile);
        std::printf("Wrote        %s (the front cover, %llu bytes)\n", toUtf8(options.coverFile).c_str(),
                    static_cast<unsigned long long>(bytes));
        return;
    }
    if (options.engine == Engine::mediaFoundation) {
        const WorkerThreadsDrain drain; // ends after COM and Media Foundation have shut down
        const ComApartment com;
        runThroughMediaFoundation(options);
        return;
    }
    const ComApartment com;
    PlaybackGraph graph(options.file);
    const PcmFormat format = graph.offeredFormat();
    const REFERENCE_TIME duration = graph.duration();
    printDescription(options, format, duration, graph.tags());
    if (options.infoOnly)
        printPictures(options.file);
    if (options.listTracks)
        printTracks(albumOf(options.file), format);
    if (options.infoOnly || options.listTracks)
        return;
    stream(graph, options, spanOf(options, format, duration));
}

} // namespace

int main()
{
    // Plain line feeds: under Wine the output goes to Unix terminals and
    // pipes, and the Windows console starts a new line on them as well.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    try {
        const PlayerOptions options = parsePlayerOptions(commandLine());
        if (options.helpWanted) {
            std::fputs(usageText, stdout);
            return EXIT_SUCCESS;
        }
        SetConsoleCtrlHandler(onConsoleControl, TRUE);
        run(options);
        return EXIT_SUCCESS;
    } catch (const UsageError& e) {
        std::fprintf(stderr, "apeplay: %s (apeplay --help shows the usage)\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "apeplay: %s\n", e.what());
        return EXIT_FAILURE;
    }
}
