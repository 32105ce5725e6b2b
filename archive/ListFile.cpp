// Ingestion of an archive's "(listfile)": one path per line, UTF-8, CR / LF / CR LF line ends,
// read in pieces of the reader's shared memory and split as the pieces come. The index keeps its
// own copy of each line and key; no piece outlives the split.
#include <algorithm>
#include <cstring>
#include <limits>

#include "archive/PathParts.h"
#include "archive/Zanth.h"

namespace velmora {
namespace {

// Lines across pieces, by the rules of base/Lines.h: a line ends at CR, at LF or at CR LF; a final
// line break adds no empty line; empty lines inside are kept; the text ends at its first NUL.
class TLineSplitter {
public:
  template <typename TOnLine>
  void Feed(std::string_view piece, TOnLine&& onLine) {
    if (ended_) return;
    if (const void* nul = std::memchr(piece.data(), 0, piece.size())) {
      piece = piece.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - piece.data()));
      ended_ = true;
    }
    std::size_t pos = 0;
    while (pos < piece.size()) {
      if (skipLf_) {
        skipLf_ = false;
        if (piece[pos] == '\n') {
          ++pos;
          continue;
        }
      }
      std::size_t eol = pos;
      while (eol < piece.size() && piece[eol] != '\r' && piece[eol] != '\n') ++eol;
      if (eol == piece.size()) {
        pending_.append(piece.substr(pos));
        break;
      }
      if (pending_.empty()) {
        onLine(piece.substr(pos, eol - pos));
      } else {
        pending_.append(piece.substr(pos, eol - pos));
        onLine(std::string_view(pending_));
        pending_.clear();
      }
      skipLf_ = piece[eol] == '\r';
      pos = eol + 1;
    }
  }

  // The last line, when text followed the last line break.
  template <typename TOnLine>
  void Finish(TOnLine&& onLine) {
    if (!pending_.empty()) onLine(std::string_view(pending_));
    pending_.clear();
  }

private:
  std::string pending_;  // the start of a line that runs on into the next piece
  bool skipLf_ = false;  // the last piece ended in CR: an LF first in this one belongs to it
  bool ended_ = false;   // a NUL was seen
};

}  // namespace

std::string TListFileReport::Problem() const {
  if (stop != TReaderStop::None) return {};
  if (!refusal.empty()) return "(listfile) refused: " + refusal;
  if (readFailed) {
    return "(listfile) could not be read (" + std::to_string(read) + " of " + std::to_string(std::min(size, kMaxListFileBytes)) +
           " bytes): none of its files is listed";
  }
  if (cut) {
    return "(listfile) of " + std::to_string(size) + " bytes: only its first " + std::to_string(kMaxListFileBytes) +
           " bytes were read";
  }
  return {};
}

std::string TKnownNamesReport::Problem() const {
  if (stop != TReaderStop::None) return {};
  if (!answered) return "no (listfile), and the names of its files could not be had: none is listed";
  std::string text;
  if (unnamed > 0) {
    text = "no (listfile): " + std::to_string(unnamed) + (unnamed == 1 ? " file has" : " files have") +
           " no known name and " + (unnamed == 1 ? "is" : "are") + " not listed";
  }
  if (leftOut > 0) {
    text += (text.empty() ? "no (listfile): " : "; ") + std::to_string(leftOut) + " names did not fit and are not listed";
  }
  return text;
}

void LoadKnownNames(MpqHandle mpqh, const TNewPathHook& onNewPath, TKnownNamesReport& report) {
  report = {};
  TArchiveReader& reader = TArchiveReader::Instance();
  TArchiveReader::TNames known = reader.ListNames(mpqh);
  if (known.stop != TReaderStop::None) {
    report.stop = known.stop;
    report.words = known.words;
    reader.SkipArchive(mpqh, known.stop, known.words);
    return;
  }
  if (!known.complete || !FileIndex) return;
  report.answered = true;
  report.unnamed = known.unnamed;
  report.leftOut = known.leftOut;
  // StormLib gives them in its hash table's order; byte order keeps the outcome of names that
  // differ only in case the same from run to run.
  std::sort(known.names.begin(), known.names.end());
  TFileIndex& index = *FileIndex;
  index.Reserve(index.Count() + known.names.size());
  std::string key;
  for (const std::string& name : known.names) {
    const std::string_view line = index.Own(name);
    const std::string_view trimmed = TrimBlanks(line);
    key.assign(trimmed);
    for (char& c : key) c = UpperAsciiChar(c);
    ++report.names;
    if (index.StoreOwned(key, mpqh, line) && onNewPath) onNewPath(trimmed);
  }
}

bool LoadListFile(MpqHandle mpqh, const TNewPathHook& onNewPath) {
  TListFileReport report;
  return LoadListFile(mpqh, onNewPath, report);
}

bool LoadListFile(MpqHandle mpqh, const TNewPathHook& onNewPath, TListFileReport& report) {
  report = {};
  TArchiveReader& reader = TArchiveReader::Instance();
  const TArchiveReader::TFileOpen open = reader.OpenFile(mpqh, "(listfile)");
  if (open.handle == 0) {
    report.refusal = open.refusal;
    if (open.stop != TReaderStop::None) {
      report.stop = open.stop;
      report.words = open.words;
      reader.SkipArchive(mpqh, open.stop, open.words);
    }
    // A list whose size was refused exists: reading it failed.
    return !open.refusal.empty();
  }
  const TArchiveFileHandle file(open.handle);

  // The high half of the size is ignored.
  const auto size = static_cast<std::uint32_t>(open.size);
  report.size = size;
  if (size == 0 || !FileIndex) return true;
  const auto toRead = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, kMaxListFileBytes));
  report.cut = toRead < size;

  // Lines go into the index's storage as they come, and into the index once the whole list has
  // been read; a list that cannot be read whole gives its storage back.
  TFileIndex& index = *FileIndex;
  const TFileIndex::TMark mark = index.Mark();
  std::vector<std::string_view> lines;
  TLineSplitter splitter;
  auto keep = [&](std::string_view line) { lines.push_back(index.Own(line)); };
  const std::uint32_t pieceSize = std::min(toRead, reader::kSharedBytes);
  const auto piece = std::make_unique_for_overwrite<char[]>(pieceSize);
  std::uint32_t offset = 0;
  while (offset < toRead) {
    const std::uint32_t want = std::min(pieceSize, toRead - offset);
    const TArchiveReader::TRead read = reader.Read(file.Get(), offset, want, piece.get());
    report.read = std::uint64_t{offset} + read.read;
    if (read.stop != TReaderStop::None) {
      index.Release(mark);
      report.stop = read.stop;
      report.words = read.words;
      reader.SkipArchive(mpqh, read.stop, read.words);
      return true;
    }
    if (!read.complete) {
      index.Release(mark);
      report.readFailed = true;
      return true;
    }
    splitter.Feed(std::string_view(piece.get(), want), keep);
    offset += want;
  }
  // A list cut at the limit loses its last, partial line.
  if (!report.cut) splitter.Finish(keep);

  index.Reserve(index.Count() + lines.size());
  std::string key;
  for (const std::string_view line : lines) {
    const std::string_view trimmed = TrimBlanks(line);
    key.assign(trimmed);
    for (char& c : key) c = UpperAsciiChar(c);
    if (index.StoreOwned(key, mpqh, line) && onNewPath) onNewPath(trimmed);
  }
  return true;
}

}  // namespace velmora
