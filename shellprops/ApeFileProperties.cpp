#include "shellprops/ApeFileProperties.h"

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "apecodec.h"
#include "decoder/ApeContainer.h"
#include "format/ApeTag.h"
#include "format/CodecError.h"
#include "format/ContainerLayout.h"
#include "format/FormatConstants.h"
#include "monkeysaudio/SourceIdentifiers.h"
#include "support/Diagnostics.h"
#include "support/StringConversion.h"

// Last: the property keys are defined here, not declared.
#include <initguid.h>

#include <propkey.h>

namespace {

constexpr std::uint64_t unitsPerSecond = 10'000'000; // PKEY_Media_Duration counts 100-ns units

// How a tag item's text becomes a property value.
enum class Form {
    text,    // one string; several values joined by "; "
    strings, // a vector of strings, one per value
    number,  // the first value's leading decimal number; 0 counts as none
};

struct TagProperty {
    const PROPERTYKEY* key;
    const char* itemKeys[2]; // the APE item keys that give it, tried in order; case is ignored
    Form form;
};
// Several values of an item are separated by NUL bytes in an APE tag.
constexpr TagProperty tagProperties[] = {
    {&PKEY_Title, {"Title"}, Form::text},
    {&PKEY_Music_Artist, {"Artist"}, Form::strings},
    {&PKEY_Music_AlbumTitle, {"Album"}, Form::text},
    {&PKEY_Music_AlbumArtist, {"Album Artist", "AlbumArtist"}, Form::text},
    {&PKEY_Music_Genre, {"Genre"}, Form::strings},
    {&PKEY_Media_Year, {"Year"}, Form::number},
    {&PKEY_Music_TrackNumber, {"Track"}, Form::number},
    {&PKEY_Comment, {"Comment"}, Form::text},
    {&PKEY_Copyright, {"Copyright"}, Form::text},
};

// The item type in bits 1-2 of an APE item's flags: 0 is UTF-8 text.
constexpr std::uint32_t itemTypeMask = 0x6;

[[noreturn]] void cutShort()
{
    throw ape::CodecError(APE_ERROR_INVALID_INPUT_FILE, "audio data cut short");
}

// ApeContainer ends the audio where a short file ends, as a player wants;
// a length shown for such a file would be one its data cannot back. The
// descriptor states where the audio ends (new format), and the seek table
// where the last frame starts (every format).
void requireWholeAudio(ape::ByteSource& source, const ape::ApeContainer& container)
{
    if (container.version >= ape::version::newHeader) {
        std::uint8_t raw[ape::Descriptor::size];
        if (!source.read(container.apeStart, raw, sizeof raw))
            cutShort();
        const ape::Descriptor descriptor = ape::Descriptor::read(raw);
        if (descriptor.audioDataBytes() > container.dataEnd - container.firstFrame)
            cutShort();
    }
    container.frame(source, container.totalFrames - 1);
}

// Bytes of an ID3v1 tag are Latin-1; APE tag text is UTF-8, read byte for
// byte where it is not well-formed (old taggers wrote a local code page).
std::wstring decodeText(const std::string& bytes, bool latin1)
{
    if (!latin1) {
        if (std::optional<std::wstring> text = oryx::decodeUtf8(bytes))
            return *std::move(text);
    }
    std::wstring text;
    text.reserve(bytes.size());
    for (const char byte : bytes)
        text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(byte)));
    return text;
}

// The non-empty values of an item, in order.
std::vector<std::wstring> splitValues(const std::wstring& text)
{
    std::vector<std::wstring> values;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(L'\0', start);
        if (end == std::wstring::npos)
            end = text.size();
        if (end > start)
            values.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return values;
}

