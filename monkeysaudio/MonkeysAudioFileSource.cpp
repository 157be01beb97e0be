#include "monkeysaudio/MonkeysAudioFileSource.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include <mmreg.h>

#include "monkeysaudio/ApeTagReader.h"
#include "monkeysaudio/CodecFileName.h"
#include "monkeysaudio/MonkeysAudioError.h"
#include "monkeysaudio/SourceIdentifiers.h"
#include "support/AutoLock.h"
#include "support/COMError.h"
#include "support/LossOfRange.h"

namespace {

// {00000001-0000-0010-8000-00AA00389B71}: integer PCM as an extensible
// format's subformat.
constexpr GUID pcmSubformat = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// Integer PCM only: the source never delivers float samples, so a
// renderer connected with a float description would play noise.
bool isIntegerPcmFormat(const BYTE* block, ULONG size)
{
    if (size < sizeof(PCMWAVEFORMAT))
        return false;
    WORD tag;
    std::memcpy(&tag, block, sizeof(tag));
    if (tag == WAVE_FORMAT_PCM)
        return true;
    if (tag != WAVE_FORMAT_EXTENSIBLE || size < sizeof(WAVEFORMATEXTENSIBLE))
        return false;
    GUID subformat;
    std::memcpy(&subformat, block + offsetof(WAVEFORMATEXTENSIBLE, SubFormat), sizeof(subformat));
    return IsEqualGUID(subformat, pcmSubformat);
}

} // namespace

MonkeysAudioFileSource::MonkeysAudioFileSource(IUnknown* outer)
    : FileSingleStreamDemultiplexerFilter(outer, sourceFilterName, &sourceClassId)
{
}

MonkeysAudioFileSource::~MonkeysAudioFileSource()
{
    // The worker reads through the decoder, which goes before the bases.
    stopWorker();
}

IUnknown* MonkeysAudioFileSource::interfaceFor(REFIID iid)
{
    if (IUnknown* found = FileSingleStreamDemultiplexerFilter::interfaceFor(iid))
        return found;
    if (IUnknown* found = ISpecifyPropertyPagesImpl::interfaceFor(iid))
        return found;
    if (IUnknown* found = IAMMediaContentImpl::interfaceFor(iid))
        return found;
    return IAMExtendedSeekingImpl::interfaceFor(iid);
}

std::int64_t MonkeysAudioFileSource::toMediaTime(std::int64_t blocks)
{
    const std::int64_t rate = decoder.sampleRate();
    return rate == 0 ? 0 : blocks * unitsPerSecond / rate;
}

std::uint32_t MonkeysAudioFileSource::blockSize()
{
    return oryx::rangeChecked<std::uint32_t>(decoder.info(ApeDecoder::blockAlignField));
}

std::int64_t MonkeysAudioFileSource::currentMediaTime()
{
    oryx::AutoLock lock(positionLock);
    return decoder.isOpen() ? toMediaTime(currentSample()) : 0;
}

std::int64_t MonkeysAudioFileSource::currentSample()
{
    oryx::AutoLock lock(positionLock);
    if (!decoder.isOpen())
        return 0;
    if (seekingTo >= 0)
        return seekingTo;
    return oryx::rangeChecked<std::uint32_t>(decoder.info(ApeDecoder::currentBlockField));
}

std::int64_t MonkeysAudioFileSource::currentByte()
{
    return 0;
}

std::int64_t MonkeysAudioFileSource::durationMediaTime()
{
    oryx::AutoLock lock(positionLock);
    return decoder.isOpen() ? toMediaTime(durationSamples()) : 0;
}

std::int64_t MonkeysAudioFileSource::durationBytes()
{
    return 0;
}

std::int64_t MonkeysAudioFileSource::durationSamples()
{
    // Under positionLock, which a new file's opening also holds.
    oryx::AutoLock lock(positionLock);
    if (!decoder.isOpen())
        return 0;
    return oryx::rangeChecked<std::uint32_t>(decoder.info(ApeDecoder::totalBlocksField));
}

void MonkeysAudioFileSource::seekToByte(std::int64_t)
{
}

