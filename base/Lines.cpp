// The line splitter.
#include "base/Lines.h"

#include <cstring>

namespace velmora {

void ForEachLine(std::string_view text, const std::function<void(std::size_t begin, std::size_t end)>& onLine) {
  if (const void* nul = std::memchr(text.data(), 0, text.size())) {
    text = text.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - text.data()));
  }
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t eol = pos;
    while (eol < text.size() && text[eol] != '\r' && text[eol] != '\n') ++eol;
    onLine(pos, eol);
    if (eol == text.size()) break;
    pos = eol + 1;
    if (text[eol] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
  }
}

}  // namespace velmora
