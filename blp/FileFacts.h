// A BLP file's header and levels in words, for what the window tells about a file: the format, the
// alpha depth and type, the size, and every level the header lists with its size, offset and byte
// count, marked where the file holds it only in part or not at all. BLP1 and BLP2 alike.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "blp/Blp1Header.h"
#include "blp/BlpDecode.h"

namespace velmora::blp {

enum class TLevelState {
  kWhole,    // the file holds every byte the level needs
  kShort,    // the file holds part of it: the rest shows black
  kMissing,  // the file holds none of it, or the chain ended before it: not shown
};

struct TLevelFacts {
  int index = 0;
  std::uint32_t width = 0;   // the level's extent (a 0 in the header counts as 1)
  std::uint32_t height = 0;
  std::uint32_t offset = 0;  // as the header gives them
  std::uint32_t bytes = 0;
  TLevelState state = TLevelState::kWhole;
  // Why a level is short or missing: "short by 96 bytes", "past the end of the file (1024 bytes)",
  // "missing: no offset", "not loaded: level 3 is missing", "not decoded"; empty for a whole one.
  std::string note;
};

struct THeaderFact {
  std::string label;  // "Format", "Alpha", "Size", "Mip levels", "Picture type", "JPEG header"
  std::string value;  // "BLP2, DXT5", "depth 8, type 7", "512 x 256", "10 (mip chain)", ...
};

struct TFileFacts {
  std::vector<THeaderFact> header;
  std::vector<TLevelFacts> levels;
};

// From a loaded file: its BLP2 view `hdr` (the first 148 bytes as read), its BLP1 header when it is
// a BLP1 file, the levels decoded from it (empty when the load stopped at the header) and its size
// in bytes. A file that is neither gives one fact, its format ("not a BLP file"), and no levels.
TFileFacts DescribeBlpFile(const TBLP2Header& hdr, const std::optional<TBLP1Header>& blp1, const TBlpLevels& decoded,
                           std::uint64_t fileSize);

}  // namespace velmora::blp
