#include "format/CueSheet.h"

#include "format/Utf8.h"

namespace ape {

namespace {

constexpr std::string_view utf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view utf16LittleEndianMark = "\xFF\xFE";
constexpr std::string_view utf16BigEndianMark = "\xFE\xFF";
// Minutes in a time: five digits reach 69 days, past any image, and keep
// frames × rate × 2 inside 64 bits for any 32-bit rate.
constexpr std::size_t minuteDigitLimit = 5;
constexpr unsigned highestTrackNumber = 99;

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The next blank-separated word of `rest`, which loses it.
std::string_view nextWord(std::string_view& rest)
{
    rest = trimmed(rest);
    std::size_t end = 0;
    while (end < rest.size() && !isBlank(rest[end]))
        ++end;
    const std::string_view word = rest.substr(0, end);
    rest.remove_prefix(end);
    return word;
}

bool sameWord(std::string_view word, std::string_view upper)
{
    if (word.size() != upper.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        const char c = word[i] >= 'a' && word[i] <= 'z' ? char(word[i] - 'a' + 'A') : word[i];
        if (c != upper[i])
            return false;
    }
    return true;
}

// A value: between double quotes when it opens with one (up to the line's
// end when the closing quote is missing), else the rest of the line, so
// that an unquoted title with spaces is read whole.
std::string quotedOrRest(std::string_view rest)
{
    rest = trimmed(rest);
    if (!rest.empty() && rest.front() == '"') {
        rest.remove_prefix(1);
        const std::size_t close = rest.find('"');
        return std::string(rest.substr(0, close));
    }
    return std::string(rest);
}

// A decimal number of at most `digits` digits, nothing else; -1 when not.
std::int64_t decimal(std::string_view text, std::size_t digits)
{
    if (text.empty() || text.size() > digits)
        return -1;
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

// "mm:ss:ff" as frames; -1 for anything else (signs, seconds past 59,
// frames past 74, more minute digits than any image needs).
std::int64_t frames(std::string_view text)
{
    const std::size_t first = text.find(':');
    if (first == std::string_view::npos)
        return -1;
    const std::size_t second = text.find(':', first + 1);
    if (second == std::string_view::npos)
        return -1;
    const std::int64_t minutes = decimal(text.substr(0, first), minuteDigitLimit);
    const std::int64_t seconds = decimal(text.substr(first + 1, second - first - 1), 2);
    const std::int64_t frame = decimal(text.substr(second + 1), 2);
    if (minutes < 0 || seconds < 0 || seconds >= 60 || frame < 0 || frame >= CueSheet::frameRate)
        return -1;
    return (minutes * 60 + seconds) * CueSheet::frameRate + frame;
}

// The file name of a FILE line: quoted, or every word but the last (the
// file type), which lets an unquoted name hold spaces.
std::string fileName(std::string_view rest)
{
    rest = trimmed(rest);
    if (!rest.empty() && rest.front() == '"')
        return quotedOrRest(rest);
    const std::size_t lastBlank = rest.find_last_of(" \t");
    return std::string(trimmed(lastBlank == std::string_view::npos ? rest : rest.substr(0, lastBlank)));
}

} // namespace

CueSheet CueSheet::parse(std::string_view bytes)
{
    CueSheet sheet;
    if (bytes.size() > sheetByteLimit)
        return sheet;
    std::string transcoded;
    if (bytes.substr(0, utf8Mark.size()) == utf8Mark) {
        bytes.remove_prefix(utf8Mark.size());
    } else if (bytes.substr(0, 2) == utf16LittleEndianMark || bytes.substr(0, 2) == utf16BigEndianMark) {
        transcoded = utf16ToUtf8(bytes.substr(2), bytes.front() == utf16BigEndianMark.front());
        bytes = transcoded;
    }
    sheet.textEncoding = isValidUtf8(bytes) ? Encoding::utf8 : Encoding::localCodePage;

    // Lines end at CR, LF or CR LF; empty lines cost nothing.
    std::size_t begin = 0;
    while (begin < bytes.size()) {
        std::size_t end = begin;
        while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n')
            ++end;
        if (end - begin <= lineByteLimit)
            sheet.readLine(bytes.substr(begin, end - begin));
        begin = end + 1;
    }
    return sheet;
}

CueTrack* CueSheet::openTrack()
{
    return inTrack && trackKept ? &fileEntries.back().tracks.back() : nullptr;
}

void CueSheet::readLine(std::string_view line)
{
    std::string_view rest = line;
    const std::string_view command = nextWord(rest);

    if (sameWord(command, "FILE")) {
        inTrack = false;
        filesOverflowed = fileEntries.size() >= fileLimit;
        if (!filesOverflowed)
            fileEntries.push_back(CueFile{fileName(rest), {}});
        return;
    }
    if (sameWord(command, "TRACK")) {
        inTrack = true;
        trackKept = false;
        const std::int64_t number = decimal(nextWord(rest), 3);
        if (number < 1 || number > highestTrackNumber || !sameWord(nextWord(rest), "AUDIO") ||
            trackCount >= trackLimit || filesOverflowed)
            return;
        // Tracks before any FILE line belong to the file the sheet came with.
        if (fileEntries.empty())
            fileEntries.push_back(CueFile{});
        CueTrack track;
        track.number = static_cast<unsigned>(number);
        fileEntries.back().tracks.push_back(std::move(track));
        trackKept = true;
        ++trackCount;
        return;
    }

    CueTrack* const track = openTrack();
    if (inTrack && !track)
        return;
    if (sameWord(command, "INDEX")) {
        const std::int64_t index = decimal(nextWord(rest), 2);
        const std::int64_t at = frames(nextWord(rest));
        if (!track || at < 0)
            return;
        // A repeated index keeps its first time.
        if (index == 0 && track->index00 < 0)
            track->index00 = at;
        else if (index == 1 && track->index01 < 0)
            track->index01 = at;
    } else if (sameWord(command, "PREGAP") || sameWord(command, "POSTGAP")) {
        const std::int64_t at = frames(nextWord(rest));
        if (track && at >= 0)
            (sameWord(command, "PREGAP") ? track->pregap : track->postgap) = at;
    } else if (sameWord(command, "TITLE")) {
        (track ? track->title : albumTitle) = quotedOrRest(rest);
    } else if (sameWord(command, "PERFORMER")) {
        (track ? track->performer : albumPerformer) = quotedOrRest(rest);
    } else if (sameWord(command, "SONGWRITER")) {
        (track ? track->songwriter : albumSongwriter) = quotedOrRest(rest);
    } else if (sameWord(command, "ISRC")) {
        if (track)
            track->isrc = quotedOrRest(rest);
    } else if (sameWord(command, "FLAGS")) {
        if (track)
            track->flags = std::string(trimmed(rest));
    } else if (sameWord(command, "CATALOG")) {
        albumCatalog = quotedOrRest(rest);
    } else if (sameWord(command, "REM")) {
        const std::string_view what = nextWord(rest);
        if (sameWord(what, "GENRE"))
            (track ? track->genre : albumGenre) = quotedOrRest(rest);
        else if (sameWord(what, "DATE"))
            (track ? track->date : albumDate) = quotedOrRest(rest);
        else if (sameWord(what, "COMMENT"))
            (track ? track->comment : albumComment) = quotedOrRest(rest);
    }
}

std::uint64_t CueSheet::framesToBlocks(std::int64_t frames, std::uint32_t sampleRate)
{
    // Frames stay below 2^29 (five digits of minutes), the rate below 2^32:
    // twice the product fits in 64 bits with room for the rounding.
    const std::uint64_t twice = std::uint64_t(frames) * sampleRate * 2;
    return (twice + frameRate) / (2 * frameRate);
}

std::vector<CueTrackSpan> CueSheet::tracksOf(const CueFile& file, std::uint32_t sampleRate, std::uint64_t totalBlocks)
{
    std::vector<CueTrackSpan> spans;
    for (const CueTrack& track : file.tracks) {
        if (track.index01 < 0)
            continue;
        const std::uint64_t start = framesToBlocks(track.index01, sampleRate);
        if (start >= totalBlocks || (!spans.empty() && start <= spans.back().start))
            continue;
        if (!spans.empty())
            spans.back().end = start;
        spans.push_back(CueTrackSpan{&track, start, totalBlocks});
    }
    return spans;
}

} // namespace ape
