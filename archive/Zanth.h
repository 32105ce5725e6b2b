// Archive file access: the set of open MPQ archives, the process-wide index from archive path to
// the archive that supplies it, and the reader over one file inside an archive.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// An archive or archive-file handle as StormLib returns it; 0 means none.
using MpqHandle = std::uintptr_t;

// One file-index entry. The views point into listfile text owned by the index and stay valid
// until the index is cleared.
struct TFileMpqRec {
  MpqHandle mpqh = 0;           // the archive that supplies the file
  std::string_view dir;         // directory part of the key (kept, not read by the viewer)
  std::string_view full_name;   // the listfile line as read: the name StormLib opens
};

// Upper-case archive path -> record. Open addressing over a table of record indices; records
// live in fixed-size chunks (growing never copies them) and keys are views into upper-cased copies of the listfiles, so an insert
// costs one probe and no allocation of its own.
class TFileIndex {
public:
  TFileIndex();
  ~TFileIndex();
  TFileIndex(const TFileIndex&) = delete;
  TFileIndex& operator=(const TFileIndex&) = delete;

  // Exact match on the key; null when absent. Valid until the next Store or Clear.
  const TFileMpqRec* Find(std::string_view key) const;
  bool Contains(std::string_view key) const { return Find(key) != nullptr; }
  std::size_t Count() const { return count_; }

  // Inserts or replaces. Key and record views must stay valid as long as the index holds them
  // (text handed to Keep does). Returns true when the key was new.
  bool Store(std::string_view key, const TFileMpqRec& rec);

  // Takes ownership of a text buffer that keys and records point into.
  void Keep(std::unique_ptr<char[]> text);

  // Sizes the table for `count` keys in all, so that filling up to that many never rehashes.
  void Reserve(std::size_t count);

  void Clear();

  // Table slots looked at by all lookups so far: a measure of collisions that needs no clock.
  std::uint64_t ProbeCount() const { return probes_; }

private:
  struct Entry {
    std::string_view key;
    TFileMpqRec rec;
  };
  static constexpr unsigned kChunkBits = 15;
  static constexpr std::size_t kChunkMask = (std::size_t{1} << kChunkBits) - 1;
  Entry& At(std::size_t i) const { return chunks_[i >> kChunkBits][i & kChunkMask]; }
  std::size_t Slot(std::uint64_t hash, std::string_view key, bool& found) const;
  void Rehash(std::size_t slots);

  std::vector<std::unique_ptr<Entry[]>> chunks_;
  std::size_t count_ = 0;
  // Per slot: hash high 32 bits << 32 | (record index + 1); 0 = empty. A key's home slot is the
  // top bits of its hash, so growing recomputes it from the stored bits without touching keys.
  std::vector<std::uint64_t> table_;
  std::size_t mask_ = 0;
  unsigned shift_ = 64;  // 64 - log2(slots)
  std::vector<std::unique_ptr<char[]>> texts_;
  mutable std::uint64_t probes_ = 0;
};

// The open archives, in opening order; each is closed by FreeArchiveIndex, first to last.
class TMpqList {
public:
  TMpqList() = default;
  ~TMpqList();
  TMpqList(const TMpqList&) = delete;
  TMpqList& operator=(const TMpqList&) = delete;

  void Append(MpqHandle h) { handles_.push_back(h); }
  std::size_t Count() const { return handles_.size(); }
  MpqHandle operator[](std::size_t i) const { return handles_.at(i); }
  std::vector<MpqHandle>::const_iterator begin() const { return handles_.begin(); }
  std::vector<MpqHandle>::const_iterator end() const { return handles_.end(); }
  void CloseAll();

private:
  std::vector<MpqHandle> handles_;
};

extern std::unique_ptr<TMpqList> MpqList;
extern std::unique_ptr<TFileIndex> FileIndex;

void CreateArchiveIndex();
void FreeArchiveIndex();

// SFileOpenArchive(path, priority 0, flags 0). The caller appends the handle to MpqList.
bool OpenMpqArchive(const std::string& path, MpqHandle& handle);

using TNewPathHook = std::function<void(std::string_view path)>;

// Ingests the "(listfile)" of one archive into FileIndex; onNewPath gets the trimmed path of
// every line whose key was not indexed yet. False only when the archive has no "(listfile)".
bool LoadListFile(MpqHandle mpqh, const TNewPathHook& onNewPath);

// Reader over one file inside one archive. Every read positions the file pointer first.
class TZanthFileHandler {
public:
  TZanthFileHandler(MpqHandle mpqFileHandle, const std::string& fName);
  ~TZanthFileHandler();
  TZanthFileHandler(const TZanthFileHandler&) = delete;
  TZanthFileHandler& operator=(const TZanthFileHandler&) = delete;

  MpqHandle Handle() const { return FHandle; }
  std::uint32_t SetOffset(std::uint32_t offset);
  std::uint32_t ResetOffset();
  // Reads len bytes from offset 0; true when all were read.
  bool GetHeader(void* p, std::uint32_t len);
  // Reads datalen bytes at offs; true when all were read (a short read leaves what was read).
  bool GetDataByOffset(std::uint32_t offs, std::uint32_t datalen, void* pData);
  std::uint64_t GetSize() const;

private:
  bool Read(void* p, std::uint32_t len);
  MpqHandle FHandle = 0;
};

// Base of every object loaded from an archive file: looks the name up in FileIndex and keeps
// the open file for its own lifetime.
class TZanthObject {
public:
  explicit TZanthObject(const std::string& fName);
  virtual ~TZanthObject();
  TZanthObject(const TZanthObject&) = delete;
  TZanthObject& operator=(const TZanthObject&) = delete;

  const std::string& fname() const { return FFname; }
  // Null when the name is not indexed, the archive cannot open it, or it is empty.
  TZanthFileHandler* FileHandler() const { return FFileHandler.get(); }

  static std::unique_ptr<TZanthFileHandler> OpenFileHandler(const std::string& fName);

private:
  std::string FFname;
  std::unique_ptr<TZanthFileHandler> FFileHandler;
};

}  // namespace velmora
