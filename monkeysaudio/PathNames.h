#pragma once

#include <string>

// Path arithmetic for locating files beside the system's module. Backslash is
// the only separator; nothing here touches the file system.

// One component of `path` (one trailing backslash ignored): for n >= 0 the
// n-th from the start, for n < 0 the (-n)-th from the end. A path that begins
// with a backslash has "\" as its first component; a drive comes back as its
// root ("C:" gives "C:\"). Counting past the end gives an empty string.
std::string pathComponent(const std::string& path, int n);

// `path` without its last component: C:\Media\apesrc.dll gives C:\Media, and
// a file at a drive root keeps the root's backslash (C:\apesrc.dll gives C:\).
std::string parentDirectory(const std::string& path);

// `name` placed under the directory `base`. A name that is absolute (starts
// with a backslash or a drive) is returned unchanged, leading "..\" parts climb
// out of `base` (never above a drive root), and a name that denotes a
// directory (ends with a backslash or a colon) gives an empty string.
std::string joinPath(std::string base, std::string name);
