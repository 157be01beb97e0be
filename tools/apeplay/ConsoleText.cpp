#include "ConsoleText.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <cwctype>

#include <errors.h>

#include "support/LossOfRange.h"

namespace apeplay {

namespace {

constexpr REFERENCE_TIME unitsPerTenth = 1'000'000;
constexpr REFERENCE_TIME tenthsPerMinute = 600;
constexpr REFERENCE_TIME tenthsPerHour = 36'000;

} // namespace

std::string toUtf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), oryx::rangeChecked<int>(text.size()), nullptr, 0,
                                          nullptr, nullptr);
    std::string utf8(std::size_t(std::max(bytes, 0)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), oryx::rangeChecked<int>(text.size()), utf8.data(), bytes, nullptr,
                        nullptr);
    return utf8;
}

std::wstring fromUtf8(const std::string& text)
{
    if (text.empty())
        return {};
    const int characters =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), oryx::rangeChecked<int>(text.size()), nullptr, 0);
    std::wstring wide(std::size_t(std::max(characters, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), oryx::rangeChecked<int>(text.size()), wide.data(), characters);
    return wide;
}

std::string formatClock(REFERENCE_TIME time)
{
    const long long tenths = std::max<REFERENCE_TIME>(time, 0) / unitsPerTenth;
    const long long hours = tenths / tenthsPerHour;
    const long long minutes = tenths % tenthsPerHour / tenthsPerMinute;
    const long long seconds = tenths % tenthsPerMinute / 10;
    char text[48];
    if (hours > 0)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld.%lld", hours, minutes, seconds, tenths % 10);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld.%lld", minutes, seconds, tenths % 10);
    return text;
}

std::string progressLine(REFERENCE_TIME position, REFERENCE_TIME duration, int width)
{
    const REFERENCE_TIME shown = std::clamp<REFERENCE_TIME>(position, 0, std::max<REFERENCE_TIME>(duration, 0));
    // In floating point: position × width overflows 64 bits for long files.
    const double fraction = duration > 0 ? double(shown) / double(duration) : 0.0;
    const int filled = std::min(width, int(fraction * width));
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d%%", int(fraction * 100));
    return "  " + formatClock(shown) + " / " + formatClock(duration) + " [" + std::string(std::size_t(filled), '#') +
           std::string(std::size_t(width - filled), '.') + "] " + percent;
}

} // namespace apeplay

namespace apeplay {

std::string hresultText(HRESULT hr)
{
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    wchar_t text[MAX_ERROR_TEXT_LEN] = {};
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, DWORD(hr), 0,
                                  text, MAX_ERROR_TEXT_LEN, nullptr);
    if (length == 0) {
        length = AMGetErrorTextW(hr, text, MAX_ERROR_TEXT_LEN);
        // Some implementations answer every code with a text that only
        // repeats it in hexadecimal, which says nothing the code doesn't.
        wchar_t hex[16];
        std::swprintf(hex, 16, L"%lx", static_cast<unsigned long>(hr));
        std::wstring lower(text, std::min<DWORD>(length, MAX_ERROR_TEXT_LEN));
        for (wchar_t& c : lower)
            c = wchar_t(std::towlower(c));
        if (lower.find(hex) != std::wstring::npos)
            length = 0;
    }
    std::wstring description(text, std::min<DWORD>(length, MAX_ERROR_TEXT_LEN));
    // Both sources end their texts with a full stop and a line break, which
    // would split the one-line message this goes into.
    while (!description.empty() && (std::iswspace(description.back()) || description.back() == L'.'))
        description.pop_back();
    return description.empty() ? std::string(code) : toUtf8(description) + " (" + code + ")";
}

} // namespace apeplay
