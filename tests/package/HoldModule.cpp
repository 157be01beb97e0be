// Keeps a module loaded, as a player keeps the filter it plays through, until
// a file appears: "HoldModule MODULE UNTIL_FILE". It says "holding MODULE"
// once the module is loaded, and exits 1 when the module does not load or
// the file has not appeared within two minutes.
#include <cstdio>
#include <cwchar>

#include <windows.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::fwprintf(stderr, L"usage: HoldModule MODULE UNTIL_FILE\n");
        return 2;
    }
    const HMODULE module = LoadLibraryW(argv[1]);
    if (!module) {
        std::fwprintf(stderr, L"%ls: not loaded (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    std::wprintf(L"holding %ls\n", argv[1]);
    std::fflush(stdout);
    for (int waited = 0; waited < 1200; ++waited) {
        if (GetFileAttributesW(argv[2]) != INVALID_FILE_ATTRIBUTES) {
            FreeLibrary(module);
            return 0;
        }
        Sleep(100);
    }
    std::fwprintf(stderr, L"%ls never appeared\n", argv[2]);
    return 1;
}
