// Reading one file inside an archive, in pieces or whole, and the base of archive-backed objects.
#include <algorithm>
#include <optional>

#include "archive/PathParts.h"
#include "archive/Zanth.h"

namespace velmora {

TZanthFileHandler::TZanthFileHandler(MpqHandle mpqFileHandle, const std::string& fName) {
  // Search scope 0: the archive itself. On failure the handle stays 0.
  const TArchiveReader::TFileOpen open = TArchiveReader::Instance().OpenFile(mpqFileHandle, fName);
  FHandle = TArchiveFileHandle(open.handle);
  FSize = open.size;
  FLastStop = open.stop;
  FRefusal = open.refusal;
  FStopWords = open.words;
}

TZanthFileHandler::~TZanthFileHandler() = default;

std::uint32_t TZanthFileHandler::SetOffset(std::uint32_t offset) {
  // The reader reaches offsets of 2 GiB and more in steps, as StormLib takes signed moves;
  // positions past the end are clamped to the size.
  if (!FHandle) return 0xFFFFFFFFu;
  const TArchiveReader::TRead seek = TArchiveReader::Instance().Seek(FHandle.Get(), offset);
  FLastStop = seek.stop;
  if (seek.stop != TReaderStop::None) FStopWords = seek.words;
  return seek.complete ? seek.position : 0xFFFFFFFFu;
}

std::uint32_t TZanthFileHandler::ResetOffset() { return SetOffset(0); }

bool TZanthFileHandler::Read(std::uint32_t offset, void* p, std::uint32_t len) {
  // Positioning alone changes nothing a later read sees: every read positions first.
  if (len == 0) return true;
  if (!FHandle) return false;
  // A short read at the end of the file is false, but the bytes read stay in the buffer.
  const TArchiveReader::TRead read = TArchiveReader::Instance().Read(FHandle.Get(), offset, len, p);
  FLastStop = read.stop;
  if (read.stop != TReaderStop::None) FStopWords = read.words;
  return read.complete;
}

bool TZanthFileHandler::GetHeader(void* p, std::uint32_t len) {
  if (p == nullptr) return false;
  return Read(0, p, len);
}

bool TZanthFileHandler::GetDataByOffset(std::uint32_t offs, std::uint32_t datalen, void* pData) {
  if (pData == nullptr) return datalen == 0;
  return Read(offs, pData, datalen);
}

std::uint64_t TZanthFileHandler::GetSize() const { return FSize; }

std::string TFileTrouble::Text() const {
  if (stop != TReaderStop::None) return "the archive reader stopped (" + std::string(ReaderStopText(stop)) + ")";
  return refusal;
}

TWholeFile ReadIndexedFile(const std::string& fName, std::uint64_t limit, bool takeEmpty, std::string& bytes) {
  const TFileMpqRec* rec = FileIndex ? FileIndex->Find(UpperAscii(fName)) : nullptr;
  if (rec == nullptr) return {};
  return ReadArchiveFile(rec->mpqh, std::string(rec->full_name), limit, takeEmpty, bytes);
}

namespace {

// A one-trip answer as a TWholeFile; nullopt for a file to be read in pieces.
std::optional<TWholeFile> FromWhole(const TArchiveReader::TWhole& whole, std::uint64_t limit, bool takeEmpty) {
  using TStatus = TWholeFile::TStatus;
  using TWhole = TArchiveReader::TWhole;
  TWholeFile out;
  out.size = whole.size;
  switch (whole.status) {
    case TWhole::TStatus::Read:
      if (whole.size > 0 || takeEmpty) out.status = TStatus::Read;
      return out;
    case TWhole::TStatus::NotOpened: return out;
    case TWhole::TStatus::Stopped:
      out.status = TStatus::Failed;
      out.trouble.stop = whole.stop;
      out.trouble.words = whole.words;
      return out;
    case TWhole::TStatus::Refused:
      out.status = TStatus::Failed;
      out.trouble.refusal = whole.refusal;
      return out;
    case TWhole::TStatus::ReadFailed: out.status = TStatus::Failed; return out;
    case TWhole::TStatus::TooLarge: break;
  }
  if (whole.size > limit) {
    out.status = TStatus::TooLarge;
    return out;
  }
  return std::nullopt;
}

// More than one trip takes: in pieces of the shared memory's size.
TWholeFile ReadInPieces(MpqHandle mpqh, const std::string& member, std::uint64_t limit, std::string& bytes) {
  using TStatus = TWholeFile::TStatus;
  TWholeFile out;
  TZanthFileHandler file(mpqh, member);
  out.trouble = {file.LastStop(), file.Refusal(), file.StopWords()};
  if (file.Handle() == 0) {
    out.status = out.trouble.Text().empty() ? TStatus::Missing : TStatus::Failed;
    return out;
  }
  out.size = file.GetSize();
  if (out.size > limit) {
    out.status = TStatus::TooLarge;
    return out;
  }
  bytes.assign(static_cast<std::size_t>(out.size), '\0');
  if (out.size > 0 && !file.GetDataByOffset(0, static_cast<std::uint32_t>(out.size), bytes.data())) {
    out.status = TStatus::Failed;
    out.trouble = {file.LastStop(), {}, file.StopWords()};
    return out;
  }
  out.status = TStatus::Read;
  return out;
}

}  // namespace

TWholeFile ReadArchiveFile(MpqHandle mpqh, const std::string& member, std::uint64_t limit, bool takeEmpty,
                           std::string& bytes) {
  const auto oneTrip = static_cast<std::uint32_t>(std::min<std::uint64_t>(limit, reader::kSharedBytes));
  const std::optional<TWholeFile> whole =
      FromWhole(TArchiveReader::Instance().ReadWhole(mpqh, member, oneTrip, bytes), limit, takeEmpty);
  return whole ? *whole : ReadInPieces(mpqh, member, limit, bytes);
}

namespace {

std::uint32_t OneTripLimit(std::uint64_t limit) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(limit, reader::kMaxBatchMember));
}

}  // namespace

