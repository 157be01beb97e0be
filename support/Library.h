#pragma once

#include <string>

#include <boost/noncopyable.hpp>
#include <windows.h>

namespace oryx {

// A module in the process: either one this object loaded (and frees exactly
// once), or one it merely refers to, such as the system's own module.
class Library : boost::noncopyable {
public:
    Library() = default;
    explicit Library(HMODULE module);
    // Loads `name` when `load` is true, otherwise refers to the already
    // loaded module of that name.
    Library(const std::string& name, bool load);
    ~Library();

    void load(const std::string& name);
    void attach(const std::string& name);
    void free();

    // Null only for an absent export asked for with `optional`.
    FARPROC procAddress(const char* name, bool optional = false) const;
    template <typename Function>
    Function entryPoint(const char* name, bool optional = false) const
    {
        return reinterpret_cast<Function>(reinterpret_cast<void*>(procAddress(name, optional)));
    }

    std::string fileName() const;
    std::wstring fileNameW() const;
    // The module's message-table text, unchanged (with its line end).
    std::string formatMessage(DWORD messageId, DWORD languageId) const;
    HMODULE handle() const { return module; }

private:
    HMODULE module = nullptr;
    bool owned = false;
};

} // namespace oryx
