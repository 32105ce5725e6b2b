// Archive file access: the set of open MPQ archives, the process-wide index from archive path to
// the archive that supplies it, and the reader over one file inside an archive.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "archive/ReaderClient.h"

namespace velmora {

// One file-index entry. The views point into text owned by the index and stay valid until the
// index is cleared.
struct TFileMpqRec {
  MpqHandle mpqh = 0;           // the archive that supplies the file
  std::string_view dir;         // directory part of the key (kept, not read by the viewer)
  std::string_view full_name;   // the listfile line as read: the name StormLib opens
};

// Upper-case archive path -> record. Open addressing over a table of record indices; records
// live in fixed-size chunks (growing never copies them) and keys and names are views into text the
// index owns (its own copies of the lines it keeps, or buffers handed to Keep), so an insert costs
// one probe and no allocation of its own.
//
// Besides the record of the archive that supplies a path, the index keeps the records it replaced
// when a later archive listed the same key: every archive that holds the path, in the order their
// lists were stored. A key listed by one archive costs nothing for this; each further archive one
// link of its own.
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
  // (text handed to Keep does). Returns true when the key was new. A record of another archive
  // than the one it replaces keeps the replaced one as an earlier source; a second line of the
  // same archive only replaces.
  bool Store(std::string_view key, const TFileMpqRec& rec);

  // Every archive that lists `key`, once each, in the order they were stored (the archives'
  // opening order): each with the listfile line it was stored with, the last being Find's record.
  // Empty when the key is absent.
  std::vector<TFileMpqRec> Sources(std::string_view key) const;
  // Records that were replaced by another archive's and are kept as earlier sources.
  std::size_t EarlierSourceCount() const { return older_.size(); }

  // Takes ownership of a text buffer that keys and records point into.
  void Keep(std::unique_ptr<char[]> text);

  // Copies `text` into storage of the index's own; the view stays valid until Clear.
  std::string_view Own(std::string_view text);
  // Store with the key copied into the index's storage when it is new; `fullName` must stay
  // valid (Own gives such views). The record's directory is a view into the stored key.
  bool StoreOwned(std::string_view key, MpqHandle mpqh, std::string_view fullName);
  // Text owned so far, to go back to when what was owned since is not stored after all.
  struct TMark {
    std::size_t blocks = 0;
    std::size_t used = 0;
  };
  TMark Mark() const { return {blocks_.size(), used_}; }
  void Release(const TMark& mark);

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
  // A replaced record: its archive and line, and the one it replaced in turn (index + 1; 0 = none).
  // 24 bytes: lines are at most 256 MiB (kMaxListFileBytes), so their length takes 32 bits.
  struct TEarlier {
    const char* name = nullptr;
    std::uint32_t nameSize = 0;
    std::uint32_t next = 0;
    MpqHandle mpqh = 0;
  };
  static constexpr unsigned kChunkBits = 15;
  static constexpr std::size_t kChunkMask = (std::size_t{1} << kChunkBits) - 1;
  Entry& At(std::size_t i) const { return chunks_[i >> kChunkBits][i & kChunkMask]; }
  std::size_t Slot(std::uint64_t hash, std::string_view key, bool& found) const;
  void Rehash(std::size_t slots);
  // Record `index` takes `rec`; the record it had is kept as an earlier source when its archive
  // differs (and its line is shorter than 4 GiB, as every listfile line is).
  void Replace(std::size_t index, const TFileMpqRec& rec);
  // The earlier-source link of record `index`: 0 for none, else the index in older_ + 1.
  std::uint32_t EarlierOf(std::size_t index) const;

  std::vector<std::unique_ptr<Entry[]>> chunks_;
  // Per record chunk, each record's earlier-source link; a chunk's links are made with the first
  // record of it that another archive lists too.
  std::vector<std::unique_ptr<std::uint32_t[]>> earlierChunks_;
  std::deque<TEarlier> older_;
  std::size_t count_ = 0;
  // Per slot: hash high 32 bits << 32 | (record index + 1); 0 = empty. A key's home slot is the
  // top bits of its hash, so growing recomputes it from the stored bits without touching keys.
  std::vector<std::uint64_t> table_;
  std::size_t mask_ = 0;
  unsigned shift_ = 64;  // 64 - log2(slots)
  std::vector<std::unique_ptr<char[]>> texts_;
  // Own's storage: blocks filled in turn, the last `used_` bytes full.
  std::vector<std::pair<std::unique_ptr<char[]>, std::size_t>> blocks_;  // block and its size
  std::size_t used_ = 0;
  mutable std::uint64_t probes_ = 0;
};

