// Escaping of names for display.
#include "base/Escape.h"

#include "base/Utf.h"

namespace velmora {
namespace {

void AppendHex(std::string& out, unsigned char c) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  out += "\\x";
  out += kDigits[c >> 4];
  out += kDigits[c & 15];
}

}  // namespace

std::string EscapeName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  const auto* s = reinterpret_cast<const unsigned char*>(name.data());
  const std::size_t n = name.size();
  for (std::size_t i = 0; i < n;) {
    const unsigned char c = s[i];
    if (c < 0x20 || c == 0x7F) {
      AppendHex(out, c);
      ++i;
      continue;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    const std::size_t len = Utf8SequenceLength(s + i, n - i);
    // C1 controls are the two-byte sequences C2 80 .. C2 9F.
    const bool c1 = len == 2 && c == 0xC2 && s[i + 1] < 0xA0;
    if (len == 0 || c1) {
      AppendHex(out, c);
      if (c1) AppendHex(out, s[i + 1]);
      i += c1 ? 2 : 1;
      continue;
    }
    out.append(name.substr(i, len));
    i += len;
  }
  return out;
}

}  // namespace velmora
