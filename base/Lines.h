// Splitting text into lines the way listfiles and "mpqToLoad.txt" are written: a line ends at
// CR, at LF or at CR LF; a final line break adds no empty line; empty lines inside the text are
// kept. The text ends at its first NUL byte, which no path can hold.
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

namespace velmora {

// Calls onLine(begin, end) for each line of `text`, in order; [begin, end) excludes the break.
void ForEachLine(std::string_view text, const std::function<void(std::size_t begin, std::size_t end)>& onLine);

}  // namespace velmora
