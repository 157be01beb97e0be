#include "filter/MediaType.h"

#include <algorithm>
#include <cstring>

#include <mmreg.h>

MediaType::MediaType(const GUID& major, const GUID& subtype)
{
    reset();
    majortype = major;
    this->subtype = subtype;
}

void MediaType::reset()
{
    std::memset(static_cast<AM_MEDIA_TYPE*>(this), 0, sizeof(AM_MEDIA_TYPE));
}

void MediaType::copyFrom(const AM_MEDIA_TYPE& source)
{
    BYTE* block = nullptr;
    // A size without a block is a malformed type from outside: it is
    // copied as a type without format rather than read through null.
    if (source.cbFormat != 0 && source.pbFormat) {
        block = static_cast<BYTE*>(taskAllocate(source.cbFormat));
        std::memcpy(block, source.pbFormat, source.cbFormat);
    }
    static_cast<AM_MEDIA_TYPE&>(*this) = source;
    pbFormat = block;
    if (!block)
        cbFormat = 0;
    if (pUnk)
        pUnk->AddRef();
}

void MediaType::releaseContents()
{
    if (pbFormat)
        CoTaskMemFree(pbFormat);
    if (pUnk)
        pUnk->Release();
    reset();
}

void MediaType::resizeFormat(std::uint32_t size, bool keep)
{
    if (size == 0) {
        if (pbFormat) {
            CoTaskMemFree(pbFormat);
            pbFormat = nullptr;
            cbFormat = 0;
            formattype = FORMAT_None;
        }
        return;
    }
    BYTE* const block = static_cast<BYTE*>(taskAllocate(size));
    std::memset(block, 0, size);
    if (pbFormat) {
        if (keep)
            std::memcpy(block, pbFormat, std::min<std::uint32_t>(size, cbFormat));
        CoTaskMemFree(pbFormat);
    }
    pbFormat = block;
    cbFormat = size;
}

void MediaType::setFormatType(const GUID& format)
{
    if (!IsEqualGUID(format, FORMAT_None))
        formattype = format;
    else if (pbFormat)
        resizeFormat(0, false);
}

bool MediaType::operator==(const MediaType& other) const
{
    if (!IsEqualGUID(majortype, other.majortype) || !IsEqualGUID(subtype, other.subtype) ||
        bFixedSizeSamples != other.bFixedSizeSamples || bTemporalCompression != other.bTemporalCompression ||
        cbFormat != other.cbFormat || !IsEqualGUID(formattype, other.formattype) || lSampleSize != other.lSampleSize ||
        pUnk != other.pUnk)
        return false;
    if (pbFormat && other.pbFormat)
        return std::memcmp(pbFormat, other.pbFormat, cbFormat) == 0;
    return pbFormat == other.pbFormat;
}

bool MediaType::matches(const MediaType& pattern) const
{
    if (!IsEqualGUID(pattern.majortype, GUID_NULL) && !IsEqualGUID(pattern.majortype, majortype))
        return false;
    if (!IsEqualGUID(pattern.subtype, GUID_NULL) && !IsEqualGUID(pattern.subtype, subtype))
        return false;
    if (IsEqualGUID(pattern.formattype, FORMAT_None))
        return true;
    if (!IsEqualGUID(pattern.formattype, formattype) || pattern.cbFormat != cbFormat)
        return false;
    // A size without a block on either side is a malformed type: it matches
    // nothing rather than being read.
    return cbFormat == 0 || (pbFormat && pattern.pbFormat && std::memcmp(pbFormat, pattern.pbFormat, cbFormat) == 0);
}

bool MediaType::isComplete() const
{
    return !IsEqualGUID(majortype, GUID_NULL) && !IsEqualGUID(subtype, GUID_NULL);
}

void deleteTaskMediaType(AM_MEDIA_TYPE* type)
{
    if (!type)
        return;
    MediaType::of(*type).releaseContents();
    CoTaskMemFree(type);
}

void makePcmAudioType(MediaType& type, std::uint16_t channels, std::uint32_t samplesPerSecond,
                      std::uint16_t bitsPerSample)
{
    type.resizeFormat(sizeof(WAVEFORMATEX), false);
    auto& format = *reinterpret_cast<WAVEFORMATEX*>(type.pbFormat);
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = channels;
    format.nSamplesPerSec = samplesPerSecond;
    format.wBitsPerSample = bitsPerSample;
    format.cbSize = 0;
    format.nBlockAlign = static_cast<WORD>(channels * (bitsPerSample / 8));
    format.nAvgBytesPerSec = samplesPerSecond * format.nBlockAlign;
    type.setFormatType(FORMAT_WaveFormatEx);
    type.majortype = MEDIATYPE_Audio;
    type.subtype = MEDIASUBTYPE_PCM;
    // The bytes of one block: a renderer that trusts fixed-size samples
    // must see the real frame size for every width, not just 16 bits.
    type.lSampleSize = format.nBlockAlign;
    type.bFixedSizeSamples = channels != 0;
}
