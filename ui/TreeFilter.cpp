// Filter words and case-insensitive containment.
#include "ui/TreeFilter.h"

#include <algorithm>

#include "base/Ascii.h"

namespace velmora {

TPathFilter::TPathFilter(std::string_view typed) {
  std::size_t i = 0;
  while (i < typed.size()) {
    while (i < typed.size() && static_cast<unsigned char>(typed[i]) <= ' ') ++i;
    const std::size_t begin = i;
    while (i < typed.size() && static_cast<unsigned char>(typed[i]) > ' ') ++i;
    if (i > begin) words_.push_back(UpperAscii(typed.substr(begin, i - begin)));
  }
}

bool ContainsNoCase(std::string_view hay, std::string_view needle) {
  if (needle.empty()) return true;
  if (hay.size() < needle.size()) return false;
  // Candidates are found by the first character in either case, then checked in full.
  const char first = needle[0];
  const char firstLower = (first >= 'A' && first <= 'Z') ? static_cast<char>(first + 32) : first;
  const std::size_t last = hay.size() - needle.size();
  const char* h = hay.data();
  for (std::size_t i = 0; i <= last; ++i) {
    if (h[i] != first && h[i] != firstLower) continue;
    std::size_t k = 1;
    while (k < needle.size() && UpperAsciiChar(h[i + k]) == needle[k]) ++k;
    if (k == needle.size()) return true;
  }
  return false;
}

bool TPathFilter::Matches(std::string_view path) const {
  return std::all_of(words_.begin(), words_.end(), [path](const std::string& w) { return ContainsNoCase(path, w); });
}

bool TPathFilter::Narrows(const TPathFilter& wider) const {
  return std::all_of(wider.words_.begin(), wider.words_.end(), [this](const std::string& w) {
    return std::any_of(words_.begin(), words_.end(), [&w](const std::string& mine) {
      return mine.find(w) != std::string::npos;
    });
  });
}

}  // namespace velmora
