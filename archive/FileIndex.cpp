// The file index and the archive list.
#include <fcntl.h>
#include <unistd.h>

#include <bit>
#include <cstring>

#include "archive/Storm.h"
#include "archive/Zanth.h"

namespace velmora {

std::unique_ptr<TMpqList> MpqList;
std::unique_ptr<TFileIndex> FileIndex;

namespace {

std::uint64_t Load64(const char* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// 64-bit multiply-mix hash over 8-byte words; keys are archive paths of a few dozen bytes.
std::uint64_t HashKey(std::string_view s) {
  constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ull;
  std::uint64_t h = s.size() * kMul;
  std::size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    h = (h ^ Load64(s.data() + i)) * kMul;
    h ^= h >> 29;
  }
  if (i < s.size()) {
    std::uint64_t tail = 0;
    std::memcpy(&tail, s.data() + i, s.size() - i);
    h = (h ^ tail) * kMul;
  }
  h ^= h >> 32;
  h *= 0xD6E8FEB86659FD93ull;
  h ^= h >> 32;
  return h;
}

constexpr std::size_t kInitialSlots = 1024;

}  // namespace

TFileIndex::TFileIndex() { Clear(); }
TFileIndex::~TFileIndex() = default;

std::size_t TFileIndex::Slot(std::uint64_t hash, std::string_view key, bool& found) const {
  const std::uint64_t tag = hash >> 32;
  std::size_t i = static_cast<std::size_t>(hash >> shift_);
  for (;;) {
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

void TFileIndex::Clear() {
  chunks_.clear();
  chunks_.shrink_to_fit();
  count_ = 0;
  table_.clear();
  table_.shrink_to_fit();
  Rehash(kInitialSlots);
  texts_.clear();
  texts_.shrink_to_fit();
}

TMpqList::~TMpqList() { CloseAll(); }

void TMpqList::CloseAll() {
  for (MpqHandle h : handles_) storm::TMpqArchive{storm::ToHandle(h)};
  handles_.clear();
}

void CreateArchiveIndex() {
  MpqList = std::make_unique<TMpqList>();
  FileIndex = std::make_unique<TFileIndex>();
}

void FreeArchiveIndex() {
  FileIndex.reset();
  if (MpqList) MpqList->CloseAll();
  MpqList.reset();
}

namespace {

// StormLib 9.22 closes file descriptor 0 whenever SFileOpenArchive fails (its stream's handle
// starts out as 0): standard input first, then whatever file took that number since, such as
// an archive opened earlier. With /dev/null held there before and after every open, the number
// never goes to a file of ours.
void HoldDescriptorZero() {
  if (::fcntl(0, F_GETFD) != -1) return;
  const int fd = ::open("/dev/null", O_RDONLY);
  if (fd > 0) ::close(fd);  // 0 was taken meanwhile after all
}

}  // namespace

bool OpenMpqArchive(const std::string& path, MpqHandle& handle) {
  HANDLE h = nullptr;
  handle = 0;
  HoldDescriptorZero();
  const bool opened = SFileOpenArchive(path.c_str(), 0, 0, &h);
  HoldDescriptorZero();
  if (!opened) return false;
  handle = storm::FromHandle(h);
  return true;
}

}  // namespace velmora
