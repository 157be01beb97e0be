#include "monkeysaudio/AlbumTracks.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <windows.h>

#include "format/CueSheet.h"
#include "monkeysaudio/ApeDecoder.h"
#include "monkeysaudio/ApeTagReader.h"
#include "support/LossOfRange.h"
#include "support/StringConversion.h"

namespace {

// The tag item that holds an album image's cue sheet; the codec finds items
// in any case of their key.
constexpr char cueSheetItem[] = "Cuesheet";

// The decoded text of a sheet's value.
std::wstring decoded(const std::string& bytes, ape::CueSheet::Encoding encoding)
{
    if (encoding == ape::CueSheet::Encoding::utf8)
        return oryx::decodeUtf8(bytes).value_or(std::wstring());
    if (bytes.empty())
        return {};
    const int size = static_cast<int>(bytes.size()); // within a line's limit
    const int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
    std::wstring text(static_cast<std::size_t>(std::max(length, 0)), L'\0');
    if (length <= 0 || MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, text.data(), length) != length)
        return {};
    return text;
}

// A file name's last component without its extension.
std::wstring baseName(const std::wstring& name)
{
    const std::wstring::size_type slash = name.find_last_of(L"\\/");
    std::wstring base = slash == std::wstring::npos ? name : name.substr(slash + 1);
    const std::wstring::size_type dot = base.rfind(L'.');
    if (dot != std::wstring::npos && dot > 0)
        base.erase(dot);
    return base;
}

bool sameName(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

// A sidecar's bytes; nothing when there is none, it cannot be read, or it is
// larger than any sheet the reader reads.
std::optional<std::string> sidecarBytes(const std::wstring& name)
{
    std::ifstream in(std::filesystem::path(name), std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string bytes(ape::CueSheet::sheetByteLimit + 1, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (in.bad() || static_cast<std::size_t>(in.gcount()) > ape::CueSheet::sheetByteLimit)
        return std::nullopt;
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

// The entry that stands for the file named `fileName`, or null.
const ape::CueFile* entryFor(const ape::CueSheet& sheet, const std::wstring& fileName)
{
    const std::vector<ape::CueFile>& files = sheet.files();
    if (files.size() == 1)
        return &files.front();
    const std::wstring ours = baseName(fileName);
    const ape::CueFile* found = nullptr;
    for (const ape::CueFile& file : files) {
        if (!sameName(baseName(decoded(file.name, sheet.encoding())), ours))
            continue;
        if (found)
            return nullptr; // two entries claim this file: neither can be trusted
        found = &file;
    }
    return found;
}

} // namespace

std::wstring AlbumTracks::sidecarName(const std::wstring& fileName)
{
    const std::wstring::size_type slash = fileName.find_last_of(L"\\/");
    const std::wstring::size_type dot = fileName.rfind(L'.');
    const bool hasExtension = dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash + 1);
    return (hasExtension ? fileName.substr(0, dot) : fileName) + L".cue";
}

AlbumTracks AlbumTracks::ofFile(const ApeDecoder& decoder, const std::wstring& fileName)
{
    std::optional<std::string> taggedSheet;
    try {
        const ApeTagReader reader(decoder);
        if (reader.fieldExists(cueSheetItem)) {
            // A sheet too large to be one is there but unreadable: no tracks,
            // and no sidecar either, since the tag says which sheet is ours.
            taggedSheet = reader.fieldSize(cueSheetItem) <= ape::CueSheet::sheetByteLimit
                              ? reader.fieldBytes(cueSheetItem)
                              : std::string();
        }
    } catch (const std::exception&) {
        return {};
    }
    return read(taggedSheet, fileName, decoder.sampleRate(),
                oryx::rangeChecked<std::uint32_t>(decoder.info(ApeDecoder::totalBlocksField)));
}

AlbumTracks AlbumTracks::read(const std::optional<std::string>& taggedSheet, const std::wstring& fileName,
                              std::uint32_t sampleRate, std::uint64_t totalBlocks)
{
    AlbumTracks album;
    const std::optional<std::string> text = taggedSheet ? taggedSheet : sidecarBytes(sidecarName(fileName));
    if (!text)
        return album;
    const ape::CueSheet sheet = ape::CueSheet::parse(*text);
    const ape::CueFile* const entry = entryFor(sheet, fileName);
    if (!entry)
        return album;
    album.albumTitle = decoded(sheet.title(), sheet.encoding());
    album.albumPerformer = decoded(sheet.performer(), sheet.encoding());
    for (const ape::CueTrackSpan& span : ape::CueSheet::tracksOf(*entry, sampleRate, totalBlocks))
        album.albumTracks.push_back(Track{span.track->number, span.start, span.end,
                                          decoded(span.track->title, sheet.encoding()),
                                          decoded(span.track->performer, sheet.encoding())});
    return album;
}

std::wstring AlbumTracks::displayName(const Track& track) const
{
    wchar_t number[8];
    std::swprintf(number, std::size(number), L"%02u", track.number);
    std::wstring name = number;
    if (!track.title.empty())
        name += L". " + track.title;
    if (!track.performer.empty() && track.performer != albumPerformer)
        name += L" - " + track.performer;
    return name;
}

std::size_t AlbumTracks::indexAt(std::uint64_t block) const
{
    const auto after = std::upper_bound(albumTracks.begin(), albumTracks.end(), block,
                                        [](std::uint64_t b, const Track& track) { return b < track.start; });
    return after == albumTracks.begin() ? 0 : static_cast<std::size_t>(after - albumTracks.begin() - 1);
}
