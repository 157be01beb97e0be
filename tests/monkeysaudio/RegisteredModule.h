#pragma once

// apesrc.dll as a user installs it, for the tests that meet the product the
// way a player does: the module folder (apesrc.dll beside its codec,
// APESRC_SOURCE_MODULE_DIR), its registration with regsvr32, the module's
// own unload answer, and the real sample files with ffmpeg's md5 of their
// whole decoding (APESRC_REAL_SAMPLES).
#include <algorithm>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <windows.h>

#include "format/Md5.h"
#include "tests/common/Regsvr32.h"

namespace registered {

inline std::string moduleDirectory()
{
    std::string path = APESRC_SOURCE_MODULE_DIR;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// A file in the module folder, where the tests write what they generate.
inline std::string modulePath(const std::string& name)
{
    return moduleDirectory() + "\\" + name;
}

inline std::string realSample(const std::string& name)
{
    std::string path = APESRC_REAL_SAMPLES "/" + name;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// Names here are ASCII.
inline std::wstring wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

inline std::string md5(const std::vector<std::uint8_t>& bytes)
{
    ape::Md5 hash;
    hash.update(bytes.data(), bytes.size());
    return ape::Md5::hex(hash.finish());
}

inline void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct RealFile {
    std::string name;
    std::string md5;          // of ffmpeg's whole decoding
    std::uint32_t rate;       // blocks per second
    std::uint32_t blockAlign; // bytes per block
};

// Good real files: those that ffmpeg decodes whole without an error.
inline std::vector<RealFile> goodRealFiles()
{
    std::vector<RealFile> files;
    std::ifstream table(realSample("EXPECTED.tsv"));
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        std::istringstream columns(line);
        std::vector<std::string> fields;
        for (std::string field; std::getline(columns, field, '\t');)
            fields.push_back(field);
        if (fields.size() > 13 && fields[11] == "0" && fields[8] == fields[9] && fields[13] != "-")
            files.push_back({fields[0], fields[13], static_cast<std::uint32_t>(std::stoul(fields[4])),
                             static_cast<std::uint32_t>(std::stoul(fields[3]) * std::stoul(fields[5]) / 8)});
    }
    return files;
}

// regsvr32 /s on the module; its exit code (0 on success, 1 when it could
// not run or did not end within a minute).
inline DWORD registerModule()
{
    return runRegsvr32(modulePath("apesrc.dll"));
}

// The module's DllCanUnloadNow, or S_OK when it is not loaded at all.
inline HRESULT moduleCanUnloadNow(const char* moduleName = "apesrc.dll")
{
    const HMODULE module = GetModuleHandleA(moduleName);
    if (!module)
        return S_OK;
    const auto canUnload =
        reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    return canUnload();
}

} // namespace registered
