#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "format/ByteSource.h"

namespace ape {
class ApeContainer;
class ApeTag;
} // namespace ape

// What an .ape file says about itself, as a property handler shows it, in
// plain values: the format and length from the container header (through
// the codec core's ApeContainer) and the texts of its APE tag, or of an
// ID3v1 tag when it has no APE tag. Portable, so that the host build's
// fuzzer reaches it; the Windows side (ApeFileProperties) only maps the
// values to property keys and PROPVARIANTs. Everything is read when the
// object is made; it holds no source and is immutable afterwards.
//
// Only what the file holds is present: a tag item that is missing, empty,
// binary, too large or not a number where one is needed gives no value at
// all, never an empty one.
//
// Memory is bounded by the tag's own bounds (ApeTag) and by textValueLimit
// per value read here.
class ApeFileSummary {
public:
    // Tag values longer than this (bytes) are left out rather than read.
    // A value's texts are then at most this many UTF-16 units each, and a
    // joined text (Form::text) at most half as long again.
    static constexpr std::uint32_t textValueLimit = 64 * 1024;
    // Durations count 100-ns units, as the property system does.
    static constexpr std::uint64_t unitsPerSecond = 10'000'000;

    // The tag fields shown, in the order their values are listed.
    enum class Field { title, artist, album, albumArtist, genre, year, track, comment, copyright };
    // How a field's value is given, by Field.
    enum class Form {
        text,    // one string; several values of the item joined by "; "
        strings, // a list of strings, one per value, never empty
        number,  // the first value's leading decimal number, never 0
    };
    static Form formOf(Field field);

    using Text = std::u16string;
    using Texts = std::vector<Text>;
    // Text for Form::text, Texts for Form::strings, a number for Form::number.
    // No text is empty or holds a NUL.
    using Value = std::variant<std::uint32_t, Text, Texts>;
    struct TagValue {
        // The value made in place: one of Value's types.
        template <typename Held>
        TagValue(Field field, Held&& value) : field(field), value(std::forward<Held>(value))
        {
        }
        Field field;
        Value value;
    };

    // Raises ape::CodecError for anything that is not a whole .ape file:
    // what ApeContainer refuses, and audio data cut short. A damaged tag is
    // no error; its values are absent.
    explicit ApeFileSummary(ape::ByteSource& source);

    // The length, rounded to the nearest unit.
    std::uint64_t duration() const { return length; }
    std::uint32_t sampleRate() const { return rate; }
    std::uint32_t channels() const { return channelCount; }
    std::uint32_t bitsPerSample() const { return sampleBits; }
    // Bits per second over the whole file, tags included, as its size and
    // length give it; at most UINT32_MAX.
    std::uint32_t bitrate() const { return bitsPerSecond; }
    // At most one per field, in the order of Field.
    const std::vector<TagValue>& tagValues() const { return values; }

private:
    void readFormat(const ape::ApeContainer& container, std::uint64_t fileSize);
    void readTagItems(ape::ByteSource& source, const ape::ApeTag& tag);

    std::uint64_t length = 0;
    std::uint32_t rate = 0;
    std::uint32_t channelCount = 0;
    std::uint32_t sampleBits = 0;
    std::uint32_t bitsPerSecond = 0;
    std::vector<TagValue> values;
};