// "2008", "2008-05-12", "3/12": the leading number, if it fits and is not 0.
std::optional<std::uint32_t> leadingNumber(const std::wstring& text)
{
    std::size_t at = text.find_first_not_of(L' ');
    std::uint64_t number = 0;
    std::size_t digits = 0;
    for (; at < text.size() && text[at] >= L'0' && text[at] <= L'9'; ++at, ++digits) {
        number = number * 10 + static_cast<std::uint64_t>(text[at] - L'0');
        if (number > std::numeric_limits<std::uint32_t>::max())
            return std::nullopt;
    }
    if (digits == 0 || number == 0)
        return std::nullopt;
    return static_cast<std::uint32_t>(number);
}

std::wstring joined(const std::vector<std::wstring>& values)
{
    std::wstring text;
    for (const std::wstring& value : values) {
        if (!text.empty())
            text += L"; ";
        text += value;
    }
    return text;
}

// The item's text, or nothing when it is not text, too large or unreadable.
std::optional<std::string> itemText(ape::ByteSource& source, const ape::TagItem& item)
{
    if ((item.flags & itemTypeMask) != 0 || item.size > ApeFileProperties::textValueLimit)
        return std::nullopt;
    std::string bytes(item.size, '\0');
    if (!ape::ApeTag::readValue(source, item, bytes.data()))
        return std::nullopt;
    return bytes;
}

} // namespace

ApeFileProperties::ApeFileProperties(ape::ByteSource& source)
{
    const ape::ApeContainer container = ape::ApeContainer::open(source);
    requireWholeAudio(source, container);
    addFormat(container, source.size());
    addTagItems(source, container.tag);
}

void ApeFileProperties::addFormat(const ape::ApeContainer& container, std::uint64_t fileSize)
{
    const std::uint64_t rate = container.sampleRate;
    // At most 2^31 blocks (ApeContainer), so the product stays within 64 bits.
    const std::uint64_t duration = (container.totalBlocks * unitsPerSecond + rate / 2) / rate;
    properties.emplace_back(PKEY_Media_Duration, PropertyValue(duration));
    properties.emplace_back(PKEY_Audio_SampleRate, PropertyValue(container.sampleRate));
    properties.emplace_back(PKEY_Audio_ChannelCount, PropertyValue(static_cast<std::uint32_t>(container.channels)));
    properties.emplace_back(PKEY_Audio_SampleSize, PropertyValue(static_cast<std::uint32_t>(container.bitsPerSample)));
    // Bits per second over the whole file, tags included, as its size and
    // length give it.
    const double bitrate = std::round(double(fileSize) * 8.0 * double(rate) / double(container.totalBlocks));
    const double largest = std::numeric_limits<std::uint32_t>::max();
    properties.emplace_back(PKEY_Audio_EncodingBitrate,
                            PropertyValue(static_cast<std::uint32_t>(std::min(bitrate, largest))));
    properties.emplace_back(PKEY_Audio_Format, PropertyValue(oryx::widen(oryx::guidName(apeStreamSubtype, false))));
}

void ApeFileProperties::addTagItems(ape::ByteSource& source, const ape::ApeTag& tag)
{
    const bool latin1 = tag.kind() == ape::ApeTag::Kind::id3v1;
    for (const TagProperty& property : tagProperties) {
        const ape::TagItem* item = nullptr;
        for (const char* key : property.itemKeys) {
            if (key && !item)
                item = tag.find(key);
        }
        if (!item)
            continue;
        const std::optional<std::string> bytes = itemText(source, *item);
        if (!bytes)
            continue;
        std::vector<std::wstring> values = splitValues(decodeText(*bytes, latin1));
        if (values.empty())
            continue;
        switch (property.form) {
        case Form::text:
            properties.emplace_back(*property.key, PropertyValue(joined(values)));
            break;
        case Form::strings:
            properties.emplace_back(*property.key, PropertyValue(std::move(values)));
            break;
        case Form::number:
            if (const std::optional<std::uint32_t> number = leadingNumber(values.front()))
                properties.emplace_back(*property.key, PropertyValue(*number));
            break;
        }
    }
}

const PropertyValue* ApeFileProperties::find(const PROPERTYKEY& key) const
{
    for (const auto& [known, value] : properties) {
        if (IsEqualPropertyKey(known, key))
            return &value;
    }
    return nullptr;
}
