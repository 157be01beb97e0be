// A cue sheet: the track list of an album ripped to one image file, read
// from the text of a sheet embedded in the tag or lying beside the file.
//
// The reader is byte-oriented and never fails: what it cannot read it
// ignores, line by line, so a hostile sheet yields at most an empty track
// list. Its work and memory are bounded by the input's size and by the
// limits below, never by a number written in the text. Texts stay bytes in
// the sheet's encoding (encoding()); turning them into characters of the
// platform is the caller's, which for a local code page only it can do.
//
// Times in a sheet are CD frames, 75 to the second; tracksOf() turns them
// into blocks (one sample of every channel) at the file's rate.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ape {

struct CueTrack {
    unsigned number = 0;       // as written, 1 to 99
    std::int64_t index00 = -1; // frames, -1 when the sheet gives none
    std::int64_t index01 = -1; // frames, -1 when the sheet gives none
    std::int64_t pregap = -1;  // PREGAP frames (silence not in the file), -1 when none
    std::int64_t postgap = -1; // POSTGAP frames, -1 when none
    std::string title, performer, songwriter, isrc, flags, genre, date, comment;
};

struct CueFile {
    std::string name; // as written: often the image the ripper wrote (a .wav)
    std::vector<CueTrack> tracks;
};

// One playable track of the file: [start, end) in blocks.
struct CueTrackSpan {
    const CueTrack* track = nullptr; // into the sheet, which must outlive the span
    std::uint64_t start = 0;         // INDEX 01
    std::uint64_t end = 0;           // the next track's INDEX 01, or the end of the audio
};

class CueSheet {
public:
    // UTF-16 sheets (with a byte-order mark) are turned into UTF-8 here.
    enum class Encoding { utf8, localCodePage };

    static constexpr std::size_t sheetByteLimit = 1 << 20; // a longer sheet is not read at all
    static constexpr std::size_t lineByteLimit = 4096;     // a longer line is ignored
    static constexpr std::size_t trackLimit = 99;          // over all files, as on a CD
    static constexpr std::size_t fileLimit = 99;
    static constexpr unsigned frameRate = 75;

    static CueSheet parse(std::string_view bytes);

    Encoding encoding() const { return textEncoding; }
    const std::vector<CueFile>& files() const { return fileEntries; }
    const std::string& title() const { return albumTitle; }
    const std::string& performer() const { return albumPerformer; }
    const std::string& songwriter() const { return albumSongwriter; }
    const std::string& catalog() const { return albumCatalog; }
    const std::string& genre() const { return albumGenre; }
    const std::string& date() const { return albumDate; }
    const std::string& comment() const { return albumComment; }

    // The tracks of `file` that can be played from a stream of `totalBlocks`
    // at `sampleRate`, in order: a track without INDEX 01, one that does not
    // start after the track kept before it, and one that starts at or past
    // the end are dropped. Frames become blocks exactly at the rates that are
    // multiples of 75 (all the usual ones), rounded to the nearest elsewhere.
    static std::vector<CueTrackSpan> tracksOf(const CueFile& file, std::uint32_t sampleRate, std::uint64_t totalBlocks);
    static std::uint64_t framesToBlocks(std::int64_t frames, std::uint32_t sampleRate);

private:
    void readLine(std::string_view line);

    Encoding textEncoding = Encoding::utf8;
    std::vector<CueFile> fileEntries;
    std::string albumTitle, albumPerformer, albumSongwriter, albumCatalog, albumGenre, albumDate, albumComment;
    CueTrack* openTrack();

    // Where TITLE, PERFORMER and the like go: the album's until the first
    // TRACK, then that track's (the last of the last file). After a track
    // that is not audio, or one past the limits, they are ignored.
    bool inTrack = false;
    bool trackKept = false;
    bool filesOverflowed = false; // the last FILE line was past fileLimit: its tracks are ignored
    std::size_t trackCount = 0;
};

} // namespace ape
