#pragma once

#include <string>

// The name under which the codec, which takes names in the ANSI code page,
// can open the file `name`: the name itself when it survives the conversion
// unchanged, otherwise its short (8.3) form, which is ASCII. Raises
// MonkeysAudioError naming the file when neither works.
std::string codecFileName(const std::wstring& name);
