// The file tree's per-level dictionaries.
#include "ui/NodeData.h"

#include "base/SipHash.h"

namespace velmora {

namespace {

// Past this many entries a level's dictionary gets its hash table.
constexpr std::size_t kLinearEntries = 24;

// Names come from listfiles anyone can write: the hash is keyed per process.
std::uint64_t HashName(std::string_view s) { return KeyedHash(s); }

}  // namespace

std::size_t TNodeDict::Slot(std::string_view name, bool& found) const {
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = static_cast<std::size_t>(HashName(name)) & mask;
  for (;;) {
    ++probes_;
    const std::uint32_t v = slots_[i];
    if (v == 0) {
      found = false;
      return i;
    }
    if (entries_[v - 1].name == name) {
      found = true;
      return i;
    }
    i = (i + 1) & mask;
  }
}

TVirtualNode* TNodeDict::Find(std::string_view name) const {
  if (slots_.empty()) {
    for (const Entry& e : entries_) {
      if (e.name == name) return e.node;
    }
    return nullptr;
  }
  bool found = false;
  const std::size_t i = Slot(name, found);
  return found ? entries_[slots_[i] - 1].node : nullptr;
}

void TNodeDict::Store(std::string_view name, TVirtualNode* node) {
  if (slots_.empty()) {
    for (Entry& e : entries_) {
      if (e.name == name) {
        e.node = node;
        return;
      }
    }
    entries_.push_back(Entry{name, node});
    if (entries_.size() > kLinearEntries) Rehash();
    return;
  }
  bool found = false;
  const std::size_t i = Slot(name, found);
  if (found) {
    entries_[slots_[i] - 1].node = node;
    return;
  }
  entries_.push_back(Entry{name, node});
  slots_[i] = static_cast<std::uint32_t>(entries_.size());
  // Load at most one half keeps probes short.
  if (entries_.size() * 2 > slots_.size()) Rehash();
}

void TNodeDict::Rehash() {
  std::size_t size = 64;
  while (size < entries_.size() * 4) size *= 2;
  slots_.assign(size, 0);
  for (std::size_t k = 0; k < entries_.size(); ++k) {
    std::size_t i = static_cast<std::size_t>(HashName(entries_[k].name)) & (size - 1);
    while (slots_[i] != 0) i = (i + 1) & (size - 1);
    slots_[i] = static_cast<std::uint32_t>(k + 1);
  }
}

void TNodeDict::Clear() {
  entries_.clear();
  entries_.shrink_to_fit();
  slots_.clear();
  slots_.shrink_to_fit();
}

}  // namespace velmora
