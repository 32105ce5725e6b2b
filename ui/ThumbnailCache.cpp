// The byte-bounded cache of thumbnails, used-last first.
#include "ui/ThumbnailCache.h"

namespace velmora {

std::size_t TThumbnailCache::CostOf(const TThumbnail& t) {
  // The key is held twice: in the entry and in the table.
  return t.pixels.bytes.size() + 2 * t.key.size() + t.problem.size() + t.stopLog.size() + kEntryOverhead;
}

const TThumbnail* TThumbnailCache::Find(const std::string& key) {
  const auto it = index_.find(key);
  if (it == index_.end()) return nullptr;
  entries_.splice(entries_.begin(), entries_, it->second);
  return &*it->second;
}

void TThumbnailCache::Store(TThumbnail thumbnail) {
  if (const auto it = index_.find(thumbnail.key); it != index_.end()) Erase(it->second);
  const std::size_t cost = CostOf(thumbnail);
  if (cost > maxBytes_) return;
  entries_.push_front(std::move(thumbnail));
  index_.emplace(entries_.front().key, entries_.begin());
  bytes_ += cost;
  Trim();
}

void TThumbnailCache::Clear() {
  index_.clear();
  entries_.clear();
  bytes_ = 0;
}

void TThumbnailCache::SetMaxBytes(std::size_t maxBytes) {
  maxBytes_ = maxBytes;
  Trim();
}

void TThumbnailCache::Trim() {
  while (bytes_ > maxBytes_ && !entries_.empty()) Erase(std::prev(entries_.end()));
}

void TThumbnailCache::Erase(std::list<TThumbnail>::iterator it) {
  bytes_ -= CostOf(*it);
  index_.erase(it->key);
  entries_.erase(it);
}

}  // namespace velmora
