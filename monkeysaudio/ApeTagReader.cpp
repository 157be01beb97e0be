#include "monkeysaudio/ApeTagReader.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include <windows.h>

#include "monkeysaudio/ApeDecoder.h"
#include "monkeysaudio/MonkeysAudioError.h"
#include "support/LossOfRange.h"
#include "support/Quoted.h"
#include "support/StringConversion.h"

namespace {

// What the codec's tag functions return for a field the tag does not hold.
constexpr int fieldMissing = APE_TAG_FIELD_MISSING;

} // namespace

// A missing entry point or a failing tag lookup leaves the constructor with
// the base's reference released by its destructor.
ApeTagReader::ApeTagReader(const ApeDecoder& decoder)
{
    load();
    getFieldData = entryPoint<decltype(getFieldData)>("c_APETag_GetFieldData");
    getFieldSize = entryPoint<decltype(getFieldSize)>("c_APETag_GetFieldSize");
    tag = decoder.tag();
}

bool ApeTagReader::fieldExists(const std::string& name) const
{
    char scratch[1];
    int capacity = sizeof scratch;
    return getFieldData(tag, name.c_str(), scratch, &capacity) != fieldMissing;
}

std::uint32_t ApeTagReader::fieldSize(const std::string& name) const
{
    const int size = getFieldSize(tag, name.c_str());
    // Callers match this text as it stands, "non existing" and the name
    // quoted straight after "field" with no space included.
    if (size < 0)
        throw MonkeysAudioError(-1, "Can't retrieve field size for non existing Monkey's Audio tag field" +
                                        oryx::quoted(name));
    return static_cast<std::uint32_t>(size);
}

std::string ApeTagReader::fieldBytes(const std::string& name) const
{
    const std::uint32_t size = fieldSize(name);
    // The capacity is exactly the value's size, so the codec may leave out the
    // terminator. An empty value still gets a real buffer: codecs refuse a
    // null one even when it is to hold nothing.
    std::vector<char> buffer(std::max<std::uint32_t>(size, 1));
    int capacity = oryx::rangeChecked<int>(size);
    const int result = getFieldData(tag, name.c_str(), buffer.data(), &capacity);
    if (result != 0)
        throw MonkeysAudioError(result, "Can't retrieve field data for Monkey's Audio tag field" + oryx::quoted(name));
    return std::string(buffer.data(), size);
}

std::wstring ApeTagReader::fieldValue(const std::string& name) const
{
    std::string bytes = fieldBytes(name);
    bytes.erase(std::find(bytes.begin(), bytes.end(), '\0'), bytes.end());
    if (std::optional<std::wstring> text = oryx::decodeUtf8(bytes))
        return *std::move(text);
    return oryx::widen(bytes);
}
