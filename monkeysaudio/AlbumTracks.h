#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class ApeDecoder;

// The tracks of an album ripped to one file, from its cue sheet: the tag's
// item "Cuesheet" (any case) when there is one, else a .cue file of the same
// base name beside it. A sheet lists the files of a rip; the tracks are those
// of the one entry that stands for this file: the only entry, or else the
// one whose name has this file's base name (rippers name the image they
// wrote, often a .wav, so the extension is not compared). No sheet, an
// unreadable one, or one without such an entry gives no tracks.
//
// Texts are decoded as the sheet's encoding says: UTF-8 (or UTF-16, which
// the reader turned into UTF-8), else the system's ANSI code page. The
// object is a value: it holds no file, and copies are independent.
class AlbumTracks {
public:
    struct Track {
        unsigned number = 0;     // as the sheet writes it
        std::uint64_t start = 0; // blocks: the track's INDEX 01
        std::uint64_t end = 0;   // blocks: the next track's INDEX 01, or the end of the stream
        std::wstring title;
        std::wstring performer;
    };

    AlbumTracks() = default;

    // The tracks of the file `decoder` has open, named `fileName`. A tag
    // that fails to give its sheet gives no tracks: they are an addition,
    // and the file plays whole without them.
    static AlbumTracks ofFile(const ApeDecoder& decoder, const std::wstring& fileName);
    // `taggedSheet` is the raw value of the tag's sheet item, or nothing when
    // the tag has none; `fileName` the file's full name, beside which a
    // sidecar sheet is looked for. The stream holds `totalBlocks` at
    // `sampleRate`. Never raises for what the sheet holds; a sidecar that
    // cannot be read counts as none.
    static AlbumTracks read(const std::optional<std::string>& taggedSheet, const std::wstring& fileName,
                            std::uint32_t sampleRate, std::uint64_t totalBlocks);
    // `fileName` with its extension replaced by ".cue".
    static std::wstring sidecarName(const std::wstring& fileName);

    const std::vector<Track>& tracks() const { return albumTracks; }
    const std::wstring& title() const { return albumTitle; }
    const std::wstring& performer() const { return albumPerformer; }
    // "NN. Title" ("NN" without a title), with " - Performer" when the
    // track's performer is not the album's.
    std::wstring displayName(const Track& track) const;
    // The index of the track that holds `block`: the last one starting at or
    // before it, or the first before the first track starts. Needs tracks.
    std::size_t indexAt(std::uint64_t block) const;

private:
    std::vector<Track> albumTracks;
    std::wstring albumTitle;
    std::wstring albumPerformer;
};
