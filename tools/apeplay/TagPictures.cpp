#include "TagPictures.h"

#include <cstdio>
#include <optional>
#include <vector>

#include <windows.h>

#include <shlwapi.h>

#include "ConsoleText.h"
#include "PlayerError.h"
#include "format/ApeTag.h"
#include "format/TagPicture.h"
#include "shellprops/StreamByteSource.h"
#include "support/COMPtr.h"
#include "support/HResults.h"
#include "support/WindowsError.h"
#include "support/WindowsHandle.h"

namespace apeplay {

namespace {

// The file's tag, read through a stream of the file as the shell handlers
// read it.
class TaggedFile {
public:
    explicit TaggedFile(const std::wstring& name)
    {
        const HRESULT hr = SHCreateStreamOnFileEx(name.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, 0, FALSE, nullptr,
                                                  stream.receive());
        if (FAILED(hr))
            throw PlayerError("can't read \"" + toUtf8(name) + "\": " + hresultText(hr));
        source.emplace(*stream);
        tag = ape::ApeTag::read(*source);
    }

    oryx::COMPtr<IStream> stream;
    std::optional<StreamByteSource> source;
    ape::ApeTag tag;
};

std::string thousands(std::uint64_t value)
{
    // Built by appending: GCC's optimiser misreads an insert into the
    // middle of the string as an overlapping copy, at -O2 only.
    const std::string digits = std::to_string(value);
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            grouped += ',';
        grouped += digits[i];
    }
    return grouped;
}

} // namespace

void printPictures(const std::wstring& file)
{
    TaggedFile tagged(file);
    for (const ape::TagItem& item : tagged.tag.items()) {
        ape::TagPicture picture;
        if (!ape::TagPicture::isPicture(item) || !ape::TagPicture::describe(*tagged.source, item, picture))
            continue;
        std::string line = picture.kind + ": " + ape::pictureFormatName(picture.header.format);
        if (picture.header.width != 0)
            line += ", " + std::to_string(picture.header.width) + " x " + std::to_string(picture.header.height);
        line += ", " + thousands(picture.dataSize) + " bytes";
        std::printf("%-12s %s\n", "Picture", line.c_str());
    }
    std::fflush(stdout);
}

std::size_t writeFrontCover(const std::wstring& file, const std::wstring& out)
{
    TaggedFile tagged(file);
    const ape::TagItem* front = ape::TagPicture::frontCover(tagged.tag);
    ape::TagPicture picture;
    if (!front || !ape::TagPicture::describe(*tagged.source, *front, picture))
        throw PlayerError("\"" + toUtf8(file) + "\" holds no cover picture");
    std::vector<std::uint8_t> bytes;
    if (!ape::TagPicture::readData(*tagged.source, *front, picture, bytes)) {
        if (picture.dataSize > ape::TagPicture::sizeLimit)
            throw PlayerError("the cover of \"" + toUtf8(file) + "\" claims " + thousands(picture.dataSize) +
                              " bytes, more than a picture may hold");
        throw PlayerError("can't read the cover of \"" + toUtf8(file) + "\"");
    }

    const std::wstring partial = out + L".partial";
    oryx::WindowsHandle handle;
    handle.adopt(
        CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle.isValid())
        throw oryx::WindowsError("Can't create \"" + toUtf8(partial) + "\"");
    DWORD written = 0;
    const bool whole = WriteFile(handle.handle(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                       written == bytes.size();
    handle.close();
    if (!whole || !MoveFileExW(partial.c_str(), out.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        const oryx::WindowsError error("Can't write \"" + toUtf8(out) + "\"");
        DeleteFileW(partial.c_str());
        throw error;
    }
    return bytes.size();
}

} // namespace apeplay
