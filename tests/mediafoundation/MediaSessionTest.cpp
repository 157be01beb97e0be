// apemf.dll's source played by Wine's media session (MFCreateMediaSession),
// found through the source resolver as a player finds it: to the streaming
// audio renderer, and into a sample grabber sink whose callback keeps the
// PCM the session delivers, which is compared with the file's own PCM
// across seeks made while the session plays and while it is paused.
//
// What Wine 8's session does, and these tests allow for (its own WAV
// source shows the same):
// - Start with a position while it is started is ignored (its trace says
//   "Seeking is not implemented."): no MESessionStarted, and the playback
//   goes on unbroken. Pausing first, then Start with the position, seeks.
// - A seek from paused flushes nothing: samples from before the pause are
//   still delivered after the seek, even after MESessionStarted, ahead of
//   the first sample from the new position. The samples after a seek are
//   therefore told by the discontinuity flag the source sets and by their
//   time stamps, not by MESessionStarted.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include "support/COMPtr.h"
#include "tests/common/Watchdog.h"
#include "tests/mediafoundation/MediaFoundationTest.h"
#include "tests/mediafoundation/RecordingSampleGrabber.h"
#include "tests/monkeysaudio/RegisteredModule.h"

using oryx::COMPtr;
using namespace mftest;
using namespace registered;

