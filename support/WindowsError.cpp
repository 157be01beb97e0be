#include "support/WindowsError.h"

#include <locale>
#include <sstream>

#include "support/Library.h"
#include "support/LocalMemory.h"

namespace oryx {

namespace {

// Network error texts live in their own message module, not in the system's.
constexpr DWORD firstNetworkError = 2100;
constexpr DWORD lastNetworkError = 2999;

std::string lookUpSystemText(DWORD code)
{
    if (code >= firstNetworkError && code <= lastNetworkError) {
        Library netmsg("netmsg.dll", true);
        return netmsg.formatMessage(code, 0);
    }
    char* buffer = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code,
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&buffer), 0, nullptr);
    if (length == 0)
        throw WindowsError("Can't format message");
    LocalMemory memory(buffer, false);
    std::string text(static_cast<const char*>(memory.lock()), length);
    const std::locale locale;
    while (!text.empty() && (text.back() == '\0' || std::isspace(text.back(), locale)))
        text.pop_back();
    return text;
}

} // namespace

WindowsError::WindowsError(const std::string& message) : WindowsError(GetLastError(), message)
{
}

WindowsError::WindowsError(DWORD code, const std::string& message) : std::runtime_error(message), HRESULTHolder(code)
{
}

WindowsError::~WindowsError() = default;

std::string WindowsError::systemMessage() const
{
    try {
        return lookUpSystemText(code);
    } catch (const std::exception&) {
        std::ostringstream text;
        text << "Windows error 0x" << std::hex << code;
        return text.str();
    }
}

const char* WindowsError::what() const noexcept
{
    if (!composed) {
        try {
            const std::string message = std::runtime_error::what();
            const std::string system = systemMessage();
            composedText = message.empty() ? system : message + ": " + system;
        } catch (...) {
            // what() must not throw; the caller's message alone is still useful.
        }
        composed = true;
    }
    return composedText.empty() ? std::runtime_error::what() : composedText.c_str();
}

HRESULT WindowsError::hresult() const
{
    const auto value = static_cast<HRESULT>(code);
    if (value <= 0)
        return value;
    return static_cast<HRESULT>((code & 0xFFFF) | 0x80070000);
}

} // namespace oryx
