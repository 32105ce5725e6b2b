// Ingestion of an archive's "(listfile)": one path per line, UTF-8, CR / LF / CR LF line ends.
#include <algorithm>
#include <cstring>
#include <limits>

#include "archive/PathParts.h"
#include "archive/Zanth.h"
#include "base/Lines.h"

namespace velmora {

bool LoadListFile(MpqHandle mpqh, const TNewPathHook& onNewPath) {
  TArchiveReader& reader = TArchiveReader::Instance();
  const TArchiveReader::TFileOpen open = reader.OpenFile(mpqh, "(listfile)");
  if (open.handle == 0) return false;
  const TArchiveFileHandle file(open.handle);

  // The high half of the size is ignored.
  const auto size = static_cast<std::uint32_t>(open.size);
  if (size == 0 || !FileIndex) return true;

  auto text = std::make_unique_for_overwrite<char[]>(size);
  if (!reader.Read(file.Get(), 0, size, text.get()).complete) return true;

  // Keys are views into an upper-cased copy; full names into the text as read.
  auto upper = std::make_unique_for_overwrite<char[]>(size);
  // Line breaks are counted on the way to size the index once per listfile: CR LF files have as
  // many CRs as LFs, LF-only and CR-only files one kind.
  std::size_t crs = 0;
  std::size_t lfs = 0;
  for (std::uint32_t i = 0; i < size; ++i) {
    const char c = text[i];
    upper[i] = UpperAsciiChar(c);
    crs += c == '\r';
    lfs += c == '\n';
  }
  const std::string_view original(text.get(), size);
  const std::string_view folded(upper.get(), size);
  // The index owns both texts before any view into them is stored.
  FileIndex->Keep(std::move(text));
  FileIndex->Keep(std::move(upper));

  TFileIndex& index = *FileIndex;
  index.Reserve(index.Count() + std::max(crs, lfs) + 1);
  ForEachLine(original, [&](std::size_t begin, std::size_t end) {
    const std::string_view line = original.substr(begin, end - begin);
    const std::string_view trimmed = TrimBlanks(line);
    const std::size_t at = begin + static_cast<std::size_t>(trimmed.data() - line.data());
    const std::string_view key = folded.substr(at, trimmed.size());
    const TFileMpqRec rec{mpqh, DirectoryPart(key), line};
    if (index.Store(key, rec) && onNewPath) onNewPath(trimmed);
  });
  return true;
}

}  // namespace velmora
