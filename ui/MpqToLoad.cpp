// Decoding "mpqToLoad.txt" into lines.
#include "ui/MpqToLoad.h"

#include <cstdint>

#include "archive/Zanth.h"

namespace velmora {
namespace {

void AppendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// UTF-16 code units (two bytes each, in the given byte order) as UTF-8.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size());
  const std::size_t units = bytes.size() / 2;
  auto unit = [&](std::size_t i) -> std::uint32_t {
    const auto a = static_cast<unsigned char>(bytes[2 * i]);
    const auto b = static_cast<unsigned char>(bytes[2 * i + 1]);
    return bigEndian ? (std::uint32_t{a} << 8 | b) : (std::uint32_t{b} << 8 | a);
  };
  for (std::size_t i = 0; i < units; ++i) {
    const std::uint32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      const std::uint32_t low = unit(i + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        // code point = 0x10000 + (high - 0xD800) * 0x400 + (low - 0xDC00)
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    AppendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? 0xFFFD : u);
  }
  return out;
}

}  // namespace

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
  ForEachListLine(text, [&](std::size_t begin, std::size_t end) {
    lines.emplace_back(text.substr(begin, end - begin));
  });
  return lines;
}

}  // namespace velmora
