// A BLP file's header and levels in words.
#include "blp/FileFacts.h"

#include <array>

#include "blp/FormatName.h"

namespace velmora::blp {

namespace {

// The fields both headers share, as the level walk needs them.
struct TLevelTable {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int listed = 0;
  const std::array<std::uint32_t, 16>* offsets = nullptr;
  const std::array<std::uint32_t, 16>* sizes = nullptr;
};

std::string Size(std::uint32_t w, std::uint32_t h) { return std::to_string(w) + " x " + std::to_string(h); }

std::string LevelCountWords(int listed, bool chain) {
  return std::to_string(listed) + (chain ? " (mip chain)" : " (no mip chain)");
}

// Where the decode did not run (the header was refused, the palette is missing), the header and the
// file's size alone tell what of a level the file holds.
void MarkFromHeader(TLevelFacts& row, std::uint64_t fileSize) {
  const std::uint64_t end = std::uint64_t{row.offset} + row.bytes;
  if (row.offset >= fileSize) {
    row.state = TLevelState::kMissing;
    row.note = "past the end of the file (" + std::to_string(fileSize) + " bytes)";
  } else if (end > fileSize) {
    row.state = TLevelState::kShort;
    row.note = "short by " + std::to_string(end - fileSize) + " bytes";
  }
}

std::vector<TLevelFacts> DescribeLevels(const TLevelTable& table, const TBlpLevels& decoded, bool decodedAny,
                                        std::uint64_t fileSize) {
  std::vector<TLevelFacts> rows;
  std::uint32_t w = table.width;
  std::uint32_t h = table.height;
  int firstMissing = -1;
  for (int i = 0; i < table.listed; ++i) {
    // The loaders' walk: a 0 extent counts as 1, the first level without an offset or a size
    // ends the chain.
    if (w == 0) w = 1;
    if (h == 0) h = 1;
    const auto idx = static_cast<std::size_t>(i);
    TLevelFacts row;
    row.index = i;
    row.width = w;
    row.height = h;
    row.offset = (*table.offsets)[idx];
    row.bytes = (*table.sizes)[idx];
    const bool listed = row.offset != 0 && row.bytes != 0;
    if (firstMissing < 0 && !listed) firstMissing = i;
    if (firstMissing >= 0) {
      row.state = TLevelState::kMissing;
      if (firstMissing < i) {
        row.note = "not loaded: level " + std::to_string(firstMissing) + " is missing";
      } else {
        row.note = row.offset == 0 && row.bytes == 0 ? "missing: no offset and no size"
                   : row.offset == 0                  ? "missing: no offset"
                                                      : "missing: no size";
      }
    } else if (idx < decoded.levels.size()) {
      const std::uint64_t lacking = decoded.levels[idx].missingBytes;
      if (row.offset >= fileSize) {
        row.state = TLevelState::kMissing;
        row.note = "past the end of the file (" + std::to_string(fileSize) + " bytes)";
      } else if (lacking > 0) {
        row.state = TLevelState::kShort;
        row.note = "short by " + std::to_string(lacking) + " bytes";
      }
    } else if (decodedAny) {
      // The decode ended before this level (a JPEG that cannot be decoded ends the chain).
      row.state = TLevelState::kMissing;
      row.note = "not decoded";
    } else {
      MarkFromHeader(row, fileSize);
    }
    rows.push_back(std::move(row));
    w >>= 1;
    h >>= 1;
  }
  return rows;
}

}  // namespace

TFileFacts DescribeBlpFile(const TBLP2Header& hdr, const std::optional<TBLP1Header>& blp1, const TBlpLevels& decoded,
                           std::uint64_t fileSize) {
  TFileFacts facts;
  // Levels were decoded, or the decode stopped for a reason of its own: either way it ran.
  const bool decodedAny = !decoded.levels.empty() || !decoded.stopped.empty();
  if (blp1 && blp1->sign == TBLP1Header::kMagic) {
    const TBLP1Header& h = *blp1;
    facts.header.push_back({"Format", FormatName(h)});
    facts.header.push_back({"Alpha", "depth " + std::to_string(h.alpha_bits)});
    facts.header.push_back({"Size", Size(h.width, h.height)});
    const int listed = ListedLevelCount(h);
    facts.header.push_back({"Mip levels", LevelCountWords(listed, h.picture_subtype != 0)});
    facts.header.push_back(
        {"Picture type", std::to_string(h.picture_type) + ", subtype " + std::to_string(h.picture_subtype)});
    if (h.compression == kBlp1Jpeg) facts.header.push_back({"JPEG header", std::to_string(h.jpeg_header_size) + " bytes"});
    facts.levels = DescribeLevels({h.width, h.height, listed, &h.offsets, &h.sizes}, decoded, decodedAny, fileSize);
    return facts;
  }
  facts.header.push_back({"Format", FormatName(hdr)});
  if (hdr.sign != TBLP2Header::kMagic) return facts;
  facts.header.push_back(
      {"Alpha", "depth " + std::to_string(hdr.alpha_bits) + ", type " + std::to_string(hdr.alpha_type)});
  facts.header.push_back({"Size", Size(hdr.width, hdr.height)});
  const int listed = ListedLevelCount(hdr);
  facts.header.push_back({"Mip levels", LevelCountWords(listed, hdr.has_mips != 0)});
  facts.levels = DescribeLevels({hdr.width, hdr.height, listed, &hdr.offsets, &hdr.sizes}, decoded, decodedAny, fileSize);
  return facts;
}

}  // namespace velmora::blp
