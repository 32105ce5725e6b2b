// Unicode text conversions: UTF-16 to UTF-8 (registry strings, "mpqToLoad.txt" with a UTF-16
// byte-order mark) and UTF-8 validation (shader info logs).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

// Appends code point c (at most U+10FFFF) as UTF-8.
void AppendUtf8(std::string& out, std::uint32_t c);

// Takes UTF-16 code units one at a time and appends them to `out` as UTF-8, pairing
// surrogates; a lone surrogate becomes U+FFFD. Bytes that are already UTF-8 may be passed
// through in between.
class TUtf16ToUtf8 {
public:
  explicit TUtf16ToUtf8(std::string& out) : out_(out) {}
  ~TUtf16ToUtf8() { Flush(); }
  TUtf16ToUtf8(const TUtf16ToUtf8&) = delete;
  TUtf16ToUtf8& operator=(const TUtf16ToUtf8&) = delete;

  void Unit(std::uint32_t u);
  // One byte taken as it is.
  void Byte(char c);
  // Ends a pending high surrogate (as U+FFFD).
  void Flush();

private:
  std::string& out_;
  std::uint32_t high_ = 0;
};

// UTF-16 bytes in the given byte order as UTF-8; an odd last byte is dropped.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian);

// Length of the well-formed UTF-8 sequence at s[0..n), or 0 when it is malformed: no overlong
// forms, no surrogates (U+D800..U+DFFF), nothing above U+10FFFF. n must be at least 1.
std::size_t Utf8SequenceLength(const unsigned char* s, std::size_t n);

// `bytes` with every malformed UTF-8 sequence replaced by U+FFFD, one per byte.
std::string ValidUtf8(std::string_view bytes);

}  // namespace velmora
