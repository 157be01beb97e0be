#include "shellprops/ApeFileProperties.h"

#include <string>
#include <type_traits>
#include <variant>

#include "monkeysaudio/SourceIdentifiers.h"
#include "shellprops/ApeFileSummary.h"
#include "shellprops/PropertyHandlerIdentifiers.h"
#include "support/Diagnostics.h"
#include "support/StringConversion.h"

namespace {

using Field = ApeFileSummary::Field;

// The key of each tag field, in the order of ApeFileSummary::Field.
const PROPERTYKEY* const fieldKeys[] = {
    &propertykey::title,       &propertykey::artist,  &propertykey::albumTitle,
    &propertykey::albumArtist, &propertykey::genre,   &propertykey::year,
    &propertykey::trackNumber, &propertykey::comment, &propertykey::copyright,
};
static_assert(std::size(fieldKeys) == static_cast<std::size_t>(Field::copyright) + 1);

// wchar_t is UTF-16 on Windows: the text carries over unit for unit.
std::wstring wide(const ApeFileSummary::Text& text)
{
    return std::wstring(text.begin(), text.end());
}

PropertyValue propertyValue(const ApeFileSummary::Value& value)
{
    return std::visit(
        [](const auto& held) {
            using Held = std::decay_t<decltype(held)>;
            if constexpr (std::is_same_v<Held, ApeFileSummary::Text>) {
                return PropertyValue(wide(held));
            } else if constexpr (std::is_same_v<Held, ApeFileSummary::Texts>) {
                PropertyValue::Strings texts;
                texts.reserve(held.size());
                for (const ApeFileSummary::Text& text : held)
                    texts.push_back(wide(text));
                return PropertyValue(std::move(texts));
            } else {
                return PropertyValue(held);
            }
        },
        value);
}

} // namespace

ApeFileProperties::ApeFileProperties(ape::ByteSource& source)
{
    const ApeFileSummary summary(source);
    properties.emplace_back(propertykey::duration, PropertyValue(summary.duration()));
    properties.emplace_back(propertykey::sampleRate, PropertyValue(summary.sampleRate()));
    properties.emplace_back(propertykey::channelCount, PropertyValue(summary.channels()));
    properties.emplace_back(propertykey::sampleSize, PropertyValue(summary.bitsPerSample()));
    properties.emplace_back(propertykey::encodingBitrate, PropertyValue(summary.bitrate()));
    properties.emplace_back(propertykey::audioFormat,
                            PropertyValue(oryx::widen(oryx::guidName(apeStreamSubtype, false))));
    for (const auto& [field, value] : summary.tagValues())
        properties.emplace_back(*fieldKeys[static_cast<std::size_t>(field)], propertyValue(value));
}

const PropertyValue* ApeFileProperties::find(const PROPERTYKEY& key) const
{
    for (const auto& [known, value] : properties) {
        if (IsEqualPropertyKey(known, key))
            return &value;
    }
    return nullptr;
}
