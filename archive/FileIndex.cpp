// The file index and the archive list.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

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
    Replace((table_[i] & 0xFFFFFFFFu) - 1, rec);
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

void TFileIndex::Replace(std::size_t index, const TFileMpqRec& rec) {
  TFileMpqRec& current = At(index).rec;
  // Links and line lengths are 32-bit; beyond them the index only replaces.
  constexpr std::size_t kMax32 = std::numeric_limits<std::uint32_t>::max();
  if (current.mpqh != rec.mpqh && older_.size() < kMax32 && current.full_name.size() <= kMax32) {
    const std::size_t chunk = index >> kChunkBits;
    if (earlierChunks_.size() <= chunk) earlierChunks_.resize(chunk + 1);
    if (!earlierChunks_[chunk]) earlierChunks_[chunk] = std::make_unique<std::uint32_t[]>(kChunkMask + 1);
    std::uint32_t& link = earlierChunks_[chunk][index & kChunkMask];
    older_.push_back(TEarlier{current.full_name.data(), static_cast<std::uint32_t>(current.full_name.size()), link,
                              current.mpqh});
    link = static_cast<std::uint32_t>(older_.size());
  }
  current = rec;
}

std::uint32_t TFileIndex::EarlierOf(std::size_t index) const {
  const std::size_t chunk = index >> kChunkBits;
  if (chunk >= earlierChunks_.size() || !earlierChunks_[chunk]) return 0;
  return earlierChunks_[chunk][index & kChunkMask];
}

std::vector<TFileMpqRec> TFileIndex::Sources(std::string_view key) const {
  bool found = false;
  const std::size_t slot = Slot(HashKey(key), key, found);
  if (!found) return {};
  const std::size_t index = (table_[slot] & 0xFFFFFFFFu) - 1;
  const Entry& e = At(index);
  // The links run from the latest replaced record back to the first archive's.
  std::vector<TFileMpqRec> sources{e.rec};
  for (std::uint32_t link = EarlierOf(index); link != 0; link = older_[link - 1].next) {
    const TEarlier& earlier = older_[link - 1];
    sources.push_back(TFileMpqRec{earlier.mpqh, e.rec.dir, std::string_view(earlier.name, earlier.nameSize)});
  }
  std::reverse(sources.begin(), sources.end());
  return sources;
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
    const std::size_t index = (table_[i] & 0xFFFFFFFFu) - 1;
    Replace(index, TFileMpqRec{mpqh, DirectoryPart(At(index).key), fullName});
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
  earlierChunks_.clear();
  earlierChunks_.shrink_to_fit();
  older_.clear();
  older_.shrink_to_fit();
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
