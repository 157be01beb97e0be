#include "PlayerOptions.h"

#include <cmath>
#include <cwchar>

#include "ConsoleText.h"

namespace apeplay {

namespace {

constexpr double unitsPerSecond = 10'000'000.0;
// Far beyond any real file, and small enough that the product with
// unitsPerSecond stays exact in a REFERENCE_TIME.
constexpr double longestStartSeconds = 1e9;
// Track numbers as a cue sheet writes them.
constexpr unsigned highestTrack = 99;

unsigned parseTrack(const std::wstring& text)
{
    const bool digits =
        !text.empty() && text.size() <= 2 && text.find_first_not_of(L"0123456789") == std::wstring::npos;
    const unsigned number = digits ? static_cast<unsigned>(std::wcstoul(text.c_str(), nullptr, 10)) : 0;
    if (number < 1 || number > highestTrack)
        throw UsageError("--track needs a track number from 1 to 99, not \"" + toUtf8(text) + "\"");
    return number;
}

} // namespace

const char* const usageText =
    "usage: apeplay [--engine dshow|mf] [--start SECONDS | --track N] [--wav OUT.wav] "
    "[--info | --tracks] [--cover OUT] [--help] FILE.ape\n"
    "  plays FILE.ape through DirectShow with its progress shown\n"
    "  --engine mf      through Media Foundation instead (apemf.dll registered)\n"
    "  --start SECONDS  begin this far into the file\n"
    "  --wav OUT.wav    convert to a PCM WAV file instead of playing, as fast as possible\n"
    "  --track N        only track N of the file's cue sheet (tag or .cue beside it)\n"
    "  --info           print the format, the duration, the tag texts and the pictures, then exit\n"
    "  --tracks         print the format, the duration, the tag texts and the tracks of the file's cue "
    "sheet, then exit\n"
    "  --cover OUT      write the front cover picture's bytes as stored to OUT, then exit\n";

REFERENCE_TIME parseSeconds(const std::wstring& text)
{
    // Plain decimals only: wcstod would also take signs, exponents,
    // hexadecimal and "inf".
    const bool decimal = !text.empty() && text.find_first_not_of(L"0123456789.") == std::wstring::npos &&
                         text.find(L'.') == text.rfind(L'.') && text != L".";
    const wchar_t* const begin = text.c_str();
    wchar_t* end = nullptr;
    const double seconds = decimal ? std::wcstod(begin, &end) : NAN;
    if (!std::isfinite(seconds) || end != begin + text.size() || seconds > longestStartSeconds)
        throw UsageError("--start needs a number of seconds, not \"" + toUtf8(text) + "\"");
    return std::llround(seconds * unitsPerSecond);
}

PlayerOptions parsePlayerOptions(const std::vector<std::wstring>& arguments)
{
    PlayerOptions options;
    for (const std::wstring& argument : arguments)
        if (argument == L"--help" || argument == L"-h") {
            options.helpWanted = true;
            return options;
        }
    std::vector<std::wstring> files;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        const auto value = [&]() -> const std::wstring& {
            if (i + 1 >= arguments.size())
                throw UsageError(toUtf8(argument) + " needs a value");
            return arguments[++i];
        };
        if (argument == L"--start") {
            options.start = parseSeconds(value());
        } else if (argument == L"--wav") {
            options.wavFile = value();
            if (options.wavFile.empty())
                throw UsageError("--wav needs a file name");
        } else if (argument == L"--engine") {
            const std::wstring& engine = value();
            if (engine == L"dshow")
                options.engine = Engine::directShow;
            else if (engine == L"mf")
                options.engine = Engine::mediaFoundation;
            else
                throw UsageError("--engine is dshow or mf, not \"" + toUtf8(engine) + "\"");
        } else if (argument == L"--cover") {
            options.coverFile = value();
            if (options.coverFile.empty())
                throw UsageError("--cover needs a file name");
        } else if (argument == L"--track") {
            options.track = parseTrack(value());
        } else if (argument == L"--info") {
            options.infoOnly = true;
        } else if (argument == L"--tracks") {
            options.listTracks = true;
        } else if (argument == L"--") {
            files.insert(files.end(), arguments.begin() + std::ptrdiff_t(i) + 1, arguments.end());
            break;
        } else if (argument.size() > 1 && argument[0] == L'-') {
            throw UsageError("no such option: " + toUtf8(argument));
        } else {
            files.push_back(argument);
        }
    }
    if (files.empty())
        throw UsageError("no file named");
    if (files.size() > 1)
        throw UsageError("one file at a time, not " + std::to_string(files.size()));
    if (options.infoOnly && (options.start || !options.wavFile.empty()))
        throw UsageError("--info takes neither --start nor --wav");
    if (!options.coverFile.empty() &&
        (options.infoOnly || options.listTracks || options.start || options.track || !options.wavFile.empty()))
        throw UsageError("--cover takes none of --info, --tracks, --start, --track and --wav");
    if (options.infoOnly && options.track)
        throw UsageError("--info takes no --track");
    if (options.listTracks && (options.start || options.track || !options.wavFile.empty()))
        throw UsageError("--tracks takes neither --start, --track nor --wav");
    if (options.start && options.track)
        throw UsageError("--start and --track both say where to begin: give one");
    options.file = files.front();
    return options;
}

} // namespace apeplay