std::vector<TWholeFile> ReadArchiveFiles(MpqHandle mpqh, const std::vector<std::string>& members, std::uint64_t limit,
                                         bool takeEmpty, std::vector<std::string>& bytes) {
  StartArchiveFiles(mpqh, members, limit);
  return TakeArchiveFiles(mpqh, members, limit, takeEmpty, bytes);
}

void StartArchiveFiles(MpqHandle mpqh, const std::vector<std::string>& members, std::uint64_t limit) {
  TArchiveReader::Instance().StartMany(mpqh, members, OneTripLimit(limit));
}

std::vector<TWholeFile> TakeArchiveFiles(MpqHandle mpqh, const std::vector<std::string>& members, std::uint64_t limit,
                                         bool takeEmpty, std::vector<std::string>& bytes) {
  const std::vector<TArchiveReader::TWhole> wholes =
      TArchiveReader::Instance().TakeMany(mpqh, members, OneTripLimit(limit), bytes);
  std::vector<TWholeFile> out;
  out.reserve(members.size());
  for (std::size_t i = 0; i < members.size(); ++i) {
    std::optional<TWholeFile> whole = FromWhole(wholes[i], limit, takeEmpty);
    // Larger than a batch takes: on its own, in one trip or in pieces.
    out.push_back(whole ? std::move(*whole) : ReadArchiveFile(mpqh, members[i], limit, takeEmpty, bytes[i]));
  }
  return out;
}

TZanthObject::TZanthObject(const std::string& fName)
    : FFname(fName), FFileHandler(OpenFileHandler(fName, FOpenTrouble)) {
  if (const TFileMpqRec* rec = FileIndex ? FileIndex->Find(UpperAscii(fName)) : nullptr) {
    FArchive = rec->mpqh;
    FMember = std::string(rec->full_name);
  }
}

TZanthObject::TZanthObject(const std::string& fName, MpqHandle archive, const std::string& memberName)
    : FFname(fName),
      FArchive(archive),
      FMember(memberName),
      FFileHandler(OpenFileHandlerIn(archive, memberName, FOpenTrouble)) {}

TZanthObject::~TZanthObject() = default;

std::unique_ptr<TZanthFileHandler> TZanthObject::OpenFileHandler(const std::string& fName) {
  TReaderStop stop = TReaderStop::None;
  return OpenFileHandler(fName, stop);
}

std::unique_ptr<TZanthFileHandler> TZanthObject::OpenFileHandler(const std::string& fName, TReaderStop& stop) {
  TFileTrouble trouble;
  auto handler = OpenFileHandler(fName, trouble);
  stop = trouble.stop;
  return handler;
}

std::unique_ptr<TZanthFileHandler> TZanthObject::OpenFileHandler(const std::string& fName, TFileTrouble& trouble) {
  trouble = {};
  if (!FileIndex) return nullptr;
  // Names are looked up upper-cased but not trimmed.
  const TFileMpqRec* rec = FileIndex->Find(UpperAscii(fName));
  if (rec == nullptr) return nullptr;
  return OpenFileHandlerIn(rec->mpqh, std::string(rec->full_name), trouble);
}

std::unique_ptr<TZanthFileHandler> TZanthObject::OpenFileHandlerIn(MpqHandle archive, const std::string& memberName,
                                                                   TFileTrouble& trouble) {
  trouble = {};
  if (archive == 0) return nullptr;
  auto handler = std::make_unique<TZanthFileHandler>(archive, memberName);
  trouble.stop = handler->LastStop();
  trouble.refusal = handler->Refusal();
  trouble.words = handler->StopWords();
  if (handler->Handle() == 0 || handler->GetSize() == 0) return nullptr;
  return handler;
}

}  // namespace velmora
