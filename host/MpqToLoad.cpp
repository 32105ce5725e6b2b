// Decoding "mpqToLoad.txt" into lines.
#include "host/MpqToLoad.h"

#include "base/Lines.h"
#include "base/Utf.h"

namespace velmora {

std::vector<std::string> DecodeMpqToLoad(std::string_view bytes) {
  std::string decoded;
  std::string_view text;
  if (bytes.starts_with("\xEF\xBB\xBF")) {
    text = bytes.substr(3);
  } else if (bytes.starts_with("\xFF\xFE")) {
    decoded = Utf16ToUtf8(bytes.substr(2), false);
    text = decoded;
  } else if (bytes.starts_with("\xFE\xFF")) {
    decoded = Utf16ToUtf8(bytes.substr(2), true);
    text = decoded;
  } else {
    text = bytes;
  }
  std::vector<std::string> lines;
  ForEachLine(text, [&](std::size_t begin, std::size_t end) {
    lines.emplace_back(text.substr(begin, end - begin));
  });
  return lines;
}

}  // namespace velmora
