// Reading one file inside an archive, and the base of archive-backed objects.
#include <algorithm>

#include "archive/PathParts.h"
#include "archive/Storm.h"
#include "archive/Zanth.h"

namespace velmora {

TZanthFileHandler::TZanthFileHandler(MpqHandle mpqFileHandle, const std::string& fName) {
  HANDLE h = nullptr;
  // Search scope 0: the archive itself. On failure the handle stays 0.
  if (SFileOpenFileEx(storm::ToHandle(mpqFileHandle), fName.c_str(), 0, &h)) FHandle = storm::FromHandle(h);
}

TZanthFileHandler::~TZanthFileHandler() {
  if (FHandle != 0) storm::TMpqFile{storm::ToHandle(FHandle)};
}

std::uint32_t TZanthFileHandler::SetOffset(std::uint32_t offset) {
  // StormLib sign-extends the low half of a move, so an offset of 2 GiB or more would count as a
  // move before the start: the call fails and leaves the pointer where the last read left it, and
  // the next read would return bytes from there. Such offsets are reached in steps below 2 GiB;
  // StormLib clamps every step at the file size.
  constexpr std::uint32_t kMaxStep = 0x7FFFFFFF;
  const HANDLE file = storm::ToHandle(FHandle);
  std::uint32_t step = std::min(offset, kMaxStep);
  LONG high = 0;
  DWORD position = SFileSetFilePointer(file, static_cast<LONG>(step), &high, FILE_BEGIN);
  for (std::uint32_t rest = offset - step; rest > 0 && position != SFILE_INVALID_POS; rest -= step) {
    step = std::min(rest, kMaxStep);
    high = 0;
    position = SFileSetFilePointer(file, static_cast<LONG>(step), &high, FILE_CURRENT);
  }
  return position;
}

std::uint32_t TZanthFileHandler::ResetOffset() { return SetOffset(0); }

bool TZanthFileHandler::Read(void* p, std::uint32_t len) {
  if (len == 0) return true;
  DWORD read = 0;
  // A short read at the end of the file reports failure but still counts the bytes read.
  SFileReadFile(storm::ToHandle(FHandle), p, len, &read, nullptr);
  return read == len;
}

bool TZanthFileHandler::GetHeader(void* p, std::uint32_t len) {
  ResetOffset();
  if (p == nullptr) return false;
  return Read(p, len);
}

bool TZanthFileHandler::GetDataByOffset(std::uint32_t offs, std::uint32_t datalen, void* pData) {
  SetOffset(offs);
  if (pData == nullptr) return datalen == 0;
  return Read(pData, datalen);
}

std::uint64_t TZanthFileHandler::GetSize() const {
  DWORD high = 0;
  const DWORD low = SFileGetFileSize(storm::ToHandle(FHandle), &high);
  if (low == SFILE_INVALID_SIZE) return 0;
  return static_cast<std::uint64_t>(high) << 32 | low;
}

TZanthObject::TZanthObject(const std::string& fName) : FFname(fName), FFileHandler(OpenFileHandler(fName)) {}

TZanthObject::~TZanthObject() = default;

std::unique_ptr<TZanthFileHandler> TZanthObject::OpenFileHandler(const std::string& fName) {
  if (!FileIndex) return nullptr;
  // Names are looked up upper-cased but not trimmed.
  const TFileMpqRec* rec = FileIndex->Find(UpperAscii(fName));
  if (rec == nullptr) return nullptr;
  auto handler = std::make_unique<TZanthFileHandler>(rec->mpqh, std::string(rec->full_name));
  if (handler->Handle() == 0 || handler->GetSize() == 0) return nullptr;
  return handler;
}

}  // namespace velmora
