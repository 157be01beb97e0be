#pragma once
// Texts for the console: UTF-8 (the terminal under Wine passes the bytes
// through), playing times and the progress line.

#include <string>

#include <windows.h>
#include <strmif.h>

namespace apeplay {

std::string toUtf8(const std::wstring& text);
std::wstring fromUtf8(const std::string& text);

// "m:ss.s", or "h:mm:ss.s" from one hour on; tenths are truncated, so a
// position never shows as reached before it is. Negative times show as 0.
std::string formatClock(REFERENCE_TIME time);

// One line of `width` bar cells: "  0:03.2 / 0:12.0 [#####...............]  26%".
// The position is clamped to 0..duration; a duration of 0 or less shows an
// empty bar.
std::string progressLine(REFERENCE_TIME position, REFERENCE_TIME duration, int width = 30);

// The platform's text for `hr` (DirectShow's own texts first, then the
// system's) followed by the code: "The system cannot find the file specified
// (0x80070002)"; the code alone when neither knows it.
std::string hresultText(HRESULT hr);

} // namespace apeplay