// The open archives, in opening order; owns them: each is closed by FreeArchiveIndex, first to
// last. Iterating yields the handles.
class TMpqList {
public:
  class const_iterator {
  public:
    using value_type = MpqHandle;
    using difference_type = std::ptrdiff_t;
    const_iterator() = default;
    explicit const_iterator(std::vector<TArchiveHandle>::const_iterator it) : it_(it) {}
    MpqHandle operator*() const { return it_->Get(); }
    const_iterator& operator++() {
      ++it_;
      return *this;
    }
    const_iterator operator++(int) { return const_iterator(it_++); }
    bool operator==(const const_iterator&) const = default;

  private:
    std::vector<TArchiveHandle>::const_iterator it_;
  };

  TMpqList() = default;
  ~TMpqList();
  TMpqList(const TMpqList&) = delete;
  TMpqList& operator=(const TMpqList&) = delete;

  void Append(TArchiveHandle archive) { archives_.push_back(std::move(archive)); }
  std::size_t Count() const { return archives_.size(); }
  MpqHandle operator[](std::size_t i) const { return archives_.at(i).Get(); }
  const_iterator begin() const { return const_iterator(archives_.begin()); }
  const_iterator end() const { return const_iterator(archives_.end()); }
  void CloseAll();

private:
  std::vector<TArchiveHandle> archives_;
};

extern std::unique_ptr<TMpqList> MpqList;
extern std::unique_ptr<TFileIndex> FileIndex;

void CreateArchiveIndex();
void FreeArchiveIndex();

struct TMpqOpenResult {
  TArchiveOpenStatus status = TArchiveOpenStatus::CannotOpen;
  TReaderStop stop = TReaderStop::None;  // ReaderStopped: why
  TArchiveHandle archive;                // Opened: the new archive, for MpqList
  MpqHandle existing = 0;                // AlreadyOpen: the archive open under another mention
  std::string reason;                    // CannotOpen, ReaderUnavailable: why, in words
  int error = 0;                         // CannotOpen: the errno or StormLib code, when known
  std::string words;                     // ReaderStopped: the reader's last lines, escaped
};

// SFileOpenArchive(path, priority 0, flags 0) in the archive reader. The caller appends the
// archive to MpqList. A file open already (the same device and inode) is not opened again.
TMpqOpenResult OpenMpqArchive(const std::string& path);
// The same, reporting only whether a new archive came out.
bool OpenMpqArchive(const std::string& path, TArchiveHandle& archive);

// Why an archive was dropped (it stopped the archive reader); None while it is usable.
TReaderStop MpqArchiveStop(MpqHandle mpqh);

using TNewPathHook = std::function<void(std::string_view path)>;

// The most of one archive's "(listfile)" that is read; a longer one is cut there.
constexpr std::uint64_t kMaxListFileBytes = std::uint64_t{256} << 20;

// What became of one "(listfile)" besides LoadListFile's result.
struct TListFileReport {
  TReaderStop stop = TReaderStop::None;  // the reader stopped under it: the archive is dropped
  std::string words;                     // the reader's last lines then, escaped
  std::string refusal;                   // its claimed size was refused: nothing was read
  bool readFailed = false;               // the read ended short without a stop: nothing was taken
  bool cut = false;                      // longer than kMaxListFileBytes: the rest was not read
  std::uint64_t size = 0;                // as the archive claims it
  std::uint64_t read = 0;                // bytes read
  // What went wrong, in words after "<archive>: "; empty when nothing did or when the reader
  // stopped (the caller says "skipped: the archive reader stopped (<reason>)").
  std::string Problem() const;
};

