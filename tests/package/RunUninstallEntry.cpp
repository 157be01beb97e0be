// Runs a command line of the installation's uninstall entry as a deployment
// tool does: the value read from the 64-bit view (the only one on 32-bit
// Windows, where the view's flag means nothing), started as it stands with CreateProcess, waited for. Prints
// "exit code N" with the whole code (Wine hands a caller only its low byte)
// and exits with it. "RunUninstallEntry PRODUCT VALUE_NAME"
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include <windows.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::fwprintf(stderr, L"usage: RunUninstallEntry PRODUCT VALUE_NAME\n");
        return 2;
    }
    const std::wstring keyName = std::wstring(L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + argv[1];
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyName.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) !=
        ERROR_SUCCESS) {
        std::fwprintf(stderr, L"no key HKLM\\%ls\n", keyName.c_str());
        return 2;
    }
    DWORD size = 0;
    std::vector<wchar_t> commandLine;
    LSTATUS status = RegGetValueW(key, nullptr, argv[2], RRF_RT_REG_SZ, nullptr, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        commandLine.resize(size / sizeof(wchar_t) + 1);
        status = RegGetValueW(key, nullptr, argv[2], RRF_RT_REG_SZ, nullptr, commandLine.data(), &size);
    }
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        std::fwprintf(stderr, L"no value %ls under HKLM\\%ls\n", argv[2], keyName.c_str());
        return 2;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        std::fwprintf(stderr, L"cannot start %ls (error %lu)\n", commandLine.data(), GetLastError());
        return 2;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::wprintf(L"exit code %lu\n", code);
    return static_cast<int>(code);
}
