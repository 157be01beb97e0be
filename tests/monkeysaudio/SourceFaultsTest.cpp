// The source filter over a fake codec that reports what a real one never
// should: a rate of 0, positions that do not fit, a decoder that fails.
#include <limits>

#include <gtest/gtest.h>

#include "com/IUnknownImpl.h"
#include "monkeysaudio/MonkeysAudioFileSource.h"
#include "support/COMPtr.h"
#include "support/LossOfRange.h"
#include "tests/monkeysaudio/FakeCodecFixture.h"

namespace {

class SourceFaults : public FakeCodecFixture {
protected:
    const LONG objectsBefore = oryx::objectCount;

    void TearDown() override { EXPECT_EQ(oryx::objectCount, objectsBefore) << "an object was left alive"; }
};

TEST_F(SourceFaults, RefusesAFileWithoutARateAndConvertsPositionsSafely)
{
    auto* source = new MonkeysAudioFileSource(nullptr);
    const oryx::COMPtr<IBaseFilter> filter(source);
    oryx::COMPtr<IFileSourceFilter> file;
    file = filter.get();

    // Every time conversion divides by the rate.
    control->sampleRate = 0;
    EXPECT_EQ(file->Load(L"zero-rate.ape", nullptr), E_FAIL);
    EXPECT_FALSE(source->hasInput());
    EXPECT_EQ(control->openFiles, 0) << "the refused file is closed again";
    EXPECT_EQ(source->currentMediaTime(), 0);
    EXPECT_THROW(source->bufferSize(), oryx::COMError);
    EXPECT_EQ(filter->Pause(), S_OK) << "no file: the worker must not rewind a closed decoder";
    EXPECT_EQ(filter->Stop(), S_OK);

    control->sampleRate = 44100;
    ASSERT_EQ(file->Load(L"sound.ape", nullptr), S_OK);
    EXPECT_EQ(source->durationMediaTime(), 5000 * 10'000'000LL / 44100);
    EXPECT_EQ(source->bufferSize(), 8000u) << "2000 blocks of 4 bytes";
    source->seekToMediaTime(1'000'000);
    EXPECT_EQ(control->lastSeekBlock, 4410u);
    source->seekToMediaTime(-1);
    EXPECT_EQ(control->lastSeekBlock, 0u) << "the division truncates toward zero";
    EXPECT_THROW(source->seekToMediaTime(-10'000'000), boost::bad_numeric_cast);
    EXPECT_THROW(source->seekToSample(-1), boost::bad_numeric_cast);
    // Past the end is the end, as far out as rate x time would overflow:
    // Wine's graph seeks there after its clock ran on past the stream.
    source->seekToSample(5001);
    EXPECT_EQ(control->lastSeekBlock, 5000u);
    source->seekToMediaTime(1);
    source->seekToMediaTime(std::numeric_limits<std::int64_t>::max() / 2);
    EXPECT_EQ(control->lastSeekBlock, 5000u);
}

} // namespace
