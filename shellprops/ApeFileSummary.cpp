#include "shellprops/ApeFileSummary.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <string_view>

#include "apecodec.h"
#include "decoder/ApeContainer.h"
#include "format/ApeTag.h"
#include "format/CodecError.h"
#include "format/ContainerLayout.h"
#include "format/FormatConstants.h"
#include "format/Utf8.h"

namespace {

using Field = ApeFileSummary::Field;
using Form = ApeFileSummary::Form;
using Text = ApeFileSummary::Text;
using Texts = ApeFileSummary::Texts;

struct TagField {
    Field field;
    const char* itemKeys[2]; // the APE item keys that give it, tried in order; case is ignored
    Form form;
};
// In the order of Field. Several values of an item are separated by NUL
// bytes in an APE tag.
constexpr TagField tagFields[] = {
    {Field::title, {"Title"}, Form::text},         {Field::artist, {"Artist"}, Form::strings},
    {Field::album, {"Album"}, Form::text},         {Field::albumArtist, {"Album Artist", "AlbumArtist"}, Form::text},
    {Field::genre, {"Genre"}, Form::strings},      {Field::year, {"Year"}, Form::number},
    {Field::track, {"Track"}, Form::number},       {Field::comment, {"Comment"}, Form::text},
    {Field::copyright, {"Copyright"}, Form::text},
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
Text decodeText(const std::string& bytes, bool latin1)
{
    if (!latin1) {
        if (std::optional<Text> text = ape::decodeUtf8(bytes))
            return *std::move(text);
    }
    Text text;
    text.reserve(bytes.size());
    for (const char byte : bytes)
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(byte)));
    return text;
}

// The non-empty values of an item, in order.
Texts splitValues(const Text& text)
{
    Texts values;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(u'\0', start);
        if (end == Text::npos)
            end = text.size();
        if (end > start)
            values.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return values;
}

// "2008", "2008-05-12", "3/12": the leading number, if it fits and is not 0.
std::optional<std::uint32_t> leadingNumber(const Text& text)
{
    std::size_t at = text.find_first_not_of(u' ');
    std::uint64_t number = 0;
    std::size_t digits = 0;
    for (; at < text.size() && text[at] >= u'0' && text[at] <= u'9'; ++at, ++digits) {
        number = number * 10 + static_cast<std::uint64_t>(text[at] - u'0');
        if (number > std::numeric_limits<std::uint32_t>::max())
            return std::nullopt;
    }
    if (digits == 0 || number == 0)
        return std::nullopt;
    return static_cast<std::uint32_t>(number);
}

Text joined(const Texts& values)
{
    Text text;
    for (const Text& value : values) {
        if (!text.empty())
            text += u"; ";
        text += value;
    }
    return text;
}

// The item's text, or nothing when it is not text, too large or unreadable.
std::optional<std::string> itemText(ape::ByteSource& source, const ape::TagItem& item)
{
    if ((item.flags & itemTypeMask) != 0 || item.size > ApeFileSummary::textValueLimit)
        return std::nullopt;
    std::string bytes(item.size, '\0');
    if (!ape::ApeTag::readValue(source, item, bytes.data()))
        return std::nullopt;
    return bytes;
}

} // namespace

ApeFileSummary::Form ApeFileSummary::formOf(Field field)
{
    return tagFields[static_cast<std::size_t>(field)].form;
}

ApeFileSummary::ApeFileSummary(ape::ByteSource& source)
{
    const ape::ApeContainer container = ape::ApeContainer::open(source);
    requireWholeAudio(source, container);
    readFormat(container, source.size());
    readTagItems(source, container.tag);
}

void ApeFileSummary::readFormat(const ape::ApeContainer& container, std::uint64_t fileSize)
{
    rate = container.sampleRate;
    // At most 2^31 blocks (ApeContainer), so the product stays within 64 bits.
    length = (container.totalBlocks * unitsPerSecond + rate / 2) / rate;
    channelCount = static_cast<std::uint32_t>(container.channels);
    sampleBits = static_cast<std::uint32_t>(container.bitsPerSample);
    const double bits = std::round(double(fileSize) * 8.0 * double(rate) / double(container.totalBlocks));
    const double largest = std::numeric_limits<std::uint32_t>::max();
    bitsPerSecond = static_cast<std::uint32_t>(std::min(bits, largest));
}

void ApeFileSummary::readTagItems(ape::ByteSource& source, const ape::ApeTag& tag)
{
    const bool latin1 = tag.kind() == ape::ApeTag::Kind::id3v1;
    for (const TagField& tagField : tagFields) {
        const ape::TagItem* item = nullptr;
        for (const char* key : tagField.itemKeys) {
            if (key && !item)
                item = tag.find(key);
        }
        if (!item)
            continue;
        const std::optional<std::string> bytes = itemText(source, *item);
        if (!bytes)
            continue;
        Texts texts = splitValues(decodeText(*bytes, latin1));
        if (texts.empty())
            continue;
        switch (tagField.form) {
        case Form::text:
            values.emplace_back(tagField.field, joined(texts));
            break;
        case Form::strings:
            values.emplace_back(tagField.field, std::move(texts));
            break;
        case Form::number:
            if (const std::optional<std::uint32_t> number = leadingNumber(texts.front()))
                values.emplace_back(tagField.field, *number);
            break;
        }
    }
}
