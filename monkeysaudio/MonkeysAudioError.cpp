#include "monkeysaudio/MonkeysAudioError.h"

namespace {

struct CodecErrorEntry {
    std::int32_t code; // as the codec library returns it
    const char* text;  // exactly as the codec's own texts read; callers match them, oddities and all
};

// Searched in this order; the first match wins.
constexpr CodecErrorEntry codecErrors[] = {
    {1000, "I/O read error"},
    {1001, "I/O write error"},
    {1002, "invalid input file"},
    {1003, "invalid output file"},
    {1004, "input file file too large"}, // "file file" stays: callers match the text
    {1005, "input file unsupported bit depth"},
    {1006, "input file unsupported sample rate"},
    {1007, "input file unsupported channel count"},
    {1008, "input file too small"},
    {1009, "invalid checksum"},
    {1010, "decompressing frame"},
    {1011, "initializing unmac"},
    {1012, "invalid function parameter"},
    {1013, "unsupported file type"},
    {2000, "insufficient memory"},
    {3000, "loading MAC.dll"},
    {3001, "loading MACinfo.dll"},
    {3002, "loading UnMAC.dll"},
    {4000, "user stopped processing"},
    {4001, "skipped..."},
    {5000, "bad parameter"},
    {6000, "APE compress too much data"},
    {-1, "undefined"},
    {0, "Bla Bla"}, // stays, for the same reason
};

} // namespace

const char* codecErrorText(std::int32_t code)
{
    for (const CodecErrorEntry& entry : codecErrors) {
        if (entry.code == code)
            return entry.text;
    }
    return "Unknown error value";
}

MonkeysAudioError::MonkeysAudioError(std::int32_t code, const std::string& text)
    : std::runtime_error(text + ": " + codecErrorText(code)), code(code)
{
}
