// Fuzz target: the Wine registry hive parser and the "mpqToLoad.txt" decoder. Byte 0 chooses
// which one reads the rest; both must give a result for any bytes, in linear time.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "host/MpqToLoad.h"
#include "host/Registry.h"

namespace {

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// Lines of BOM-less text as the decoder must give them: the bytes kept as they are, cut at the
// first NUL, split at CR, LF or CR LF, no empty line after a final break.
std::vector<std::string> PlainLines(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n') {
      line += c;
      continue;
    }
    lines.push_back(line);
    line.clear();
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  if (data[0] & 1) {
    const auto lines = velmora::DecodeMpqToLoad(text);
    size_t total = 0;
    for (const auto& line : lines) {
      total += line.size();
      // A line never holds its own terminator nor the NUL that ends the text.
      if (line.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) std::abort();
    }
    // UTF-16 input decodes to at most 3 bytes of UTF-8 per 2 bytes; UTF-8 is kept as it is.
    if (total > text.size() * 2) std::abort();
    const bool marked = StartsWith(text, "\xEF\xBB\xBF") || StartsWith(text, "\xFF\xFE") || StartsWith(text, "\xFE\xFF");
    if (!marked && lines != PlainLines(text)) std::abort();
  } else {
    const auto found = velmora::LookupWineRegistry(text, "Software\\Blizzard Entertainment\\World of Warcraft",
                                                   "InstallPath");
    if (found.value && !found.keyFound) std::abort();
  }
  return 0;
}
