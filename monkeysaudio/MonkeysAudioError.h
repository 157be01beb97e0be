#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

// A failure reported by the codec library as an integer code, or detected by
// the system itself (code -1). The message is the operation's text, ": ",
// and the code's fixed text.
class MonkeysAudioError : public std::runtime_error {
public:
    MonkeysAudioError(std::int32_t code, const std::string& text);

    std::int32_t code;
};

// The code of failures the system detects itself, and the preset of every
// code the codec is to store: a codec that fails to store one reports this.
constexpr std::int32_t undefinedCodecError = -1;

// The fixed text of a codec error code; "Unknown error value" for codes the
// table does not hold.
const char* codecErrorText(std::int32_t code);