namespace {

// The source of `file` through the source resolver, by its extension.
COMPtr<IMFMediaSource> resolvedSource(const std::string& file)
{
    COMPtr<IMFSourceResolver> resolver;
    EXPECT_EQ(MFCreateSourceResolver(resolver.receive()), S_OK);
    MF_OBJECT_TYPE type = MF_OBJECT_INVALID;
    COMPtr<IUnknown> object;
    EXPECT_EQ(
        resolver->CreateObjectFromURL(wide(file).c_str(), MF_RESOLUTION_MEDIASOURCE, nullptr, &type, object.receive()),
        S_OK);
    COMPtr<IMFMediaSource> source;
    if (object)
        source = object.get();
    return source;
}

// The source's one stream connected to `sink`.
COMPtr<IMFTopology> playbackTopology(IMFMediaSource& source, IMFActivate& sink)
{
    COMPtr<IMFPresentationDescriptor> presentation;
    EXPECT_EQ(source.CreatePresentationDescriptor(presentation.receive()), S_OK);
    BOOL selected = FALSE;
    COMPtr<IMFStreamDescriptor> stream;
    EXPECT_EQ(presentation->GetStreamDescriptorByIndex(0, &selected, stream.receive()), S_OK);
    COMPtr<IMFTopology> topology;
    COMPtr<IMFTopologyNode> input, output;
    EXPECT_EQ(MFCreateTopology(topology.receive()), S_OK);
    EXPECT_EQ(MFCreateTopologyNode(MF_TOPOLOGY_SOURCESTREAM_NODE, input.receive()), S_OK);
    EXPECT_EQ(input->SetUnknown(MF_TOPONODE_SOURCE, &source), S_OK);
    EXPECT_EQ(input->SetUnknown(MF_TOPONODE_PRESENTATION_DESCRIPTOR, presentation.get()), S_OK);
    EXPECT_EQ(input->SetUnknown(MF_TOPONODE_STREAM_DESCRIPTOR, stream.get()), S_OK);
    EXPECT_EQ(MFCreateTopologyNode(MF_TOPOLOGY_OUTPUT_NODE, output.receive()), S_OK);
    EXPECT_EQ(output->SetObject(&sink), S_OK);
    EXPECT_EQ(topology->AddNode(input.get()), S_OK);
    EXPECT_EQ(topology->AddNode(output.get()), S_OK);
    EXPECT_EQ(input->ConnectOutput(0, output.get(), 0), S_OK);
    return topology;
}

// Reads the session's events in order until one of `wanted` (which it
// returns), or MEUnknown when none came within `milliseconds`. Every event
// read on the way must report success.
MediaEventType awaitEvent(IMFMediaSession& session, std::initializer_list<MediaEventType> wanted, DWORD milliseconds)
{
    const ULONGLONG until = GetTickCount64() + milliseconds;
    while (GetTickCount64() < until) {
        COMPtr<IMFMediaEvent> event;
        if (FAILED(session.GetEvent(MF_EVENT_FLAG_NO_WAIT, event.receive()))) {
            Sleep(10);
            continue;
        }
        MediaEventType type = MEUnknown;
        HRESULT status = S_OK;
        event->GetType(&type);
        event->GetStatus(&status);
        EXPECT_EQ(status, S_OK) << "event " << type;
        if (std::find(wanted.begin(), wanted.end(), type) != wanted.end())
            return type;
    }
    return MEUnknown;
}

void closeSession(IMFMediaSession& session, IMFMediaSource& source)
{
    ASSERT_EQ(session.Close(), S_OK);
    EXPECT_EQ(awaitEvent(session, {MESessionClosed}, 30'000), MESessionClosed);
    EXPECT_EQ(source.Shutdown(), S_OK);
    EXPECT_EQ(session.Shutdown(), S_OK);
}

// A run of the samples a session delivered, from one the source marked as a
// discontinuity (its start, or a seek) up to the next such, checked against
// the truth from the block its first time stamp names.
struct Segment {
    std::uint64_t firstBlock = 0;
    std::uint64_t blocks = 0; // delivered in the segment
    std::size_t samples = 0;
    bool marked = true;     // the first sample carries the discontinuity flag
    bool timesExact = true; // each sample stamped at its first block's time, lasting until the next one's
    bool pcmExact = true;   // every byte the truth's

    std::string describe() const
    {
        return "blocks " + std::to_string(firstBlock) + ".." + std::to_string(firstBlock + blocks) + " in " +
               std::to_string(samples) + " samples" + (marked ? "" : ", unmarked") +
               (timesExact ? "" : ", time stamps wrong") + (pcmExact ? "" : ", PCM differs");
    }
};

std::vector<Segment> segmentsOf(const std::vector<GrabbedSample>& samples, const Truth& truth)
{
    std::vector<Segment> segments;
    for (const GrabbedSample& sample : samples) {
        if (segments.empty() || sample.discontinuity) {
            Segment segment;
            // The one block stamped with this time, if any: a block lasts
            // less than a time unit.
            const std::int64_t time = std::max<std::int64_t>(sample.time, 0);
            segment.firstBlock = static_cast<std::uint64_t>((time * truth.rate + unitsPerSecond - 1) / unitsPerSecond);
            segment.marked = sample.discontinuity;
            segments.push_back(segment);
        }
        Segment& segment = segments.back();
        const std::uint64_t block = segment.firstBlock + segment.blocks;
        const std::uint64_t count = sample.bytes.size() / truth.blockAlign;
        const std::size_t offset = block * truth.blockAlign;
        segment.pcmExact = segment.pcmExact && sample.bytes.size() % truth.blockAlign == 0 &&
                           block + count <= truth.blocks() &&
                           std::equal(sample.bytes.begin(), sample.bytes.end(),
                                      truth.pcm.begin() + static_cast<std::ptrdiff_t>(offset));
        segment.timesExact = segment.timesExact && sample.time == timeOf(block, truth.rate) &&
                             sample.duration == timeOf(block + count, truth.rate) - sample.time;
        segment.blocks += count;
        ++segment.samples;
    }
    return segments;
}

// The segments must start at `firstBlocks`, in that order, each with at
// least one sample, every one exact, and the last must reach the end.
void expectSegments(const std::vector<Segment>& segments, std::initializer_list<std::uint64_t> firstBlocks,
                    const Truth& truth)
{
    std::string all;
    for (const Segment& segment : segments)
        all += "\n  " + segment.describe();
    ASSERT_EQ(segments.size(), firstBlocks.size()) << "delivered:" << all;
    auto first = firstBlocks.begin();
    for (const Segment& segment : segments) {
        EXPECT_EQ(segment.firstBlock, *first++) << "delivered:" << all;
        EXPECT_GT(segment.blocks, 0u) << "delivered:" << all;
        EXPECT_TRUE(segment.marked && segment.timesExact && segment.pcmExact) << "delivered:" << all;
    }
    EXPECT_EQ(segments.back().firstBlock + segments.back().blocks, truth.blocks()) << "delivered:" << all;
}

class MediaSession : public MediaFoundationTest {
protected:
    // How a session's playback went with one seek in it.
    struct Playback {
        std::vector<GrabbedSample> samples; // in the order the sink had them
        bool seekAnswered = false;          // MESessionStarted came for the seek
    };

    // Plays `file` into a sample grabber from its start and, once the first
    // sample at or past `actAt` has come, seeks to `seekTo`: at once while
    // the session runs, or (`pauseFirst`) after pausing it. Then plays to
    // MESessionEnded and closes the session.
    //
    // The grabber keeps to the presentation clock, so playing takes as long
    // as the file lasts and the test has that time to act.
    static void playAndSeek(const std::string& file, std::int64_t actAt, std::int64_t seekTo, bool pauseFirst,
                            Playback& playback)
    {
        COMPtr<IMFMediaSource> source = resolvedSource(file);
        ASSERT_TRUE(source);
        EXPECT_EQ(moduleCanUnloadNow("apemf.dll"), S_FALSE) << "the resolver's source is not ours";
        COMPtr<IMFPresentationDescriptor> presentation;
        ASSERT_EQ(source->CreatePresentationDescriptor(presentation.receive()), S_OK);
        COMPtr<IMFMediaType> type = streamType(*presentation);
        ASSERT_TRUE(type);
        COMPtr<RecordingSampleGrabber> grabber(new RecordingSampleGrabber(actAt));
        COMPtr<IMFActivate> sink;
        ASSERT_EQ(MFCreateSampleGrabberSinkActivate(type.get(), grabber.get(), sink.receive()), S_OK);
        COMPtr<IMFTopology> topology = playbackTopology(*source, *sink);
        COMPtr<IMFMediaSession> session;
        ASSERT_EQ(MFCreateMediaSession(nullptr, session.receive()), S_OK);
        ASSERT_EQ(session->SetTopology(0, topology.get()), S_OK);
        PROPVARIANT position = timeAt(0);
        ASSERT_EQ(session->Start(&GUID_NULL, &position), S_OK);
        EXPECT_EQ(awaitEvent(*session, {MESessionStarted}, 60'000), MESessionStarted);
        EXPECT_EQ(grabber->reached().wait(60'000), oryx::WaitResult::Signalled) << "no sample came";

        if (pauseFirst) {
            ASSERT_EQ(session->Pause(), S_OK);
            ASSERT_EQ(awaitEvent(*session, {MESessionPaused, MESessionEnded}, 60'000), MESessionPaused)
                << "the file ended before the session paused";
        }
        position = timeAt(seekTo);
        ASSERT_EQ(session->Start(&GUID_NULL, &position), S_OK);
        const MediaEventType next = awaitEvent(*session, {MESessionStarted, MESessionEnded}, 60'000);
        ASSERT_NE(next, MEUnknown) << "the session neither started again nor ended";
        playback.seekAnswered = next == MESessionStarted;
        if (playback.seekAnswered) {
            EXPECT_EQ(awaitEvent(*session, {MESessionEnded}, 60'000), MESessionEnded) << "the session never ended";
        }
        closeSession(*session, *source);
        playback.samples = grabber->samples();
    }
};

// From a real file (its truth proved by ffmpeg's md5 of the reading) and a
// generated one (24-bit mono, the encoder's input as the truth): a seek
// while the session runs, and one while it is paused, each to a time inside
// a block and a frame. What the sink gets must be the file's PCM from the
// start, then, from a sample marked as a discontinuity, the PCM from the
// block the position falls in to the very end, every sample stamped with
// its first block's time; and the session must end, close and leave nothing
// of the module alive.
TEST_F(MediaSession, SeekingWhilePlayingOrPausedDeliversTheFilesPcmFromThePositionsBlockToTheEnd)
{
    Watchdog watchdog{600'000};
    struct File {
        std::string name;
        Truth truth;
    };
    std::vector<File> files;
    {
        const std::vector<RealFile> real = goodRealFiles();
        const auto atl =
            std::find_if(real.begin(), real.end(), [](const RealFile& file) { return file.name == "atl-ape.ape"; });
        ASSERT_NE(atl, real.end()) << "the real samples are missing";
        COMPtr<IMFSourceReader> reader;
        ASSERT_EQ(MFCreateSourceReaderFromURL(wide(realSample(atl->name)).c_str(), nullptr, reader.receive()), S_OK);
        Truth truth{{}, atl->rate, atl->blockAlign};
        truth.pcm = readSamples(*reader, 0, truth).pcm;
        ASSERT_EQ(md5(truth.pcm), atl->md5);
        files.push_back({realSample(atl->name), std::move(truth)});
    }
    {
        // Four seconds at 48 kHz in frames of 73728 blocks: three frames.
        ape::EncoderOptions options;
        options.level = 3000;
        const ape::CorpusItem item{"music-24b-1ch", ape::Signal::music, ape::PcmFormat{1, 24, 48000}, 192'000, options};
        files.push_back({path("session.ape"), writeItem(item, 7, "session.ape")});
    }

    for (const File& file : files) {
        const Truth& truth = file.truth;
        const std::int64_t length = timeOf(truth.blocks(), truth.rate);
        // Forward while running, backward while paused; 777 units (77.7 us)
        // past a tenth, so no position is a block's or a frame's first.
        struct Seek {
            const char* what;
            bool pauseFirst;
            std::int64_t actAt;
            std::int64_t seekTo;
        };
        const Seek seeks[] = {{"while playing", false, length / 10, length * 7 / 10 + 777},
                              {"while paused", true, length / 5, length / 10 + 777}};
        for (const Seek& seek : seeks) {
            SCOPED_TRACE(file.name + ", seek " + seek.what);
            const std::uint64_t seekBlock = blockNearest(seek.seekTo, truth.rate);
            ASSERT_NE(timeOf(seekBlock, truth.rate), seek.seekTo) << "a position inside a block";
            Playback playback;
            ASSERT_NO_FATAL_FAILURE(playAndSeek(file.name, seek.actAt, seek.seekTo, seek.pauseFirst, playback));
            const std::vector<Segment> segments = segmentsOf(playback.samples, truth);
            if (seek.pauseFirst) {
                EXPECT_TRUE(playback.seekAnswered) << "a seek from paused must start the session again";
                expectSegments(segments, {0, seekBlock}, truth);
            } else {
                // Wine 8's session never passes a seek made while it plays
                // on to the source (the source's own test seeks a started
                // source): all there is to check here is that the playback
                // goes on unbroken.
                EXPECT_FALSE(playback.seekAnswered);
                expectSegments(segments, {0}, truth);
            }
            std::printf("%s, seek %s to block %llu: %s; delivered:", file.name.c_str(), seek.what,
                        static_cast<unsigned long long>(seekBlock),
                        playback.seekAnswered ? "the session started again" : "the session ignored it");
            for (const Segment& segment : segments)
                std::printf(" [%s]", segment.describe().c_str());
            std::printf("\n");
        }
    }
}

// A media session plays the source to the streaming audio renderer of the
// default device (ALSA's null device here) until MESessionEnded, from the
// start and from a seek, and closes; a stalled session fails the bound.
TEST_F(MediaSession, AMediaSessionPlaysToTheEndFromTheStartAndAfterASeekAndCloses)
{
    Watchdog watchdog{180'000};
    for (const std::int64_t start : {std::int64_t{0}, std::int64_t{50'000'000}}) {
        SCOPED_TRACE("from " + std::to_string(start));
        COMPtr<IMFMediaSource> source = resolvedSource(realSample("atl-ape.ape"));
        ASSERT_TRUE(source);
        COMPtr<IMFActivate> renderer;
        ASSERT_EQ(MFCreateAudioRendererActivate(renderer.receive()), S_OK);
        COMPtr<IMFTopology> topology = playbackTopology(*source, *renderer);
        COMPtr<IMFMediaSession> session;
        ASSERT_EQ(MFCreateMediaSession(nullptr, session.receive()), S_OK);
        ASSERT_EQ(session->SetTopology(0, topology.get()), S_OK);
        PROPVARIANT position = timeAt(start);
        const ULONGLONG began = GetTickCount64();
        ASSERT_EQ(session->Start(&GUID_NULL, &position), S_OK);
        EXPECT_EQ(awaitEvent(*session, {MESessionEnded}, 60'000), MESessionEnded) << "the session never ended";
        std::printf("Media session from %lld: ended after %llu ms (the file lasts 7.6 s)\n",
                    static_cast<long long>(start), GetTickCount64() - began);
        closeSession(*session, *source);
    }
}

} // namespace
