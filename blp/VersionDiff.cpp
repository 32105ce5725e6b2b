// Comparing two versions of a texture texel by texel.
#include "blp/VersionDiff.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "archive/Zanth.h"
#include "blp/Blp1Decode.h"
#include "blp/BlpErrors.h"
#include "blp/BlpExport.h"

namespace velmora::blp {

namespace {

std::string SizeText(const TRgbaPixels& p) { return std::to_string(p.width) + " x " + std::to_string(p.height); }

void PutLe32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
  for (std::size_t i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The levels of a file, decoded the way the view loads them: a level the file holds only in part
// is black where it lacks bytes.
std::string DecodeVersion(TBlpSource& source, TBlpLevels& levels) {
  const TBLP2Header hdr = ReadBlpHeader(source);
  if (hdr.sign == kBlp1Magic) {
    TBlp1File file = DecodeBlp1(source, kExportMaxTextureSize, {.dxtAsBlocks = true});
    if (file.problem) return file.problem->message;
    levels = std::move(file.levels);
  } else {
    if (const auto problem = CheckBlpHeader(hdr, source.Size(), kExportMaxTextureSize)) return problem->message;
    levels = DecodeBlpLevels(source, hdr, {.dxtAsBlocks = true});
  }
  if (!levels.complete) return "the palette is missing";
  if (levels.levels.empty()) return levels.stopped.empty() ? "the file lists no level 0" : levels.stopped;
  return {};
}

}  // namespace

TVersionPixels ReadVersionPixels(MpqHandle archive, const std::string& member) {
  TVersionPixels out;
  TFileTrouble trouble;
  const std::unique_ptr<TZanthFileHandler> file = TZanthObject::OpenFileHandlerIn(archive, member, trouble);
  if (!file) {
    out.problem = trouble.Text().empty() ? "cannot be read from its archive (missing there, or empty)" : trouble.Text();
    return out;
  }
  try {
    TArchiveSource source(*file);
    TBlpLevels levels;
    out.problem = DecodeVersion(source, levels);
    if (!out.problem.empty()) return out;
    for (std::size_t i = 0; i < levels.levels.size(); ++i) out.levels.push_back(LevelToRgba(levels, i));
  } catch (const TAllocationError& e) {
    out.levels.clear();
    out.problem = e.what();
  } catch (const std::bad_alloc&) {
    out.levels.clear();
    out.problem = "out of memory";
  }
  return out;
}

TDifference DifferenceOf(const std::vector<TRgbaPixels>& shown, const std::vector<TRgbaPixels>& earlier) {
  TDifference diff;
  if (shown.empty() || earlier.empty()) {
    diff.problem = "a version has no level to compare";
    return diff;
  }
  if (shown[0].width != earlier[0].width || shown[0].height != earlier[0].height) {
    diff.problem = "the sizes differ: " + SizeText(shown[0]) + " against " + SizeText(earlier[0]);
    return diff;
  }
  for (std::size_t i = 0; i < std::min(shown.size(), earlier.size()); ++i) {
    const TRgbaPixels& a = shown[i];
    const TRgbaPixels& b = earlier[i];
    if (a.width != b.width || a.height != b.height || a.bytes.size() != b.bytes.size()) break;
    TRgbaPixels d{a.width, a.height, std::vector<std::uint8_t>(a.bytes.size())};
    for (std::size_t p = 0; p + 3 < a.bytes.size(); p += 4) {
      int most = 0;
      for (std::size_t c = 0; c < 4; ++c) most = std::max(most, std::abs(int{a.bytes[p + c]} - int{b.bytes[p + c]}));
      const auto grey = static_cast<std::uint8_t>(most);
      d.bytes[p] = d.bytes[p + 1] = d.bytes[p + 2] = grey;
      d.bytes[p + 3] = 255;
    }
    diff.levels.push_back(std::move(d));
  }
  return diff;
}

std::vector<std::uint8_t> EncodeUncompressedBlp(const std::vector<TRgbaPixels>& levels) {
  // The 148-byte header, then each level's pixels in turn; at most the 16 levels of the table.
  // Offsets are 32-bit: a level that would start beyond them ends the chain.
  std::size_t count = 0;
  std::uint64_t total = TBLP2Header::kSize;
  while (count < std::min<std::size_t>(levels.size(), kMaxLevels) &&
         total + levels[count].bytes.size() <= std::numeric_limits<std::uint32_t>::max()) {
    total += levels[count++].bytes.size();
  }
  std::vector<std::uint8_t> out(static_cast<std::size_t>(total), 0);
  PutLe32(out, 0, TBLP2Header::kMagic);
  PutLe32(out, 4, kContentDirect);
  out[8] = kUncompressedEncoding;
  out[9] = 8;   // alpha depth
  out[10] = 8;  // alpha type
  out[11] = count > 1 ? 1 : 0;
  PutLe32(out, 12, count > 0 ? levels[0].width : 0);
  PutLe32(out, 16, count > 0 ? levels[0].height : 0);
  std::size_t at = TBLP2Header::kSize;
  for (std::size_t i = 0; i < count; ++i) {
    const std::vector<std::uint8_t>& rgba = levels[i].bytes;
    PutLe32(out, 20 + 4 * i, static_cast<std::uint32_t>(at));
    PutLe32(out, 84 + 4 * i, static_cast<std::uint32_t>(rgba.size()));
    for (std::size_t p = 0; p + 3 < rgba.size(); p += 4) {
      out[at + p] = rgba[p + 2];
      out[at + p + 1] = rgba[p + 1];
      out[at + p + 2] = rgba[p];
      out[at + p + 3] = rgba[p + 3];
    }
    at += rgba.size();
  }
  return out;
}

}  // namespace velmora::blp
