#pragma once

// What the tests of apemf.dll share: the fixture that registers the module
// with regsvr32, starts Media Foundation for each test and checks at the end
// that no object of the module is left; the truth a reading is compared
// with; and the source reader's reading of a stream.
#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include <mfapi.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include "CorpusPlan.h"
#include "support/COMPtr.h"
#include "tests/monkeysaudio/RegisteredModule.h"

namespace mftest {

constexpr std::int64_t unitsPerSecond = 10'000'000; // Media Foundation's times count 100-ns units

// The PCM a file must give, from its first block to its last.
struct Truth {
    std::vector<std::uint8_t> pcm;
    std::uint32_t rate;       // blocks per second
    std::uint32_t blockAlign; // bytes per block

    std::uint64_t blocks() const { return pcm.size() / blockAlign; }
};

// The time stamp of `block`: the source's, rounded down.
inline std::int64_t timeOf(std::uint64_t block, std::uint32_t rate)
{
    return static_cast<std::int64_t>(block) * unitsPerSecond / rate;
}

// The block a Start at `time` begins with: the one whose stamp is nearest.
inline std::uint64_t blockNearest(std::int64_t time, std::uint32_t rate)
{
    const std::uint64_t below = static_cast<std::uint64_t>(time) * rate / unitsPerSecond;
    return timeOf(below + 1, rate) - time < time - timeOf(below, rate) ? below + 1 : below;
}

inline PROPVARIANT timeAt(std::int64_t time)
{
    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_I8;
    value.hVal.QuadPart = time;
    return value;
}

// The current media type of the presentation's one stream, which must be
// selected; null (with a failure recorded) when a call fails.
inline oryx::COMPtr<IMFMediaType> streamType(IMFPresentationDescriptor& presentation)
{
    BOOL selected = FALSE;
    oryx::COMPtr<IMFStreamDescriptor> stream;
    oryx::COMPtr<IMFMediaTypeHandler> types;
    oryx::COMPtr<IMFMediaType> type;
    EXPECT_EQ(presentation.GetStreamDescriptorByIndex(0, &selected, stream.receive()), S_OK);
    EXPECT_TRUE(selected);
    if (stream && SUCCEEDED(stream->GetMediaTypeHandler(types.receive()))) {
        EXPECT_EQ(types->GetCurrentMediaType(type.receive()), S_OK);
    }
    return type;
}

// What a source reader gave until the end, an error or `limit` bytes.
struct Reading {
    std::vector<std::uint8_t> pcm;
    HRESULT status = S_OK;  // of the failing ReadSample, else S_OK
    bool ended = false;     // MF_SOURCE_READERF_ENDOFSTREAM seen
    bool timesExact = true; // every sample stamped at its first block's time
    std::int64_t firstTime = -1;
};

inline Reading readSamples(IMFSourceReader& reader, std::uint64_t firstBlock, const Truth& format,
                           std::size_t limit = SIZE_MAX)
{
    Reading reading;
    while (reading.pcm.size() < limit) {
        DWORD index = 0, flags = 0;
        LONGLONG time = 0;
        oryx::COMPtr<IMFSample> sample;
        reading.status =
            reader.ReadSample(MF_SOURCE_READER_FIRST_AUDIO_STREAM, 0, &index, &flags, &time, sample.receive());
        if (FAILED(reading.status) || (flags & MF_SOURCE_READERF_ERROR)) {
            if (SUCCEEDED(reading.status))
                reading.status = E_FAIL;
            break;
        }
        if (sample) {
            const std::uint64_t block = firstBlock + reading.pcm.size() / format.blockAlign;
            if (reading.firstTime < 0)
                reading.firstTime = time;
            if (time != timeOf(block, format.rate))
                reading.timesExact = false;
            oryx::COMPtr<IMFMediaBuffer> buffer;
            EXPECT_EQ(sample->ConvertToContiguousBuffer(buffer.receive()), S_OK);
            BYTE* bytes = nullptr;
            DWORD length = 0;
            EXPECT_EQ(buffer->Lock(&bytes, nullptr, &length), S_OK);
            reading.pcm.insert(reading.pcm.end(), bytes, bytes + length);
            buffer->Unlock();
        }
        if (flags & MF_SOURCE_READERF_ENDOFSTREAM) {
            reading.ended = true;
            break;
        }
    }
    return reading;
}

class MediaFoundationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_EQ(runRegsvr32(registered::modulePath("apemf.dll")), 0u);
        CreateDirectoryA(registered::modulePath("mf").c_str(), nullptr);
    }
    // Where a test writes the files it makes.
    static std::string path(const std::string& name) { return registered::modulePath("mf\\" + name); }

    void SetUp() override
    {
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        ASSERT_EQ(MFStartup(MF_VERSION, MFSTARTUP_FULL), S_OK);
    }
    void TearDown() override
    {
        // Media Foundation's work-queue threads may still hold a callback's
        // last references for a moment after the test let go.
        HRESULT unload = S_FALSE;
        for (int i = 0; i < 100 && (unload = registered::moduleCanUnloadNow("apemf.dll")) != S_OK; ++i)
            Sleep(20);
        EXPECT_EQ(unload, S_OK) << "an object of the module was left alive";
        MFShutdown();
        CoUninitialize();
    }

    static std::vector<ape::CorpusItem> corpus() { return ape::CorpusPlan::build(true); }
    // Encodes `item` (seeded by `index`) into the file `name`: the encoder's
    // input is the truth.
    static Truth writeItem(const ape::CorpusItem& item, std::size_t index, const std::string& name)
    {
        ape::EncodedItem encoded = ape::CorpusPlan::encode(item, index);
        writeOnceFree(path(name), encoded.file);
        return {std::move(encoded.pcm), item.format.sampleRate, item.format.blockAlign()};
    }
    // A source the last reader let go of may still be ending a read on a
    // work queue, with the file open and shared for reading only: the file
    // is rewritten once that read has closed it.
    static void writeOnceFree(const std::string& file, const std::vector<std::uint8_t>& bytes)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            if (out &&
                out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
                return;
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << file << " stays open 10 s after its reader was released";
                return;
            }
            Sleep(5);
        }
    }
    static Truth writeCorpusFile(std::size_t index, const std::string& name)
    {
        return writeItem(corpus().at(index), index, name);
    }
};

} // namespace mftest
