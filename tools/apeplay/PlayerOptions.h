#pragma once
// What the command line asks apeplay to do. Parsing knows nothing of files
// or DirectShow: it checks only the shape of the arguments, so every usage
// mistake is reported before anything is created or written.

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <windows.h>
#include <strmif.h>

namespace apeplay {

// A mistake in the arguments; the text is one line without the program name.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Which of the platform's media frameworks plays or converts the file.
enum class Engine { directShow, mediaFoundation };

struct PlayerOptions {
    std::wstring file;
    Engine engine = Engine::directShow;
    // Where playback or conversion begins, in 100-ns units from the start.
    std::optional<REFERENCE_TIME> start;
    // Set for --wav: convert to this file instead of playing.
    std::wstring wavFile;
    // Set for --cover: write the front cover's bytes to this file instead
    // of playing.
    std::wstring coverFile;
    // --track N: only the album track numbered N in the file's cue sheet.
    std::optional<unsigned> track;
    bool infoOnly = false;
    // --tracks: the description and the cue sheet's tracks, then exit.
    bool listTracks = false;
    bool helpWanted = false;
};

// The arguments after the program name. With --help nothing else is checked.
PlayerOptions parsePlayerOptions(const std::vector<std::wstring>& arguments);

// "12", "0.5", "90.25": non-negative decimal seconds, as 100-ns units
// rounded to the nearest unit.
REFERENCE_TIME parseSeconds(const std::wstring& text);

extern const char* const usageText;

} // namespace apeplay
