// libFuzzer entry for the tags that end a file. The input is taken as a
// file's last bytes, after a short valid stream made once, as a tag follows
// the audio; the codec opens that file and the tag is read as its readers
// read it. The source filter's tag reader asks for fields by name through
// the codec's tag functions: whether the field exists (a one-byte buffer),
// its size, then its value in a buffer of exactly that size. A property
// handler enumerates the items and reads each value. The input alone is
// also read as a whole file's tags, which reaches the ID3v1 fallback and a
// tag that fills the file. Errors and missing tags are fine; crashes,
// sanitizer reports, leaks, hangs and answers that contradict each other
// (abort) are not.
//
// The work per input is bounded by the tag's own limits (items, held bytes)
// and the input's length: every value is read once, and the name lookups,
// each linear in the items, are made for the first `lookedUpItems` keys and
// the names the filter asks for.
#include "apecodec.h"
#include "decoder/Decompressor.h"
#include "decoder/MemoryByteSource.h"
#include "encoder/ApeEncoder.h"
#include "format/ApeTag.h"
#include "format/CodecError.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t lookedUpItems = 16;
// The fields the source filter shows, and names no tag should hold.
constexpr const char* askedNames[] = {"Artist", "Title", "Genre", "Notes", "Copyright", "File URL", "", "Artist\xff"};

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "tag answers contradict each other: %s\n", what);
        std::abort();
    }
}

// A stream of a few silent blocks in the current format, without a stored
// WAV header or tags: the part of the file before the fuzzed bytes.
const std::vector<std::uint8_t>& streamBeforeTag()
{
    static const std::vector<std::uint8_t> stream = [] {
        ape::PcmFormat format;
        ape::EncoderOptions options;
        options.storeWavHeader = false;
        const std::vector<std::uint8_t> pcm(16 * format.blockAlign());
        return ape::ApeEncoder(format, options).encode(pcm);
    }();
    return stream;
}

// The value as the codec holds it, or read from the source; the parser kept
// only items whose value lies inside the file, so the read must succeed.
std::string valueOf(ape::ByteSource& source, const ape::TagItem& item)
{
    std::string value(item.size, '\0');
    check(ape::ApeTag::readValue(source, item, value.data()), "an item's value lies outside the file");
    return value;
}

// The enumeration a property handler makes, and the lookup by each key.
void enumerate(const ape::ApeTag& tag, ape::ByteSource& source)
{
    check(tag.kind() != ape::ApeTag::Kind::none || tag.items().empty(), "items without a tag");
    check(tag.streamEnd() <= source.size(), "the tag starts past the file's end");
    const std::vector<ape::TagItem>& items = tag.items();
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::string value = valueOf(source, items[i]);
        check(!items[i].held || value == items[i].value, "a held value differs from the file");
        if (i < lookedUpItems) {
            const ape::TagItem* found = tag.find(items[i].key);
            check(found && found <= &items[i], "an item's key does not find it or an earlier item");
        }
    }
}

// The filter's tag reader, field by field, through the codec's functions.
void askLikeTheFilter(ape::Decompressor& d, const std::string& name)
{
    APE_TAG_HANDLE tag = c_APEDecompress_GetTag(&d, nullptr);
    const ape::TagItem* item = d.tag().find(name);
    const int size = c_APETag_GetFieldSize(tag, name.c_str());
    char scratch[1];
    int capacity = sizeof scratch;
    const int probe = c_APETag_GetFieldData(tag, name.c_str(), scratch, &capacity);
    if (!item) {
        check(size == APE_TAG_FIELD_MISSING && probe == APE_TAG_FIELD_MISSING, "a missing field answered");
        return;
    }
    check(size == int(std::min<std::uint32_t>(item->size, INT_MAX)), "the field size differs from the item's");
    check(probe == (size <= 1 ? APE_SUCCESS : APE_ERROR_BAD_PARAMETER) && capacity == size,
          "a one-byte buffer answered wrongly");

    const std::string value = valueOf(d.source(), *item);
    std::vector<char> exact(std::max(std::size_t(size), std::size_t(1)));
    capacity = size;
    check(c_APETag_GetFieldData(tag, name.c_str(), exact.data(), &capacity) == APE_SUCCESS && capacity == size,
          "a buffer of the field's size was refused");
    check(std::memcmp(exact.data(), value.data(), value.size()) == 0, "the field's value differs from the item's");

    std::vector<char> roomier(value.size() + 1, 'x');
    capacity = int(roomier.size());
    check(c_APETag_GetFieldData(tag, name.c_str(), roomier.data(), &capacity) == APE_SUCCESS && capacity == size &&
              roomier[value.size()] == '\0',
          "a larger buffer did not get the value and its terminator");
}

std::string upperCase(std::string text)
{
    for (char& c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    {
        ape::MemoryByteSource alone(data, size);
        enumerate(ape::ApeTag::read(alone), alone);
        if (size >= 10)
            ape::ApeTag::leadingId3v2Size(data);
    }

    std::vector<std::uint8_t> file = streamBeforeTag();
    file.insert(file.end(), data, data + size);
    std::unique_ptr<ape::Decompressor> d;
    try {
        d = ape::Decompressor::open(std::make_unique<ape::MemoryByteSource>(file.data(), file.size()));
    } catch (const ape::CodecError&) {
        return 0; // a tag that claims the stream's bytes leaves no audio
    }
    enumerate(d->tag(), d->source());
    std::vector<std::string> names(std::begin(askedNames), std::end(askedNames));
    const std::vector<ape::TagItem>& items = d->tag().items();
    for (std::size_t i = 0; i < std::min(items.size(), lookedUpItems); ++i) {
        names.push_back(items[i].key);
        names.push_back(upperCase(items[i].key));
    }
    for (const std::string& name : names)
        askLikeTheFilter(*d, name);
    return 0;
}
