#include "tests/monkeysaudio/CodecPlacement.h"

#include <stdexcept>

#include "support/ThisModule.h"
#include "support/WindowsError.h"

namespace {

std::string directoryOf(const std::string& path)
{
    return path.substr(0, path.rfind('\\'));
}

void makeDirectory(const std::string& path)
{
    if (!CreateDirectoryA(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        throw oryx::WindowsError("Can't create directory \"" + path + '"');
}

} // namespace

CodecPlacement::CodecPlacement(const std::string& scenario) : directory(programDirectory() + "\\scratch-" + scenario)
{
    makeDirectory(directory);
    makeDirectory(moduleDirectory());
    makeDirectory(searchDirectory());
    const std::string anchorCopy = moduleDirectory() + "\\anchor.dll";
    copy(programDirectory() + "\\fakecodec\\anchor\\anchor.dll", anchorCopy);
    anchor = LoadLibraryA(anchorCopy.c_str());
    if (!anchor)
        throw oryx::WindowsError("Can't load the anchor module");
    thisModule = anchor;
}

CodecPlacement::~CodecPlacement()
{
    thisModule = nullptr;
    SetDllDirectoryA(nullptr);
    FreeLibrary(anchor);
    // Failures only leave scratch files behind, which the next run overwrites.
    for (const std::string& file : copies)
        DeleteFileA(file.c_str());
    RemoveDirectoryA(moduleDirectory().c_str());
    RemoveDirectoryA(searchDirectory().c_str());
    RemoveDirectoryA(directory.c_str());
}

void CodecPlacement::placeBesideModule(const std::string& source)
{
    copy(source, moduleDirectory() + "\\MACDllC.dll");
}

void CodecPlacement::placeOnSearchPath(const std::string& source)
{
    copy(source, searchDirectory() + "\\MACDllC.dll");
    if (!SetDllDirectoryA(searchDirectory().c_str()))
        throw oryx::WindowsError("Can't set the DLL directory");
}

std::string CodecPlacement::programDirectory()
{
    char path[MAX_PATH + 1];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0)
        throw oryx::WindowsError("Can't get the program's file name");
    return directoryOf(std::string(path, length));
}

std::string CodecPlacement::fakeCodec(const std::string& variant)
{
    return programDirectory() + "\\fakecodec\\" + variant + "\\MACDllC.dll";
}

std::string CodecPlacement::loadedCodecDirectory()
{
    HMODULE codec = GetModuleHandleA("MACDllC.dll");
    if (!codec)
        return std::string();
    char path[MAX_PATH + 1];
    const DWORD length = GetModuleFileNameA(codec, path, sizeof path);
    return directoryOf(std::string(path, length));
}

void CodecPlacement::copy(const std::string& source, const std::string& target)
{
    if (!CopyFileA(source.c_str(), target.c_str(), FALSE))
        throw oryx::WindowsError("Can't copy \"" + source + "\" to \"" + target + '"');
    copies.push_back(target);
}
