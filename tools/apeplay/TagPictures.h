#pragma once
// The pictures an .ape file's tag holds, read from the file itself (not
// through a player framework, which has no place for them): the listing of
// --info and the front cover that --cover writes out as stored.

#include <string>

namespace apeplay {

// One line per picture: "Picture      Cover Art (Front): JPEG, 500 x 500, 31,337 bytes".
// Nothing when the tag holds none.
void printPictures(const std::wstring& file);

// Writes the front cover's bytes to `out` (under a temporary name, renamed
// when complete) and returns their count. PlayerError when the file holds
// no picture, or one larger than ape::TagPicture::sizeLimit.
std::size_t writeFrontCover(const std::wstring& file, const std::wstring& out);

} // namespace apeplay
