// apemf.dll's source played by Wine's media session (MFCreateMediaSession),
// found through the source resolver as a player finds it.
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

class MediaSession : public MediaFoundationTest {};

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
