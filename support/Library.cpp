#include "support/Library.h"

#include <sstream>
#include <stdexcept>

#include "support/LocalMemory.h"
#include "support/Quoted.h"
#include "support/StringConversion.h"
#include "support/WindowsError.h"

namespace oryx {

namespace {

// Refused before any system call, so a too-long name never reaches the loader.
void checkPathLength(const std::string& name)
{
    if (name.size() > MAX_PATH)
        throw std::runtime_error("Path length exceeds MAX_PATH");
}

} // namespace

Library::Library(HMODULE module) : module(module)
{
}

Library::Library(const std::string& name, bool load)
{
    if (load)
        this->load(name);
    else
        attach(name);
}

Library::~Library()
{
    try {
        free();
    } catch (const std::exception&) {
        // Destructors never raise; a module that will not unload stays mapped.
    }
}

void Library::load(const std::string& name)
{
    free();
    checkPathLength(name);
    HMODULE loaded = LoadLibraryA(name.c_str());
    if (!loaded)
        throw WindowsError(GetLastError(), "Can't load library " + quoted(name));
    module = loaded;
    owned = true;
}

void Library::attach(const std::string& name)
{
    free();
    checkPathLength(name);
    HMODULE found = GetModuleHandleA(name.c_str());
    if (!found)
        throw WindowsError("Can't get module handle for " + quoted(name));
    module = found;
}

void Library::free()
{
    if (!module)
        return;
    if (owned) {
        if (!FreeLibrary(module))
            throw WindowsError("Can't free library");
        owned = false;
    }
    module = nullptr;
}

FARPROC Library::procAddress(const char* name, bool optional) const
{
    if (FARPROC address = GetProcAddress(module, name))
        return address;
    const DWORD code = GetLastError();
    if (code == ERROR_PROC_NOT_FOUND && optional)
        return nullptr;
    throw WindowsError(code, "Can't get proc address for " + quoted(name));
}

std::string Library::fileName() const
{
    constexpr DWORD capacity = MAX_PATH + 1;
    char buffer[capacity];
    const DWORD length = GetModuleFileNameA(module, buffer, capacity);
    if (length == 0)
        throw WindowsError("Error in retrieving module file name");
    return std::string(buffer, length);
}

std::wstring Library::fileNameW() const
{
    return widen(fileName());
}

std::string Library::formatMessage(DWORD messageId, DWORD languageId) const
{
    char* buffer = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                       module, messageId, languageId, reinterpret_cast<char*>(&buffer), 0, nullptr);
    if (length == 0) {
        std::ostringstream message;
        // Callers match this text as it stands: "languag" is not to be corrected.
        message << std::hex << "Can't format message id " << messageId << " with languag " << languageId;
        throw WindowsError(message.str());
    }
    LocalMemory memory(buffer, false);
    memory.flags();
    return std::string(static_cast<const char*>(memory.lock()));
}

} // namespace oryx
