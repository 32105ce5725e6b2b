// Archive path rules shared by the file index and the file tree: keys, file names, extensions
// and directories. Archive paths separate components with '\' and, like drive prefixes, ':'.
#pragma once

#include <string>
#include <string_view>

#include "base/Ascii.h"

namespace velmora {

constexpr bool IsPathSeparator(char c) { return c == '\\' || c == ':'; }

// Drops leading and trailing bytes at or below the space character (controls, blanks).
std::string_view TrimBlanks(std::string_view s);

// The index key of an archive path: trimmed, then upper-cased.
std::string MakeKey(std::string_view path);

// Everything after the last separator; the whole path when there is none.
std::string_view FileNamePart(std::string_view path);

// From the last dot to the end when no separator follows that dot; empty otherwise.
std::string_view ExtensionPart(std::string_view path);

// Everything before the last separator. The separator itself is kept at the end when it is a
// colon ("A:"), when it is the first character ("\") or when it follows another separator
// ("A\\"). Empty when the path has no separator.
std::string_view DirectoryPart(std::string_view path);

}  // namespace velmora
