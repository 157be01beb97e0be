#include "monkeysaudio/CodecFileName.h"

#include <vector>

#include <windows.h>

#include "monkeysaudio/MonkeysAudioError.h"
#include "support/LossOfRange.h"
#include "support/StringConversion.h"

namespace {

// `narrowName` read back from the ANSI code page.
std::wstring fromAnsi(const std::string& narrowName)
{
    if (narrowName.empty())
        return {};
    const int length = oryx::rangeChecked<int>(narrowName.size());
    const int size = MultiByteToWideChar(CP_ACP, 0, narrowName.data(), length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_ACP, 0, narrowName.data(), length, wide.data(), size);
    return wide;
}

// The ANSI form of `name` when it names the same file, else empty.
std::string exactAnsi(const std::wstring& name)
{
    std::string narrowName = oryx::narrow(name, CP_ACP);
    return fromAnsi(narrowName) == name ? narrowName : std::string();
}

} // namespace

std::string codecFileName(const std::wstring& name)
{
    if (std::string exact = exactAnsi(name); !exact.empty() || name.empty())
        return exact;
    // Characters outside the code page would become '?' and name another
    // file, or none.
    const DWORD size = GetShortPathNameW(name.c_str(), nullptr, 0);
    if (size != 0) {
        std::vector<wchar_t> shortName(size);
        const DWORD written = GetShortPathNameW(name.c_str(), shortName.data(), size);
        if (written != 0 && written < size) {
            if (std::string exact = exactAnsi(std::wstring(shortName.data(), written)); !exact.empty())
                return exact;
        }
    }
    throw MonkeysAudioError(-1, "Can't open file \"" + oryx::narrow(name, CP_UTF8) +
                                    "\": its name has characters outside the system's code page and no short form");
}
