#pragma once
// The command line as UTF-8 strings, and file paths made from them. On
// Windows the narrow argv is in the ANSI code page, which cannot carry every
// tag value or file name, so the wide command line is converted instead.

#include <filesystem>
#include <string>
#include <vector>

namespace ape {

// Every argument after the program name.
std::vector<std::string> utf8Arguments(int argc, char** argv);

std::filesystem::path pathFromUtf8(const std::string& utf8);

} // namespace ape
