// Prints the version resource of each file named on the command line, as
// Explorer's Properties read it: "<file> <FileVersion> <ProductVersion>
// <fixed file version a.b.c.d> <OriginalFilename>". Exit status 1 when a file
// has none.
#include <cstdio>
#include <string>
#include <vector>

#include <windows.h>

namespace {

std::wstring stringValue(const std::vector<BYTE>& block, const wchar_t* name)
{
    wchar_t* text = nullptr;
    UINT length = 0;
    const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void**>(&text), &length) || !text)
        return L"-";
    return std::wstring(text);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        DWORD handle = 0;
        const DWORD size = GetFileVersionInfoSizeW(argv[i], &handle);
        std::vector<BYTE> block(size);
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        if (size == 0 || !GetFileVersionInfoW(argv[i], 0, size, block.data()) ||
            !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed) {
            std::fwprintf(stderr, L"%ls: no version resource\n", argv[i]);
            status = 1;
            continue;
        }
        std::wprintf(L"%ls %ls %ls %u.%u.%u.%u %ls\n", argv[i], stringValue(block, L"FileVersion").c_str(),
                     stringValue(block, L"ProductVersion").c_str(), HIWORD(fixed->dwFileVersionMS),
                     LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS),
                     stringValue(block, L"OriginalFilename").c_str());
    }
    return status;
}
