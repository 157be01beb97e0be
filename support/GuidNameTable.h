#pragma once

#include <cstring>
#include <map>
#include <string>

#include <windows.h>

namespace oryx {

// The process's names for GUIDs from the developer's "GUIDs.txt": pairs of
// words, a braced GUID and its name, with line breaks carrying no meaning.
// The file is read once, on first use, by whichever thread gets there first;
// every other thread waits for that read to finish and then reads the table
// without a lock, since it never changes again. A missing key, value or file
// is looked for only once: names added later are seen by a new process.
class GuidNameTable {
public:
    static const GuidNameTable& instance();

    // Null when the file gave no name.
    const std::string* find(const GUID& guid) const;

private:
    struct ByBytes {
        bool operator()(const GUID& a, const GUID& b) const { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }
    };

    GuidNameTable();
    void read();

    std::map<GUID, std::string, ByBytes> names;
};

} // namespace oryx
