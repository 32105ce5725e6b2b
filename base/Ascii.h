// ASCII-only letter case: archive keys, registry names and host path components fold only the
// letters a-z / A-Z; every other byte, UTF-8 sequences included, compares as it is.
#pragma once

#include <string>
#include <string_view>

namespace velmora {

constexpr bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

constexpr char UpperAsciiChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

std::string UpperAscii(std::string_view s);

// Equal after folding a-z to upper case.
bool EqualNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view s, std::string_view prefix);

}  // namespace velmora
