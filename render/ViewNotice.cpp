// The words of the view's notice for a texture that did not load whole.
#include "render/ViewNotice.h"

#include <cstdint>
#include <vector>

#include "archive/Zanth.h"
#include "base/Ascii.h"
#include "base/Escape.h"

namespace velmora {

namespace {

// The texture keeps no file when the index has no record of the name, the archive refuses to
// open the member, or the member is empty: asked again, the archive tells which.
std::string WhyNoFile(const TBlpTexture& texture) {
  const TFileMpqRec* rec = FileIndex ? FileIndex->Find(UpperAscii(texture.fname())) : nullptr;
  if (rec == nullptr) return "not in the file list of any open archive";
  const TZanthFileHandler probe(rec->mpqh, std::string(rec->full_name));
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
  if (levels.levels.empty()) return "the file lists no level 0: nothing to show";

  std::vector<std::string> lines;
  if (hdr.width == 0 || hdr.height == 0) {
    lines.push_back("the header gives a size of " + std::to_string(hdr.width) + " x " + std::to_string(hdr.height) +
                    ": nothing to show");
  }
  const std::uint64_t fileSize = texture.SourceSize();
  std::size_t shortLevels = 0;
  for (std::size_t i = 0; i < levels.levels.size(); ++i) {
    const blp::TBlpLevel& level = levels.levels[i];
    if (level.missingBytes == 0) continue;
    if (++shortLevels > kListedShortLevels) continue;
    const std::string name = "level " + std::to_string(i);
    if (hdr.offsets[i] >= fileSize) {
      lines.push_back(name + " starts at offset " + std::to_string(hdr.offsets[i]) + ", past the end of the file (" +
                      std::to_string(fileSize) + " bytes): it is shown black");
    } else if (level.missingBytes == level.bytes.size()) {
      lines.push_back(name + " cannot be read: it is shown black");
    } else {
      lines.push_back(name + " is " + std::to_string(level.missingBytes) + " bytes short: the rest is shown black");
    }
  }
  if (shortLevels > kListedShortLevels) {
    lines.push_back("and " + std::to_string(shortLevels - kListedShortLevels) + " more levels are short");
  }
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
  return text;
}

}  // namespace velmora
