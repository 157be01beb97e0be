#include "monkeysaudio/ApeDecoder.h"

#include <sstream>
#include <utility>

#include "monkeysaudio/MonkeysAudioError.h"
#include "support/LossOfRange.h"

// A missing entry point leaves the constructor before `handle` is ever set;
// the base then releases the library reference.
ApeDecoder::ApeDecoder()
{
    load();
    create = entryPoint<decltype(create)>("c_APEDecompress_Create");
    destroy = entryPoint<decltype(destroy)>("c_APEDecompress_Destroy");
    getData = entryPoint<decltype(getData)>("c_APEDecompress_GetData");
    seekTo = entryPoint<decltype(seekTo)>("c_APEDecompress_Seek");
    getInfo = entryPoint<decltype(getInfo)>("c_APEDecompress_GetInfo");
    getTag = entryPoint<decltype(getTag)>("c_APEDecompress_GetTag");
}

ApeDecoder::~ApeDecoder()
{
    close();
}

void ApeDecoder::close() noexcept
{
    if (!handle)
        return;
    destroy(handle);
    handle = nullptr;
}

void ApeDecoder::open(const std::string& fileName)
{
    close();
    pendingError = 0;
    // Preset, so that a codec that fails without storing a code still
    // reports a failure rather than whatever the stack held.
    int error = undefinedCodecError;
    handle = create(fileName.c_str(), &error);
    if (!handle)
        throw MonkeysAudioError(error, "Can't open file \"" + fileName + '"');
}

std::int32_t ApeDecoder::info(std::int32_t field) const
{
    return getInfo(handle, field, 0, 0);
}

std::uint32_t ApeDecoder::sampleRate() const
{
    return oryx::rangeChecked<std::uint32_t>(info(sampleRateField));
}

std::uint32_t ApeDecoder::bitsPerSampleInfo() const
{
    return oryx::rangeChecked<std::uint32_t>(info(bitsPerSampleField));
}

std::uint32_t ApeDecoder::channelCount() const
{
    return oryx::rangeChecked<std::uint32_t>(info(channelCountField));
}

std::uint32_t ApeDecoder::seekDecodingLead(std::uint32_t block) const
{
    // A codec that does not know the field answers something negative or
    // absurd; one seek is then all a caller can do.
    const int lead = getInfo(handle, APE_INFO_SEEK_DECODING_LEAD, static_cast<int>(block), 0);
    return lead > 0 && static_cast<std::uint32_t>(lead) <= block ? static_cast<std::uint32_t>(lead) : 0;
}

void ApeDecoder::seek(std::uint32_t block)
{
    // The codec reads the block number back as unsigned.
    const int result = seekTo(handle, static_cast<int>(block));
    pendingError = 0;
    if (result != 0) {
        std::ostringstream text;
        text << "Can't seek to block position " << block << " in Monkey's Audio file";
        throw MonkeysAudioError(result, text.str());
    }
}

namespace {

std::string readFailureText(std::uint32_t blocks)
{
    std::ostringstream text;
    text << "Can't read " << blocks << " blocks from Monkey's Audio file";
    return text.str();
}

} // namespace

std::uint32_t ApeDecoder::read(void* buffer, std::uint32_t blocks)
{
    if (blocks == 0)
        return 0;
    if (const std::int32_t failure = std::exchange(pendingError, 0))
        throw MonkeysAudioError(failure, readFailureText(blocks));
    int delivered = 0;
    const int result = getData(handle, static_cast<char*>(buffer), static_cast<int>(blocks), &delivered);
    if (result != 0) {
        // The blocks decoded before a damaged frame are good audio: they
        // are handed over, and the failure comes with the next read.
        if (delivered > 0 && static_cast<std::uint32_t>(delivered) <= blocks) {
            pendingError = result;
            return static_cast<std::uint32_t>(delivered);
        }
        throw MonkeysAudioError(result, readFailureText(blocks));
    }
    const std::uint32_t count = oryx::rangeChecked<std::uint32_t>(delivered);
    // The caller sizes its copy from this count; more than it asked for would
    // run past the buffer it handed over.
    if (count > blocks) {
        std::ostringstream text;
        text << "Can't read " << blocks << " blocks from Monkey's Audio file: codec delivered " << count;
        throw MonkeysAudioError(undefinedCodecError, text.str());
    }
    return count;
}

APE_TAG_HANDLE ApeDecoder::tag() const
{
    int error = undefinedCodecError;
    // Success is judged by the error code alone, and only a 0 the codec
    // stored counts; a tagless file still has a handle, and whatever comes
    // back is the codec's to interpret.
    const APE_TAG_HANDLE result = getTag(handle, &error);
    // Callers match this text as it stands, lower case "monkeys" included.
    if (error != 0)
        throw MonkeysAudioError(error, "Can't retrieve monkeys audio tag");
    return result;
}
