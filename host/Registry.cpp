// Reading one value out of a Wine system.reg hive, and where that hive lies.
#include "host/Registry.h"

#include <cstdio>
#include <cstdlib>

#include "base/Ascii.h"
#include "base/Paths.h"
#include "base/Utf.h"

namespace velmora {
namespace {

constexpr std::string_view kHeader = "WINE REGISTRY Version 2";

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string_view TrimLeft(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && IsSpace(s[i])) ++i;
  return s.substr(i);
}

std::string_view TrimRight(std::string_view s) {
  std::size_t n = s.size();
  while (n > 0 && IsSpace(s[n - 1])) --n;
  return s.substr(0, n);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Physical lines of the file: split at LF, a CR before the LF dropped.
class TLineReader {
public:
  explicit TLineReader(std::string_view text) : text_(text) {}
  bool Next(std::string_view& line) {
    if (pos_ >= text_.size()) return false;
    std::size_t end = text_.find('\n', pos_);
    if (end == std::string_view::npos) end = text_.size();
    line = text_.substr(pos_, end - pos_);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos_ = end + 1;
    return true;
  }

private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

// Parses an escaped name or string starting at s[pos] up to the unescaped `end` character.
// On success `pos` is left just after `end`. Escapes: \a \b \e \f \n \r \t \v, \x with one to
// four hex digits (one UTF-16 unit), \ooo octal with one to three digits; any other escaped
// character stands for itself.
bool ParseEscaped(std::string_view s, std::size_t& pos, char end, std::string& out) {
  TUtf16ToUtf8 sink(out);
  std::size_t i = pos;
  while (i < s.size() && s[i] != end) {
    if (s[i] != '\\') {
      sink.Byte(s[i++]);
      continue;
    }
    if (++i >= s.size()) return false;
    const char c = s[i];
    switch (c) {
      case 'a': sink.Unit('\a'); ++i; continue;
      case 'b': sink.Unit('\b'); ++i; continue;
      case 'e': sink.Unit(0x1B); ++i; continue;
      case 'f': sink.Unit('\f'); ++i; continue;
      case 'n': sink.Unit('\n'); ++i; continue;
      case 'r': sink.Unit('\r'); ++i; continue;
      case 't': sink.Unit('\t'); ++i; continue;
      case 'v': sink.Unit('\v'); ++i; continue;
      case 'x': {
        ++i;
        if (i >= s.size() || HexDigit(s[i]) < 0) {
          sink.Byte('x');
          continue;
        }
        std::uint32_t u = 0;
        for (int n = 0; n < 4 && i < s.size() && HexDigit(s[i]) >= 0; ++n, ++i)
          u = u * 16 + static_cast<std::uint32_t>(HexDigit(s[i]));
        sink.Unit(u);
        continue;
      }
      default:
        break;
    }
    if (c >= '0' && c <= '7') {
      std::uint32_t u = 0;
      for (int n = 0; n < 3 && i < s.size() && s[i] >= '0' && s[i] <= '7'; ++n, ++i)
        u = u * 8 + static_cast<std::uint32_t>(s[i] - '0');
      sink.Unit(u);
      continue;
    }
    sink.Byte(s[i++]);
  }
  sink.Flush();
  if (i >= s.size()) return false;
  pos = i + 1;
  return true;
}

// "01,02,ff" (spaces allowed around the commas; an empty list is no bytes).
bool ParseHexBytes(std::string_view s, std::string& out) {
  std::size_t i = 0;
  s = TrimRight(s);
  while (true) {
    while (i < s.size() && IsSpace(s[i])) ++i;
    if (i >= s.size()) return true;
    if (i + 1 >= s.size() || HexDigit(s[i]) < 0 || HexDigit(s[i + 1]) < 0) return false;
    out.push_back(static_cast<char>(HexDigit(s[i]) * 16 + HexDigit(s[i + 1])));
    i += 2;
    while (i < s.size() && IsSpace(s[i])) ++i;
    if (i >= s.size()) return true;
    if (s[i] != ',') return false;
    ++i;
  }
}

// Up to eight hex digits; false when none or when anything but blanks follows.
bool ParseHexNumber(std::string_view s, std::uint32_t& v) {
  s = TrimRight(s);
  if (s.empty() || s.size() > 8) return false;
  v = 0;
  for (char c : s) {
    const int d = HexDigit(c);
    if (d < 0) return false;
    v = v * 16 + static_cast<std::uint32_t>(d);
  }
  return true;
}

bool IsStringType(std::uint32_t type) { return type == kRegSz || type == kRegExpandSz || type == 7; }

void CutAtNul(std::string& s) {
  const std::size_t nul = s.find('\0');
  if (nul != std::string::npos) s.resize(nul);
}

// The data part of a value line, after "=". Hex data has already been joined over its
// continuation lines. Nothing when the data is malformed: such a value is not loaded.
std::optional<TRegValue> ParseData(std::string_view data) {
  TRegValue v;
  std::size_t pos = 0;
  if (!data.empty() && data[0] == '"') {
    pos = 1;
    v.type = kRegSz;
    if (!ParseEscaped(data, pos, '"', v.data)) return std::nullopt;
    CutAtNul(v.data);
    return v;
  }
  if (data.starts_with("str:") || data.starts_with("str(")) {
    v.type = kRegSz;
    pos = 3;
    if (data[3] == '(') {
      const std::size_t close = data.find(')', 4);
      if (close == std::string_view::npos || !ParseHexNumber(data.substr(4, close - 4), v.type)) return std::nullopt;
      pos = close + 1;
    }
    if (pos + 1 >= data.size() || data[pos] != ':' || data[pos + 1] != '"') return std::nullopt;
    pos += 2;
    if (!ParseEscaped(data, pos, '"', v.data)) return std::nullopt;
    CutAtNul(v.data);
    return v;
  }
  if (data.starts_with("dword:")) {
    std::uint32_t n = 0;
    if (!ParseHexNumber(data.substr(6), n)) return std::nullopt;
    v.type = kRegDword;
    for (int i = 0; i < 4; ++i) v.data.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
    return v;
  }
  if (data.starts_with("hex:") || data.starts_with("hex(")) {
    v.type = kRegBinary;
    pos = 3;
    if (data[3] == '(') {
      const std::size_t close = data.find(')', 4);
      if (close == std::string_view::npos || !ParseHexNumber(data.substr(4, close - 4), v.type)) return std::nullopt;
      pos = close + 1;
    }
    if (pos >= data.size() || data[pos] != ':') return std::nullopt;
    std::string bytes;
    if (!ParseHexBytes(data.substr(pos + 1), bytes)) return std::nullopt;
    if (IsStringType(v.type)) {
      v.data = Utf16ToUtf8(bytes, false);
      CutAtNul(v.data);
    } else {
      v.data = std::move(bytes);
    }
    return v;
  }
  return std::nullopt;
}

// Which of the looked-up keys a section names, exactly or as an ancestor.
struct TKeyTarget {
  std::string path;
  bool found = false;
  std::optional<TRegValue> value;
};

std::string_view StripLeadingBackslashes(std::string_view s) {
  while (!s.empty() && s.front() == '\\') s.remove_prefix(1);
  return s;
}

}  // namespace

TRegLookup LookupWineRegistry(std::string_view hiveText, std::string_view keyPath,
                              std::string_view valueName) {
  TLineReader reader(hiveText);
  std::string_view line;
  if (!reader.Next(line) || TrimRight(line) != kHeader) return {};

  TKeyTarget plain;
  plain.path = std::string(StripLeadingBackslashes(keyPath));
  TKeyTarget wow;
  constexpr std::string_view kSoftware = "Software\\";
  if (StartsWithNoCase(plain.path, kSoftware))
    wow.path = std::string(kSoftware) + "Wow6432Node\\" + plain.path.substr(kSoftware.size());

  bool win64 = false;
  TKeyTarget* current = nullptr;  // the target the section being read names exactly
  std::string joined;
  while (reader.Next(line)) {
    std::string_view s = TrimLeft(line);
    if (s.empty()) continue;
    if (s[0] == '#') {
      if (TrimRight(s) == "#arch=win64") win64 = true;
      continue;
    }
    if (s[0] == '[') {
      current = nullptr;
      std::size_t pos = 1;
      std::string name;
      if (!ParseEscaped(s, pos, ']', name)) continue;
      const std::string_view key = StripLeadingBackslashes(name);
      for (TKeyTarget* t : {&plain, &wow}) {
        if (t->path.empty()) continue;
        if (EqualNoCase(key, t->path)) {
          t->found = true;
          current = t;
        } else if (key.size() > t->path.size() && key[t->path.size()] == '\\' &&
                   StartsWithNoCase(key, t->path)) {
          t->found = true;  // a subkey implies its parents
        }
      }
      continue;
    }
    if (s[0] != '"' && s[0] != '@') continue;

    std::string name;
    std::size_t pos = 1;
    if (s[0] == '"') {
      if (!ParseEscaped(s, pos, '"', name)) continue;
    }
    while (pos < s.size() && IsSpace(s[pos])) ++pos;
    if (pos >= s.size() || s[pos] != '=') continue;
    ++pos;
    while (pos < s.size() && IsSpace(s[pos])) ++pos;
    std::string_view data = s.substr(pos);

    // Hex data runs on over the following lines while a line ends in a backslash.
    if (data.starts_with("hex")) {
      const std::string_view first = TrimRight(data);
      if (!first.empty() && first.back() == '\\') {
        joined.assign(first.substr(0, first.size() - 1));
        std::string_view next;
        while (reader.Next(next)) {
          const std::string_view part = TrimRight(TrimLeft(next));
          const bool more = !part.empty() && part.back() == '\\';
          joined.append(more ? part.substr(0, part.size() - 1) : part);
          if (!more) break;
        }
        data = joined;
      }
    }

    const bool isDefault = s[0] == '@';
    if (current == nullptr || isDefault != valueName.empty()) continue;
    if (!isDefault && !EqualNoCase(name, valueName)) continue;
    if (std::optional<TRegValue> v = ParseData(data)) current->value = std::move(v);
  }

  const TKeyTarget& chosen = (win64 && wow.found) ? wow : plain;
  TRegLookup result;
  result.keyFound = chosen.found;
  if (chosen.found) result.value = chosen.value;
  return result;
}

std::string RegTypeName(std::uint32_t type) {
  static constexpr const char* kNames[] = {
      "REG_NONE",          "REG_SZ",
      "REG_EXPAND_SZ",     "REG_BINARY",
      "REG_DWORD",         "REG_DWORD_BIG_ENDIAN",
      "REG_LINK",          "REG_MULTI_SZ",
      "REG_RESOURCE_LIST", "REG_FULL_RESOURCE_DESCRIPTOR",
      "REG_RESOURCE_REQUIREMENTS_LIST", "REG_QWORD"};
  if (type < std::size(kNames)) return kNames[type];
  char buf[32];
  std::snprintf(buf, sizeof buf, "type 0x%x", type);
  return buf;
}

std::string WinePrefix() {
  if (const char* p = std::getenv("WINEPREFIX"); p != nullptr && *p != '\0') return p;
  return HomeDir() + "/.wine";
}

std::string SystemHivePath() { return WinePrefix() + "/system.reg"; }

}  // namespace velmora
