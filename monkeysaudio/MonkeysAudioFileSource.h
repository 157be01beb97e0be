#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "com/CreateInstanceImpl.h"
#include "com/DelegatingUnknown.h"
#include "filter/FileSingleStreamDemultiplexerFilter.h"
#include "filter/IAMExtendedSeekingImpl.h"
#include "filter/IAMMediaContentImpl.h"
#include "filter/ISpecifyPropertyPagesImpl.h"
#include "monkeysaudio/AlbumTracks.h"
#include "monkeysaudio/ApeDecoder.h"

// The filter a player creates to play a .ape file. The framework streams,
// seeks and answers the file-source, media-content and property-page
// interfaces; this class supplies what depends on the data, through one
// ApeDecoder: one output type (integer PCM with the file's channels, rate and
// width), positions in blocks (one sample of every channel) and in 100-ns
// units, no byte positions, the tag's texts, and the tracks of an album
// image's cue sheet as markers.
//
// Locks (see SingleStreamDemultiplexerFilter for their order): the decoder's
// file is replaced only with the worker held by the pause lock and under
// filterLock and positionLock, so no read, seek or query meets a closed
// file. Reads and a seek's decoding run without a lock; the codec allows
// queries from other threads meanwhile, and while a seek decodes, the
// position is its target. The album's tracks are replaced with the file,
// under filterLock, which their readers take.
class MonkeysAudioFileSource : public FileSingleStreamDemultiplexerFilter,
                               public oryx::CreateInstanceImpl<MonkeysAudioFileSource>,
                               public oryx::DelegatingUnknown<MonkeysAudioFileSource, oryx::ISpecifyPropertyPagesImpl>,
                               public oryx::DelegatingUnknown<MonkeysAudioFileSource, IAMMediaContentImpl>,
                               public oryx::DelegatingUnknown<MonkeysAudioFileSource, IAMExtendedSeekingImpl> {
public:
    static constexpr std::int64_t unitsPerSecond = 10'000'000;
    static constexpr std::uint32_t blocksPerBuffer = 2000;
    // A seek decodes its frame up to the target in steps of this many
    // blocks (0.37 s of CD audio, a few milliseconds of decoding at the
    // highest level), so a Stop never waits longer than one step.
    static constexpr std::uint32_t seekStepBlocks = 16384;

    // Loads and checks the codec library; raises when it is missing or
    // refuses our interface version.
    explicit MonkeysAudioFileSource(IUnknown* outer);
    ~MonkeysAudioFileSource() override;

    IUnknown* interfaceFor(REFIID iid) override;

    std::int64_t currentMediaTime() override;
    std::int64_t currentSample() override;
    std::int64_t currentByte() override;
    std::int64_t durationMediaTime() override;
    std::int64_t durationBytes() override;
    std::int64_t durationSamples() override;
    void seekToByte(std::int64_t position) override;
    void seekToSample(std::int64_t position) override;
    void seekToMediaTime(std::int64_t time) override;
    bool fillSample(IMediaSample& sample) override;
    bool supportsTimeSeeking() override;
    void onThreadStart() override;
    bool hasInput() override;
    bool acceptsInputType(const MediaType& type) override;
    bool isAcceptableType(const MediaType& type) override;
    int mediaTypeCount() override;
    void getMediaType(MediaType& out, unsigned index) override;
    void requireAcceptableType(const MediaType& type) override;
    std::uint32_t bufferSize() override;

    void openFile(const wchar_t* fileName) override;

    std::wstring authorName() override;
    std::wstring title() override;
    std::wstring rating() override;
    std::wstring description() override;
    std::wstring copyright() override;
    std::wstring baseUrl() override;
    std::wstring logoUrl() override;

    long markerCount() override;
    std::optional<Marker> marker(long number) override;
    long currentMarker() override;

    std::uint32_t pageCount() override;
    const CLSID& pageClsid(std::uint32_t index) override;

private:
    // Blocks to 100-ns units and back, at the file's rate; 0 without a file.
    std::int64_t toMediaTime(std::int64_t blocks);
    std::uint32_t blockSize();
    std::wstring tagField(const char* name);

    ApeDecoder decoder;
    AlbumTracks album; // under filterLock
    // Under positionLock: the block a seek under way goes to, else -1.
    std::int64_t seekingTo = -1;
};