// Ingests the "(listfile)" of one archive into FileIndex; onNewPath gets the trimmed path of
// every line whose key was not indexed yet. False only when the archive has no "(listfile)".
// The list is read in pieces and split as it comes; its lines are indexed only once all of it
// has been read, so a read that fails or stops the reader contributes nothing.
bool LoadListFile(MpqHandle mpqh, const TNewPathHook& onNewPath);
// The same, saying in `report` what went wrong.
bool LoadListFile(MpqHandle mpqh, const TNewPathHook& onNewPath, TListFileReport& report);

// What became of the names of an archive that has no "(listfile)".
struct TKnownNamesReport {
  TReaderStop stop = TReaderStop::None;  // the reader stopped under it: the archive is dropped
  std::string words;                     // the reader's last lines then, escaped
  bool answered = false;                 // the reader said what it knows
  std::size_t names = 0;                 // names indexed
  std::uint32_t unnamed = 0;             // members without a known name: not listed
  std::uint32_t leftOut = 0;             // names beyond one reply: not listed
  // What the archive's tree lacks, in words after "<archive>: " ("no (listfile): 19 files have
  // no known name and are not listed"); empty when it lacks nothing or when the reader stopped.
  std::string Problem() const;
};

// For an archive without "(listfile)" (LoadListFile false), which many maps lack: indexes the
// names StormLib knows for its members by itself (its own files such as "(attributes)", and any a
// listfile it read gave it), in byte order, as a listfile's lines are indexed; onNewPath as there.
// Members StormLib cannot name are counted, never listed under a made-up name.
void LoadKnownNames(MpqHandle mpqh, const TNewPathHook& onNewPath, TKnownNamesReport& report);

// Reader over one file inside one archive. Every read positions the file pointer first.
class TZanthFileHandler {
public:
  TZanthFileHandler(MpqHandle mpqFileHandle, const std::string& fName);
  ~TZanthFileHandler();
  TZanthFileHandler(const TZanthFileHandler&) = delete;
  TZanthFileHandler& operator=(const TZanthFileHandler&) = delete;

  MpqHandle Handle() const { return FHandle.Get(); }
  // Why the archive reader stopped under the last open, seek or read of this file; None when
  // it did not. The archive is dropped then, and later reads fail.
  TReaderStop LastStop() const { return FLastStop; }
  // Why the open was refused (a claimed size beyond what the archive stores can give); empty when
  // it was not. The handle is 0 then.
  const std::string& Refusal() const { return FRefusal; }
  // The reader's last lines when it stopped.
  const std::string& StopWords() const { return FStopWords; }
  std::uint32_t SetOffset(std::uint32_t offset);
  std::uint32_t ResetOffset();
  // Reads len bytes from offset 0; true when all were read.
  bool GetHeader(void* p, std::uint32_t len);
  // Reads datalen bytes at offs; true when all were read (a short read leaves what was read).
  bool GetDataByOffset(std::uint32_t offs, std::uint32_t datalen, void* pData);
  std::uint64_t GetSize() const;

private:
  bool Read(std::uint32_t offset, void* p, std::uint32_t len);
  TArchiveFileHandle FHandle;
  std::uint64_t FSize = 0;
  TReaderStop FLastStop = TReaderStop::None;
  std::string FRefusal;
  std::string FStopWords;
};

// Why a file of the index has no handler, or stopped being readable.
struct TFileTrouble {
  TReaderStop stop = TReaderStop::None;  // the archive reader stopped under it
  std::string refusal;                   // its claimed size was refused ("decompression bomb: ...")
  std::string words;                     // the reader's last lines when it stopped
  // "the archive reader stopped (crash)", or the refusal; empty when neither.
  std::string Text() const;
};

// A file of the index read whole (ReadIndexedFile).
struct TWholeFile {
  enum class TStatus : std::uint8_t {
    Read,      // the bytes hold all of it
    Missing,   // the index or its archive lacks it (or it is empty and empty files do not count)
    TooLarge,  // it claims more than the limit: `size`
    Failed,    // the reader stopped, the claim was refused (`trouble`), or the read ended short
  };
  TStatus status = TStatus::Missing;
  std::uint64_t size = 0;  // as the archive claims it
  TFileTrouble trouble;
};

