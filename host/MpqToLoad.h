// Decoding "mpqToLoad.txt": one archive path per line, relative to the installation directory.
// Plain C++ over bytes, so that any file content can be fed to it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// The lines of the file as UTF-8 byte strings, in order. A byte-order mark selects the encoding:
// EF BB BF UTF-8, FF FE UTF-16 little-endian, FE FF UTF-16 big-endian (the mark itself is not
// part of the first line). Without one the bytes are taken as UTF-8 and kept as they are, valid
// or not, so that an archive named in another encoding can still be opened. In UTF-16 a lone
// surrogate becomes U+FFFD and an odd last byte is dropped. Lines end at CR, LF or CR LF; a
// final line break adds no empty line; empty lines are kept. The text ends at its first NUL
// character, which no file path can hold.
std::vector<std::string> DecodeMpqToLoad(std::string_view bytes);

}  // namespace velmora
