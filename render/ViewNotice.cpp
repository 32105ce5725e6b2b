// The words of the view's notice for a texture that did not load whole.
#include "render/ViewNotice.h"

#include <cstdint>
#include <vector>

#include "archive/Zanth.h"
#include "base/Escape.h"

namespace velmora {

namespace {

// The texture keeps no file when the index has no record of the name, the archive refuses to
// open the member, or the member is empty: asked again, the archive tells which. The archive is
// the index's supplier of the name, or the one whose version was asked for.
std::string WhyNoFile(const TBlpTexture& texture) {
  if (texture.SourceArchive() == 0) return "not in the file list of any open archive";
  const TZanthFileHandler probe(texture.SourceArchive(), texture.MemberName());
  if (probe.Handle() == 0) return "the archive cannot open this file";
  if (probe.GetSize() == 0) return "empty file (0 bytes)";
  return "the file cannot be read";
}

constexpr std::size_t kListedShortLevels = 3;

}  // namespace

std::string TextureNotice(const TBlpTexture& texture) {
  // A damaged archive can stop the archive reader at the open or at any read of the file.
  if (const TReaderStop stop = texture.ReaderStop(); stop != TReaderStop::None) {
    return "reading " + EscapeName(texture.fname()) + " stopped the archive reader: " + std::string(ReaderStopText(stop));
  }
  if (!texture.OpenTrouble().refusal.empty()) return texture.OpenTrouble().refusal;
  if (!texture.HasSource()) return WhyNoFile(texture);
  if (texture.SourceSize() == 0) return "empty file (0 bytes)";
  if (const auto& problem = texture.HeaderProblem()) return problem->message;

  const TBLP2Header& hdr = texture.hdr;
  const blp::TBlpLevels& levels = texture.Levels();
  if (!levels.complete) return "the palette is cut short (file of " + std::to_string(texture.SourceSize()) + " bytes): nothing to show";
  if (levels.levels.empty() && !levels.stopped.empty()) return levels.stopped + ": nothing to show";
  if (levels.levels.empty()) return "the file lists no level 0: nothing to show";

  // A BLP1 file keeps its size and level table in its own header.
  const auto& blp1 = texture.Blp1Header();
  const std::uint32_t width = blp1 ? blp1->width : hdr.width;
  const std::uint32_t height = blp1 ? blp1->height : hdr.height;
  const auto offsetOf = [&](std::size_t i) { return blp1 ? blp1->offsets[i] : hdr.offsets[i]; };
  const bool jpeg = blp1 && blp1->compression == blp::kBlp1Jpeg;

  std::vector<std::string> lines;
  if (width == 0 || height == 0) {
    lines.push_back("the header gives a size of " + std::to_string(width) + " x " + std::to_string(height) +
                    ": nothing to show");
  }
  const std::uint64_t fileSize = texture.SourceSize();
  std::size_t shortLevels = 0;
  for (std::size_t i = 0; i < levels.levels.size(); ++i) {
    const blp::TBlpLevel& level = levels.levels[i];
    if (level.missingBytes == 0) continue;
    if (++shortLevels > kListedShortLevels) continue;
    const std::string name = "level " + std::to_string(i);
    // A JPEG level's missing bytes are those of its stream, not of its pixels.
    const bool none = jpeg ? level.missingBytes == blp1->sizes[i] : level.missingBytes == level.bytes.size();
    if (offsetOf(i) >= fileSize) {
      lines.push_back(name + " starts at offset " + std::to_string(offsetOf(i)) + ", past the end of the file (" +
                      std::to_string(fileSize) + " bytes): it is shown black");
    } else if (none) {
      lines.push_back(name + " cannot be read: it is shown black");
    } else if (jpeg) {
      lines.push_back(name + " lacks " + std::to_string(level.missingBytes) +
                      " bytes of its JPEG data: it is shown as far as the data goes");
    } else {
      lines.push_back(name + " is " + std::to_string(level.missingBytes) + " bytes short: the rest is shown black");
    }
  }
  if (shortLevels > kListedShortLevels) {
    lines.push_back("and " + std::to_string(shortLevels - kListedShortLevels) + " more levels are short");
  }
  if (!levels.stopped.empty()) {
    lines.push_back(levels.stopped + ": levels " + std::to_string(levels.levels.size()) + " and on are not shown");
  }
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
  return text;
}

}  // namespace velmora
