// The words typed into the tree's filter line and the archive paths they select: a path is
// selected when it contains every word, letters a-z matching either case. Plain C++.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velmora {

class TPathFilter {
public:
  TPathFilter() = default;
  // `typed` as UTF-8; words are separated by blanks (bytes at or below the space character).
  explicit TPathFilter(std::string_view typed);

  bool Empty() const { return words_.empty(); }
  // The words, a-z upper-cased, in the order typed.
  const std::vector<std::string>& Words() const { return words_; }

  // True when `path` contains every word (ignoring the case of a-z). The empty filter takes all.
  bool Matches(std::string_view path) const;

  // True when every path this filter takes, `wider` takes too: each word of `wider` lies inside
  // one of this filter's words (typing on narrows, deleting widens).
  bool Narrows(const TPathFilter& wider) const;

private:
  std::vector<std::string> words_;
};

// True when `hay` contains `upperNeedle` (already upper-cased), folding a-z of `hay` to upper case.
bool ContainsNoCase(std::string_view hay, std::string_view upperNeedle);

}  // namespace velmora
