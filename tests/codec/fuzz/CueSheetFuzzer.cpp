// libFuzzer entry for the cue-sheet reader. The first four input bytes pick
// the stream's rate (from rates that do and do not divide by 75) and its
// length in blocks; the rest is the sheet. Every file's tracks are laid out
// over that stream as a player would ask for them. Crashes, sanitizer
// reports, hangs and results outside the reader's promises (abort) are
// findings: more tracks or files than the limits, spans that do not rise or
// leave the stream, text that is not UTF-8 in a sheet called UTF-8.
#include "format/CueSheet.h"
#include "format/Utf8.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

constexpr std::uint32_t rates[] = {44100, 48000, 96000, 192000, 8000, 11025, 22050, 32000, 37800, 1, 4294967295u};

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "cue sheet fuzzer: %s\n", what);
        std::abort();
    }
}

void checkText(const ape::CueSheet& sheet, const std::string& text)
{
    if (sheet.encoding() == ape::CueSheet::Encoding::utf8)
        check(ape::isValidUtf8(text), "a text of a UTF-8 sheet is not UTF-8");
    check(text.size() <= ape::CueSheet::lineByteLimit, "a text longer than a line");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return 0;
    const std::uint32_t rate = rates[data[0] % std::size(rates)];
    const std::uint64_t totalBlocks = (std::uint64_t{data[1]} << 24 | std::uint64_t{data[2]} << 16 | data[3]) * 997;
    const std::string_view text(reinterpret_cast<const char*>(data + 4), size - 4);

    const ape::CueSheet sheet = ape::CueSheet::parse(text);
    check(sheet.files().size() <= ape::CueSheet::fileLimit, "more files than the limit");
    for (const std::string* album : {&sheet.title(), &sheet.performer(), &sheet.songwriter(), &sheet.catalog(),
                                     &sheet.genre(), &sheet.date(), &sheet.comment()})
        checkText(sheet, *album);
    std::size_t tracks = 0;
    for (const ape::CueFile& file : sheet.files()) {
        checkText(sheet, file.name);
        tracks += file.tracks.size();
        for (const ape::CueTrack& track : file.tracks) {
            check(track.number >= 1 && track.number <= 99, "a track number outside 1 to 99");
            for (const std::string* value : {&track.title, &track.performer, &track.songwriter, &track.isrc,
                                             &track.flags, &track.genre, &track.date, &track.comment})
                checkText(sheet, *value);
        }
        const std::vector<ape::CueTrackSpan> spans = ape::CueSheet::tracksOf(file, rate, totalBlocks);
        check(spans.size() <= file.tracks.size(), "more spans than tracks");
        for (std::size_t i = 0; i < spans.size(); ++i) {
            check(spans[i].start < spans[i].end, "an empty or reversed span");
            check(spans[i].end <= totalBlocks, "a span past the end");
            check(i + 1 == spans.size() ? spans[i].end == totalBlocks : spans[i].end == spans[i + 1].start,
                  "spans that leave a gap or overlap");
            check(spans[i].start == ape::CueSheet::framesToBlocks(spans[i].track->index01, rate),
                  "a span that does not start at its INDEX 01");
        }
    }
    check(tracks <= ape::CueSheet::trackLimit, "more tracks than the limit");
    return 0;
}
