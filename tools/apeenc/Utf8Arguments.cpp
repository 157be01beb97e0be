#include "Utf8Arguments.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

#include <memory>

namespace ape {

#ifdef _WIN32
namespace {

std::string toUtf8(const wchar_t* wide)
{
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1)
        return {};
    std::string utf8(std::size_t(bytes - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), bytes, nullptr, nullptr);
    return utf8;
}

struct LocalFreeDeleter {
    void operator()(LPWSTR* p) const { LocalFree(p); }
};

} // namespace

std::vector<std::string> utf8Arguments(int, char**)
{
    int count = 0;
    const std::unique_ptr<LPWSTR, LocalFreeDeleter> wide(CommandLineToArgvW(GetCommandLineW(), &count));
    std::vector<std::string> args;
    for (int i = 1; wide && i < count; ++i)
        args.push_back(toUtf8(wide.get()[i]));
    return args;
}
#else
std::vector<std::string> utf8Arguments(int argc, char** argv)
{
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}
#endif

std::filesystem::path pathFromUtf8(const std::string& utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

} // namespace ape
