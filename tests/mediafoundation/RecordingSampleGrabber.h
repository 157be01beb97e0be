#pragma once

// The callback of a sample grabber sink (MFCreateSampleGrabberSinkActivate)
// that keeps every sample the sink hands it, in the order they came: time
// stamp, duration, discontinuity flag and bytes; and signals reached() once
// the first sample stamped at or past a chosen time has come, so that a test
// can act while a session plays.
//
// The sink calls it on Media Foundation's threads. It never waits there:
// Wine's media session holds its own lock while it hands a sample to the
// sink, so a callback that waited would hold up the test's Start and Pause
// on that session too.
#include <cstdint>
#include <mutex>
#include <vector>

#include <windows.h>

#include <mfapi.h>
#include <mfidl.h>

#include "support/Event.h"
#include "tests/mediafoundation/TestCallback.h"

// IMFSampleGrabberSinkCallback2, which MinGW-w64's headers lack. A sink
// that finds it calls OnProcessSampleEx instead of OnProcessSample and hands
// over the sample's attributes, where the discontinuity flag travels.
struct SampleGrabberSinkCallback2 : IMFSampleGrabberSinkCallback {
    virtual HRESULT STDMETHODCALLTYPE OnProcessSampleEx(REFGUID majorType, DWORD flags, LONGLONG time,
                                                        LONGLONG duration, const BYTE* buffer, DWORD size,
                                                        IMFAttributes* attributes) = 0;
};
constexpr IID iidSampleGrabberSinkCallback2 = {
    0xca86aa50, 0xc46e, 0x429e, {0xab, 0x27, 0x16, 0xd6, 0xac, 0x68, 0x44, 0xcb}};

struct GrabbedSample {
    std::int64_t time;     // 100-ns units
    std::int64_t duration; // 100-ns units
    bool discontinuity;    // MFSampleExtension_Discontinuity set
    std::vector<std::uint8_t> bytes;
};

class RecordingSampleGrabber final : public TestCallback<SampleGrabberSinkCallback2> {
public:
    explicit RecordingSampleGrabber(std::int64_t signalAt) : signalAt(signalAt) {}

    bool answers(REFIID iid) const override
    {
        return IsEqualIID(iid, IID_IMFClockStateSink) || IsEqualIID(iid, IID_IMFSampleGrabberSinkCallback) ||
               IsEqualIID(iid, iidSampleGrabberSinkCallback2);
    }

    STDMETHODIMP OnClockStart(MFTIME, LONGLONG) override { return S_OK; }
    STDMETHODIMP OnClockStop(MFTIME) override { return S_OK; }
    STDMETHODIMP OnClockPause(MFTIME) override { return S_OK; }
    STDMETHODIMP OnClockRestart(MFTIME) override { return S_OK; }
    STDMETHODIMP OnClockSetRate(MFTIME, float) override { return S_OK; }
    STDMETHODIMP OnSetPresentationClock(IMFPresentationClock*) override { return S_OK; }
    STDMETHODIMP OnShutdown() override { return S_OK; }

    // Only a sink that does not know OnProcessSampleEx calls this; the
    // sample then looks continuous, whatever its flags.
    STDMETHODIMP OnProcessSample(REFGUID, DWORD, LONGLONG time, LONGLONG duration, const BYTE* buffer,
                                 DWORD size) override
    {
        record({time, duration, false, std::vector<std::uint8_t>(buffer, buffer + size)});
        return S_OK;
    }
    STDMETHODIMP OnProcessSampleEx(REFGUID, DWORD, LONGLONG time, LONGLONG duration, const BYTE* buffer, DWORD size,
                                   IMFAttributes* attributes) override
    {
        UINT32 discontinuity = FALSE;
        if (attributes)
            attributes->GetUINT32(MFSampleExtension_Discontinuity, &discontinuity);
        record({time, duration, discontinuity != FALSE, std::vector<std::uint8_t>(buffer, buffer + size)});
        return S_OK;
    }

    // Set once a sample stamped at or past the chosen time has come.
    const oryx::Event& reached() const { return reachedTime; }
    // A copy of what came so far.
    std::vector<GrabbedSample> samples() const
    {
        std::lock_guard locked(mutex);
        return recorded;
    }

private:
    ~RecordingSampleGrabber() override = default;

    void record(GrabbedSample sample)
    {
        const bool signal = sample.time >= signalAt;
        {
            std::lock_guard locked(mutex);
            recorded.push_back(std::move(sample));
        }
        if (signal)
            reachedTime.set();
    }

    const std::int64_t signalAt;
    oryx::Event reachedTime{true, false};
    mutable std::mutex mutex; // guards `recorded`
    std::vector<GrabbedSample> recorded;
};
