// UTF-16 to UTF-8 conversion and UTF-8 validation.
#include "base/Utf.h"

namespace velmora {

namespace {
constexpr std::uint32_t kReplacement = 0xFFFD;
bool IsHighSurrogate(std::uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(std::uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
}  // namespace

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

void TUtf16ToUtf8::Unit(std::uint32_t u) {
  if (IsLowSurrogate(u) && high_ != 0) {
    // code point = 0x10000 + (high - 0xD800) * 0x400 + (low - 0xDC00)
    AppendUtf8(out_, 0x10000 + ((high_ - 0xD800) << 10) + (u - 0xDC00));
    high_ = 0;
    return;
  }
  Flush();
  if (IsHighSurrogate(u)) {
    high_ = u;
    return;
  }
  AppendUtf8(out_, IsLowSurrogate(u) ? kReplacement : u);
}

void TUtf16ToUtf8::Byte(char c) {
  Flush();
  out_.push_back(c);
}

void TUtf16ToUtf8::Flush() {
  if (high_ != 0) AppendUtf8(out_, kReplacement);
  high_ = 0;
}

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size());
  {
    TUtf16ToUtf8 sink(out);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
      const auto a = static_cast<unsigned char>(bytes[i]);
      const auto b = static_cast<unsigned char>(bytes[i + 1]);
      sink.Unit(bigEndian ? (std::uint32_t{a} << 8 | b) : (std::uint32_t{b} << 8 | a));
    }
  }
  return out;
}

std::size_t Utf8SequenceLength(const unsigned char* s, std::size_t n) {
  const unsigned char c = s[0];
  if (c < 0x80) return 1;
  std::size_t len = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    if (c == 0xE0) lo = 0xA0;  // overlong below U+0800
    if (c == 0xED) hi = 0x9F;  // surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    if (c == 0xF0) lo = 0x90;  // overlong below U+10000
    if (c == 0xF4) hi = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  if (n < len) return 0;
  if (s[1] < lo || s[1] > hi) return 0;
  for (std::size_t i = 2; i < len; ++i) {
    if (s[i] < 0x80 || s[i] > 0xBF) return 0;
  }
  return len;
}

std::string ValidUtf8(std::string_view bytes) {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t len = Utf8SequenceLength(s + i, bytes.size() - i);
    if (len == 0) {
      AppendUtf8(out, kReplacement);
      ++i;
    } else {
      out.append(bytes.data() + i, len);
      i += len;
    }
  }
  return out;
}

}  // namespace velmora
