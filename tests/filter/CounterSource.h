#pragma once

// A synthetic source for the streaming engine: 16-bit mono at 8000 samples a
// second whose every sample holds its own position (modulo 2^16), so a
// delivered buffer tells exactly where it came from. Buffers hold 500
// samples. Faults can be switched on to see how the engine reports them.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>

#include "com/CreateInstanceImpl.h"
#include "filter/SingleStreamDemultiplexerFilter.h"
#include "support/AutoLock.h"
#include "support/COMError.h"

// {8D1E5A42-6C3B-4F7A-9E20-1B4C7D5A9E63}
inline constexpr CLSID CLSID_CounterSource = {
    0x8d1e5a42, 0x6c3b, 0x4f7a, {0x9e, 0x20, 0x1b, 0x4c, 0x7d, 0x5a, 0x9e, 0x63}};

class CounterSource : public SingleStreamDemultiplexerFilter {
public:
    static constexpr std::int64_t rate = 8000;
    static constexpr std::uint32_t samplesPerBuffer = 500;

    explicit CounterSource(std::int64_t length = 10000)
        : SingleStreamDemultiplexerFilter(nullptr, L"Counter", &CLSID_CounterSource), length(length)
    {
    }
    ~CounterSource() override { stopWorker(); }

    // Under the locks a real source opens its file under, the worker held.
    void load()
    {
        oryx::AutoLock hold(newInputLock());
        oryx::AutoLock lock(filterLock);
        oryx::AutoLock position(positionLock);
        loaded = true;
        resetPosition();
    }
    // A new input that takes `opening` to open, without one meanwhile, under
    // the locks a real source opens its file under; `started` is raised once
    // they are held.
    void reload(std::chrono::milliseconds opening, std::atomic<bool>& started)
    {
        oryx::AutoLock lock(filterLock);
        oryx::AutoLock position(positionLock);
        loaded = false;
        started = true;
        std::this_thread::sleep_for(opening);
        loaded = true;
        resetPosition();
    }

    std::int64_t currentMediaTime() override { return currentSample() * 10'000'000 / rate; }
    std::int64_t currentSample() override
    {
        oryx::AutoLock lock(positionLock);
        return position;
    }
    std::int64_t currentByte() override { return 0; }
    std::int64_t durationMediaTime() override { return length * 10'000'000 / rate; }
    std::int64_t durationBytes() override { return 0; }
    std::int64_t durationSamples() override { return length; }
    void seekToByte(std::int64_t) override {}
    void seekToSample(std::int64_t target) override
    {
        if (failSeeks)
            throw oryx::COMError(E_ACCESSDENIED, "Can't seek the counter");
        oryx::AutoLock lock(positionLock);
        position = target < length ? target : length;
    }
    void seekToMediaTime(std::int64_t time) override { seekToSample(time * rate / 10'000'000); }
    bool fillSample(IMediaSample& sample) override
    {
        if (failFillAt >= 0 && currentSample() >= failFillAt)
            throw oryx::COMError(E_UNEXPECTED, "Can't read the counter");
        BYTE* buffer = nullptr;
        oryx::checkResult(sample.GetPointer(&buffer));
        std::int64_t start;
        std::int64_t count;
        {
            oryx::AutoLock lock(positionLock);
            start = position;
            count = std::min<std::int64_t>(sample.GetSize() / 2, length - position);
            position += count;
        }
        for (std::int64_t i = 0; i < count; ++i) {
            const auto value = static_cast<std::uint16_t>(start + i);
            std::memcpy(buffer + 2 * i, &value, 2);
        }
        sample.SetActualDataLength(static_cast<long>(2 * count));
        REFERENCE_TIME first = start - segmentStartSample;
        REFERENCE_TIME last = first + count;
        sample.SetMediaTime(&first, &last);
        sample.SetSyncPoint(TRUE);
        REFERENCE_TIME firstTime = first * 10'000'000 / rate;
        REFERENCE_TIME lastTime = last * 10'000'000 / rate;
        sample.SetTime(&firstTime, &lastTime);
        return count != 0;
    }
    bool supportsTimeSeeking() override { return true; }
    void onThreadStart() override
    {
        ++threadStarts;
        oryx::AutoLock lock(positionLock);
        position = 0;
    }
    bool hasInput() override { return loaded; }
    bool acceptsInputType(const MediaType&) override { return true; }
    bool isAcceptableType(const MediaType& type) override
    {
        MediaTypeHolder offered;
        getMediaType(*offered, 0);
        return type == *offered;
    }
    int mediaTypeCount() override { return 1; }
    void getMediaType(MediaType& out, unsigned) override
    {
        out.reset();
        makePcmAudioType(out, 1, static_cast<std::uint32_t>(rate), 16);
    }
    void requireAcceptableType(const MediaType& type) override
    {
        if (!isAcceptableType(type))
            throw oryx::COMError(VFW_E_TYPE_NOT_ACCEPTED);
    }
    std::uint32_t bufferSize() override { return 2 * samplesPerBuffer; }

    IPin* outputPinInterface() { return outputPin.pinInterface(); }
    IMediaSeeking* seeking() { return this; }

    std::atomic<bool> failSeeks{false};
    std::atomic<std::int64_t> failFillAt{-1};
    std::atomic<int> threadStarts{0};

private:
    const std::int64_t length;
    std::atomic<bool> loaded{false};
    std::int64_t position = 0;
};
