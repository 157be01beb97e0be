#pragma once

#include <map>
#include <string>

#include <windows.h>

namespace oryx {

// The process's names for HRESULTs from the developer's "HRESULTs.txt":
// records of a hexadecimal value, a name and an optional comment in double
// quotes. Read once, on first use, like GuidNameTable, and never changed
// afterwards.
class HResultNameTable {
public:
    static const HResultNameTable& instance();

    // Null when the file gave no name.
    const std::string* find(HRESULT hr) const;

private:
    HResultNameTable();
    void read();

    std::map<HRESULT, std::string> names;
};

} // namespace oryx