// Reads a file of the index whole into `bytes`, for readers that need all of it (the export).
// One that fits the reader's shared memory comes in one trip (open, read and close at once);
// a larger one through a TZanthFileHandler, in pieces. `limit`: larger files are not read.
// `takeEmpty`: an empty file counts as read, where TZanthObject counts it as missing.
TWholeFile ReadIndexedFile(const std::string& fName, std::uint64_t limit, bool takeEmpty, std::string& bytes);
// The same for a member of a given archive, as that archive's listfile spells it.
TWholeFile ReadArchiveFile(MpqHandle mpqh, const std::string& member, std::uint64_t limit, bool takeEmpty,
                           std::string& bytes);

// The same for several members of one archive, small ones many to a trip: result i and bytes[i]
// are members[i]'s. What the export reads, file after file of one archive.
std::vector<TWholeFile> ReadArchiveFiles(MpqHandle mpqh, const std::vector<std::string>& members, std::uint64_t limit,
                                         bool takeEmpty, std::vector<std::string>& bytes);
// ReadArchiveFiles in two halves, so that the caller works while the archive reader reads: the
// reading starts, and the files are taken later, with the same archive, members and limit. Any
// other read of an archive file in between waits for the first trip to be answered.
void StartArchiveFiles(MpqHandle mpqh, const std::vector<std::string>& members, std::uint64_t limit);
std::vector<TWholeFile> TakeArchiveFiles(MpqHandle mpqh, const std::vector<std::string>& members, std::uint64_t limit,
                                         bool takeEmpty, std::vector<std::string>& bytes);

// Base of every object loaded from an archive file: looks the name up in FileIndex and keeps
// the open file for its own lifetime.
class TZanthObject {
public:
  explicit TZanthObject(const std::string& fName);
  // The member `memberName` of the archive `archive` itself, whatever archive the index says
  // supplies `fName`: another archive's version of a path. fname() is `fName`.
  TZanthObject(const std::string& fName, MpqHandle archive, const std::string& memberName);
  virtual ~TZanthObject();
  TZanthObject(const TZanthObject&) = delete;
  TZanthObject& operator=(const TZanthObject&) = delete;

  const std::string& fname() const { return FFname; }
  // Null when the name is not indexed, the archive cannot open it, or it is empty.
  TZanthFileHandler* FileHandler() const { return FFileHandler.get(); }
  // Why the archive reader stopped while this object opened or read its file; None when it did
  // not ("reading <name> stopped the archive reader: <ReaderStopText>").
  TReaderStop ReaderStop() const { return FFileHandler ? FFileHandler->LastStop() : FOpenTrouble.stop; }
  // Why there is no file handler when the reader stopped or the file was refused.
  const TFileTrouble& OpenTrouble() const { return FOpenTrouble; }
  // The archive the file was opened in, or looked for: the index's supplier of the name, or the
  // archive given; 0 when the index has no record of the name.
  MpqHandle SourceArchive() const { return FArchive; }
  // The name the file was opened under in that archive (the listfile line); empty with no archive.
  const std::string& MemberName() const { return FMember; }

  static std::unique_ptr<TZanthFileHandler> OpenFileHandler(const std::string& fName);
  // The same, telling why the reader stopped when that is why there is no handler.
  static std::unique_ptr<TZanthFileHandler> OpenFileHandler(const std::string& fName, TReaderStop& stop);
  // The same, telling why there is no handler when the reader stopped or the file was refused.
  // The size of a handler returned counts up to kMaxExpansion times what the archive stores:
  // every reader of archive files (the window, the export, thumbnails) bounds its memory by it.
  static std::unique_ptr<TZanthFileHandler> OpenFileHandler(const std::string& fName, TFileTrouble& trouble);
  // The same for the member `memberName` of `archive`, with no look-up in the index.
  static std::unique_ptr<TZanthFileHandler> OpenFileHandlerIn(MpqHandle archive, const std::string& memberName,
                                                              TFileTrouble& trouble);

private:
  std::string FFname;
  MpqHandle FArchive = 0;
  std::string FMember;
  TFileTrouble FOpenTrouble;
  std::unique_ptr<TZanthFileHandler> FFileHandler;
};

}  // namespace velmora