void MonkeysAudioFileSource::seekToSample(std::int64_t position)
{
    std::uint32_t block = 0;
    {
        oryx::AutoLock lock(positionLock);
        if (!decoder.isOpen())
            return;
        // Past the end is where the stream ends, not a failure: Wine's graph
        // itself seeks there when its clock ran on after the end of the stream.
        block = oryx::rangeChecked<std::uint32_t>(std::min(position, durationSamples()));
        seekingTo = block;
    }
    struct Unpublish {
        MonkeysAudioFileSource& source;
        ~Unpublish()
        {
            oryx::AutoLock lock(source.positionLock);
            source.seekingTo = -1;
        }
    } unpublish{*this};
    // Decoded without positionLock, so that position queries answer the
    // target meanwhile. The file stays open: it is replaced only with the
    // worker held and no seek under way.
    const std::uint32_t lead = decoder.seekDecodingLead(block);
    if (lead > seekStepBlocks) {
        for (std::uint64_t step = std::uint64_t{block} - lead + seekStepBlocks; step < block; step += seekStepBlocks) {
            if (seekCancelled())
                return;
            decoder.seek(static_cast<std::uint32_t>(step));
        }
    }
    if (!seekCancelled())
        decoder.seek(block);
}

void MonkeysAudioFileSource::seekToMediaTime(std::int64_t time)
{
    std::int64_t rate;
    {
        oryx::AutoLock lock(positionLock);
        rate = decoder.isOpen() ? decoder.sampleRate() : 0;
    }
    // A time so far out that rate × time overflows lies past any file.
    if (rate != 0 && time > std::numeric_limits<std::int64_t>::max() / rate)
        time = std::numeric_limits<std::int64_t>::max() / rate;
    if (rate != 0 && time < std::numeric_limits<std::int64_t>::min() / rate)
        throw oryx::LossOfRange();
    seekToSample(rate * time / unitsPerSecond);
}

bool MonkeysAudioFileSource::fillSample(IMediaSample& sample)
{
    if (!decoder.isOpen())
        return false;
    BYTE* buffer = nullptr;
    oryx::checkResult(sample.GetPointer(&buffer));
    const std::uint32_t size = blockSize();
    const std::uint32_t fitting = oryx::rangeChecked<std::uint32_t>(sample.GetSize()) / size;
    REFERENCE_TIME start = currentSample() - segmentStartSample;
    // Never more than asked: the decoder refuses a codec that says otherwise.
    const std::uint32_t got = decoder.read(buffer, fitting);
    oryx::checkResult(sample.SetActualDataLength(oryx::rangeChecked<long>(std::uint64_t{size} * got)));
    REFERENCE_TIME stop = start + got;
    oryx::checkResult(sample.SetMediaTime(&start, &stop));
    oryx::checkResult(sample.SetSyncPoint(TRUE), "Can't change sync point flag");
    REFERENCE_TIME startTime = toMediaTime(start);
    REFERENCE_TIME stopTime = toMediaTime(stop);
    oryx::checkResult(sample.SetTime(&startTime, &stopTime), "Can't set stream time");
    return got != 0;
}

bool MonkeysAudioFileSource::supportsTimeSeeking()
{
    return true;
}

void MonkeysAudioFileSource::onThreadStart()
{
    oryx::AutoLock lock(filterLock);
    if (decoder.isOpen())
        decoder.seek(0);
}

bool MonkeysAudioFileSource::hasInput()
{
    return decoder.isOpen();
}

bool MonkeysAudioFileSource::acceptsInputType(const MediaType& type)
{
    return IsEqualGUID(type.majortype, MEDIATYPE_Stream) &&
           (IsEqualGUID(type.subtype, apeStreamSubtype) || IsEqualGUID(type.subtype, GUID_NULL));
}

bool MonkeysAudioFileSource::isAcceptableType(const MediaType& type)
{
    oryx::AutoLock lock(filterLock);
    if (!hasInput() || !IsEqualGUID(type.majortype, MEDIATYPE_Audio) || !IsEqualGUID(type.subtype, MEDIASUBTYPE_PCM))
        return false;
    if (!IsEqualGUID(type.formattype, FORMAT_WaveFormatEx) || !type.pbFormat ||
        !isIntegerPcmFormat(type.pbFormat, type.cbFormat))
        return false;
    WAVEFORMATEX format;
    std::memcpy(&format, type.pbFormat, sizeof(PCMWAVEFORMAT));
    return format.nChannels == decoder.channelCount() && format.nSamplesPerSec == decoder.sampleRate() &&
           format.wBitsPerSample == decoder.bitsPerSampleInfo();
}

int MonkeysAudioFileSource::mediaTypeCount()
{
    return 1;
}

