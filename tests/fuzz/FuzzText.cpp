// Fuzz target: the Wine registry hive parser and the "mpqToLoad.txt" decoder. Byte 0 chooses
// which one reads the rest; both must give a result for any bytes, in linear time.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ui/MpqToLoad.h"
#include "ui/Registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  if (data[0] & 1) {
    const auto lines = velmora::DecodeMpqToLoad(text);
    size_t total = 0;
    for (const auto& line : lines) total += line.size();
    // UTF-16 input decodes to at most 3 bytes of UTF-8 per 2 bytes; UTF-8 is kept as it is.
    if (total > text.size() * 2) std::abort();
  } else {
    const auto found = velmora::LookupWineRegistry(text, "Software\\Blizzard Entertainment\\World of Warcraft",
                                                   "InstallPath");
    if (found.value && !found.keyFound) std::abort();
  }
  return 0;
}
