// The file index and the archive list.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstring>

#include "archive/PathParts.h"
#include "archive/Zanth.h"
#include "base/SipHash.h"

namespace velmora {

std::unique_ptr<TMpqList> MpqList;
std::unique_ptr<TFileIndex> FileIndex;

namespace {

// Keys come from listfiles anyone can write: the hash is keyed per process, so no listfile can
// be made whose keys share a home slot.
std::uint64_t HashKey(std::string_view s) { return KeyedHash(s); }

constexpr std::size_t kInitialSlots = 1024;
// Own's storage grows by blocks of this size (or of a larger text's size).
constexpr std::size_t kOwnBlock = std::size_t{1} << 20;

}  // namespace

TFileIndex::TFileIndex() { Clear(); }
TFileIndex::~TFileIndex() = default;

std::size_t TFileIndex::Slot(std::uint64_t hash, std::string_view key, bool& found) const {
  const std::uint64_t tag = hash >> 32;
  std::size_t i = static_cast<std::size_t>(hash >> shift_);
  for (;;) {
    ++probes_;
    const std::uint64_t v = table_[i];
    if (v == 0) {
      found = false;
      return i;
    }
    if ((v >> 32) == tag && At((v & 0xFFFFFFFFu) - 1).key == key) {
      found = true;
      return i;
    }
    i = (i + 1) & mask_;
  }
}

const TFileMpqRec* TFileIndex::Find(std::string_view key) const {
  bool found = false;
  const std::size_t i = Slot(HashKey(key), key, found);
  return found ? &At((table_[i] & 0xFFFFFFFFu) - 1).rec : nullptr;
}

bool TFileIndex::Store(std::string_view key, const TFileMpqRec& rec) {
  const std::uint64_t hash = HashKey(key);
  bool found = false;
  std::size_t i = Slot(hash, key, found);
  if (found) {
    At((table_[i] & 0xFFFFFFFFu) - 1).rec = rec;
    return false;
  }
  // Keep the load at or below one half so that linear probes stay short.
  if ((count_ + 1) * 2 > table_.size()) {
    Rehash(table_.size() * 2);
    i = Slot(hash, key, found);
  }
  if ((count_ & kChunkMask) == 0) chunks_.push_back(std::make_unique<Entry[]>(kChunkMask + 1));
  At(count_) = Entry{key, rec};
  ++count_;
  table_[i] = (hash >> 32) << 32 | static_cast<std::uint64_t>(count_);
  return true;
}

void TFileIndex::Rehash(std::size_t slots) {
  // Record indices are 32-bit and slots are at most 2^32, so the home slot's bits all lie in
  // the stored upper half of the hash.
  std::vector<std::uint64_t> old(slots, 0);
  old.swap(table_);
  mask_ = slots - 1;
  shift_ = 64u - static_cast<unsigned>(std::countr_zero(slots));
  for (std::uint64_t v : old) {
    if (v == 0) continue;
    std::size_t i = static_cast<std::size_t>(((v >> 32) << 32) >> shift_);
    while (table_[i] != 0) i = (i + 1) & mask_;
    table_[i] = v;
  }
}

void TFileIndex::Reserve(std::size_t count) {
  // Only the table: records grow a chunk at a time and are never copied.
  std::size_t slots = table_.size();
  while (slots < count * 2) slots *= 2;
  if (slots != table_.size()) Rehash(slots);
}

void TFileIndex::Keep(std::unique_ptr<char[]> text) { texts_.push_back(std::move(text)); }

std::string_view TFileIndex::Own(std::string_view text) {
  if (text.empty()) return {};
  if (blocks_.empty() || blocks_.back().second - used_ < text.size()) {
    const std::size_t size = std::max(kOwnBlock, text.size());
    blocks_.emplace_back(std::make_unique_for_overwrite<char[]>(size), size);
    used_ = 0;
  }
  char* at = blocks_.back().first.get() + used_;
  std::memcpy(at, text.data(), text.size());
  used_ += text.size();
  return {at, text.size()};
}

void TFileIndex::Release(const TMark& mark) {
  while (blocks_.size() > mark.blocks) blocks_.pop_back();
  used_ = blocks_.empty() ? 0 : mark.used;
}

bool TFileIndex::StoreOwned(std::string_view key, MpqHandle mpqh, std::string_view fullName) {
  const std::uint64_t hash = HashKey(key);
  bool found = false;
  const std::size_t i = Slot(hash, key, found);
  if (found) {
    Entry& e = At((table_[i] & 0xFFFFFFFFu) - 1);
    e.rec = TFileMpqRec{mpqh, DirectoryPart(e.key), fullName};
    return false;
  }
  if ((count_ + 1) * 2 > table_.size()) {
    Rehash(table_.size() * 2);
    return StoreOwned(key, mpqh, fullName);
  }
  const std::string_view owned = Own(key);
  if ((count_ & kChunkMask) == 0) chunks_.push_back(std::make_unique<Entry[]>(kChunkMask + 1));
  At(count_) = Entry{owned, TFileMpqRec{mpqh, DirectoryPart(owned), fullName}};
  ++count_;
  table_[i] = (hash >> 32) << 32 | static_cast<std::uint64_t>(count_);
  return true;
}

void TFileIndex::Clear() {
  chunks_.clear();
  chunks_.shrink_to_fit();
  count_ = 0;
  table_.clear();
  table_.shrink_to_fit();
  Rehash(kInitialSlots);
  texts_.clear();
  texts_.shrink_to_fit();
  blocks_.clear();
  blocks_.shrink_to_fit();
  used_ = 0;
}

TMpqList::~TMpqList() { CloseAll(); }

void TMpqList::CloseAll() {
  // First to last, each by its owner.
  for (TArchiveHandle& a : archives_) a.Reset();
  archives_.clear();
}

void CreateArchiveIndex() {
  MpqList = std::make_unique<TMpqList>();
  FileIndex = std::make_unique<TFileIndex>();
}

void FreeArchiveIndex() {
  FileIndex.reset();
  if (MpqList) MpqList->CloseAll();
  MpqList.reset();
  // With nothing left open the reader process has no more work; a later index starts another.
  TArchiveReader& reader = TArchiveReader::Instance();
  if (reader.OpenArchiveCount() == 0 && reader.OpenFileCount() == 0) reader.Stop();
}

TMpqOpenResult OpenMpqArchive(const std::string& path) {
  const TArchiveReader::TArchiveOpen open = TArchiveReader::Instance().OpenArchive(path);
  TMpqOpenResult result;
  result.status = open.status;
  result.stop = open.stop;
  result.reason = open.reason;
  result.error = open.error;
  result.words = open.words;
  if (open.status == TArchiveOpenStatus::Opened) result.archive = TArchiveHandle(open.handle);
  if (open.status == TArchiveOpenStatus::AlreadyOpen) result.existing = open.handle;
  return result;
}

bool OpenMpqArchive(const std::string& path, TArchiveHandle& archive) {
  archive = OpenMpqArchive(path).archive;
  return static_cast<bool>(archive);
}

TReaderStop MpqArchiveStop(MpqHandle mpqh) { return TArchiveReader::Instance().ArchiveStop(mpqh); }

}  // namespace velmora
