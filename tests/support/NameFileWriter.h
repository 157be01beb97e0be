#pragma once

#include <fstream>
#include <string>

#include <windows.h>

#include "support/RegistryKey.h"
#include "support/VendorKey.h"

// Name files written beside the test program, with their paths recorded
// under the vendor key as a developer's machine would have them.
class NameFileWriter {
public:
    static std::string besideProgram(const std::string& fileName)
    {
        char path[MAX_PATH];
        const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
        std::string directory(path, length);
        return directory.substr(0, directory.find_last_of('\\') + 1) + fileName;
    }

    static void write(const std::string& path, const std::string& text)
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file << text;
    }

    // The GUID path as REG_SZ, the HRESULT path as REG_EXPAND_SZ: both
    // types are read, unexpanded.
    static void record(const std::string& guidPath, const std::string& hresultPath)
    {
        oryx::RegistryKey files;
        files.create(HKEY_LOCAL_MACHINE, oryx::vendorKey::filesKeyName);
        files.setString(oryx::vendorKey::guidNamesValue, guidPath);
        files.setValue(oryx::vendorKey::hresultNamesValue, reinterpret_cast<const BYTE*>(hresultPath.c_str()),
                       static_cast<DWORD>(hresultPath.size() + 1), REG_EXPAND_SZ);
    }
};