void MonkeysAudioFileSource::getMediaType(MediaType& out, unsigned /*index*/)
{
    oryx::AutoLock lock(filterLock);
    const auto bits = oryx::rangeChecked<std::uint16_t>(decoder.bitsPerSampleInfo());
    const std::uint32_t rate = decoder.sampleRate();
    const auto channels = oryx::rangeChecked<std::uint16_t>(decoder.channelCount());
    makePcmAudioType(out, channels, rate, bits);
}

void MonkeysAudioFileSource::requireAcceptableType(const MediaType& type)
{
    if (!isAcceptableType(type))
        throw oryx::COMError(VFW_E_TYPE_NOT_ACCEPTED);
}

std::uint32_t MonkeysAudioFileSource::bufferSize()
{
    oryx::AutoLock lock(filterLock);
    if (!hasInput())
        throw oryx::COMError(VFW_E_NOT_CONNECTED, "Can't determine the buffer size if there's no input");
    return oryx::rangeChecked<std::uint32_t>(std::uint64_t{blockSize()} * blocksPerBuffer);
}

void MonkeysAudioFileSource::openFile(const wchar_t* fileName)
{
    // The worker must not be reading the file that is being replaced.
    oryx::AutoLock hold(newInputLock());
    oryx::AutoLock lock(filterLock);
    oryx::AutoLock position(positionLock);
    album = AlbumTracks();
    decoder.open(codecFileName(fileName));
    // Every time conversion divides by the rate and every buffer by the
    // block size.
    if (decoder.sampleRate() == 0 || blockSize() == 0) {
        decoder.close();
        throw MonkeysAudioError(-1, "Can't play \"" + oryx::narrow(fileName, CP_UTF8) +
                                        "\": it reports a sample rate or block size of 0");
    }
    album = AlbumTracks::ofFile(decoder, fileName);
    seekingTo = -1;
    fileMajorType = GUID_NULL;
    fileSubtype = apeStreamSubtype;
    resetPosition();
}

std::wstring MonkeysAudioFileSource::tagField(const char* name)
{
    oryx::AutoLock lock(filterLock);
    if (!decoder.isOpen())
        return {};
    const ApeTagReader reader(decoder);
    return reader.fieldExists(name) ? reader.fieldValue(name) : std::wstring();
}

std::wstring MonkeysAudioFileSource::authorName()
{
    return tagField("Artist");
}

std::wstring MonkeysAudioFileSource::title()
{
    return tagField("Title");
}

std::wstring MonkeysAudioFileSource::rating()
{
    return tagField("Genre");
}

std::wstring MonkeysAudioFileSource::description()
{
    // "Notes" is what older taggers wrote; "Comment" is what every tagger
    // writes now.
    std::wstring notes = tagField("Notes");
    return notes.empty() ? tagField("Comment") : notes;
}

std::wstring MonkeysAudioFileSource::copyright()
{
    return tagField("Copyright");
}

std::wstring MonkeysAudioFileSource::baseUrl()
{
    return tagField("File URL");
}

std::wstring MonkeysAudioFileSource::logoUrl()
{
    return {};
}

long MonkeysAudioFileSource::markerCount()
{
    oryx::AutoLock lock(filterLock);
    return static_cast<long>(album.tracks().size()); // at most 99
}

std::optional<IAMExtendedSeekingImpl::Marker> MonkeysAudioFileSource::marker(long number)
{
    oryx::AutoLock lock(filterLock);
    if (number < 1 || static_cast<unsigned long>(number) > album.tracks().size() || !decoder.isOpen())
        return std::nullopt;
    const AlbumTracks::Track& track = album.tracks()[static_cast<std::size_t>(number - 1)];
    return Marker{static_cast<double>(track.start) / decoder.sampleRate(), album.displayName(track)};
}

long MonkeysAudioFileSource::currentMarker()
{
    // filterLock before positionLock, the order openFile takes them in.
    oryx::AutoLock lock(filterLock);
    if (album.tracks().empty())
        return 0;
    return static_cast<long>(album.indexAt(static_cast<std::uint64_t>(currentSample())) + 1);
}

std::uint32_t MonkeysAudioFileSource::pageCount()
{
    return 1;
}

const CLSID& MonkeysAudioFileSource::pageClsid(std::uint32_t index)
{
    return index == 0 ? sourcePropertyPage : GUID_NULL;
}
