#pragma once

// Registering a module the way an installer does: regsvr32 in a process of
// its own.
#include <string>
#include <vector>

#include <windows.h>

// regsvr32 /s [/u] on `modulePath`; its exit code (0 on success, 1 when it
// could not run or did not end within a minute).
inline DWORD runRegsvr32(const std::string& modulePath, bool unregister = false)
{
    const std::string command = std::string("regsvr32 /s ") + (unregister ? "/u " : "") + "\"" + modulePath + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 1;
    DWORD exitCode = 1;
    if (WaitForSingleObject(process.hProcess, 60'000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode;
}
