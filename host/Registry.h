// The registry stand-in on Linux: the HKEY_LOCAL_MACHINE hive that Wine keeps as the text file
// <prefix>/system.reg. Plain C++ over bytes, so that any file content can be fed to it.
//
// File format ("WINE REGISTRY Version 2"), one item per line:
//   WINE REGISTRY Version 2                 first line, required
//   #arch=win64                             the prefix runs 64-bit Windows
//   [Software\\Vendor\\Product] 1700000000  a key, relative to HKEY_LOCAL_MACHINE, backslashes
//                                           doubled, followed by its modification time
//   "Name"="text"                           REG_SZ; '@' instead of "Name" is the default value
//   "Name"=str(2):"text"                    another string type (hexadecimal type number)
//   "Name"=dword:0000000a                   REG_DWORD
//   "Name"=hex:01,02,\                      REG_BINARY; hex(N): for type N; a line ending in a
//     03,04                                 backslash continues on the next one
// Names and strings use C escapes (\\ \" \n \t ... \xHHHH for a UTF-16 unit, \ooo octal).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// The registry value types that matter here (winnt.h numbering).
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;

struct TRegValue {
  std::uint32_t type = kRegNone;
  // String types (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ written as text or as UTF-16 hex):
  // UTF-8, cut at the first NUL character. Every other type: the raw data bytes.
  std::string data;
};

struct TRegLookup {
  bool keyFound = false;           // the key exists (a section for it or for one of its subkeys)
  std::optional<TRegValue> value;  // the value, when the key has it
};

// Looks `valueName` up under `keyPath` (backslash-separated, relative to HKEY_LOCAL_MACHINE; a
// leading backslash is ignored) in the text of a system.reg file. Key and value names compare
// case-insensitively (ASCII letters). When the hive is marked "#arch=win64", the 32-bit view is
// used: "Software\X" is looked up under "Software\Wow6432Node\X" first, and under the plain
// path only when that key does not exist. A file that is not a Wine registry gives "not found".
// Linear in the size of the text; any byte sequence is accepted.
TRegLookup LookupWineRegistry(std::string_view hiveText, std::string_view keyPath,
                              std::string_view valueName);

// "REG_SZ", "REG_DWORD", ..., or "type 0x1f" for numbers without a name.
std::string RegTypeName(std::uint32_t type);

// The Wine prefix: $WINEPREFIX when set and not empty, else $HOME/.wine (the password database's
// home directory when HOME is unset).
std::string WinePrefix();

// <WinePrefix()>/system.reg.
std::string SystemHivePath();

}  // namespace velmora
