// Decoded thumbnails kept for the grid, bounded in bytes: the one used longest ago goes first when
// a new one would pass the bound. Thumbnails that could not be made are kept too (with why), so a
// damaged file is not read again each time its folder is shown. Not thread-safe: the user-interface
// thread owns it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <unordered_map>

#include "blp/LevelPixels.h"

namespace velmora {

// One thumbnail as the worker hands it back.
struct TThumbnail {
  std::string key;           // the job's key
  blp::TRgbaPixels pixels;   // empty when none could be made
  std::string problem;       // why none, or what it lacks; names escaped
  std::string stopLog;       // a stop of the worker's archive reader under this file, for the log
  bool Broken() const { return pixels.bytes.empty(); }
};

class TThumbnailCache {
public:
  static constexpr std::size_t kDefaultBytes = std::size_t{64} << 20;
  // What an entry costs beside its pixels and texts: the list and table nodes.
  static constexpr std::size_t kEntryOverhead = 128;

  explicit TThumbnailCache(std::size_t maxBytes = kDefaultBytes) : maxBytes_(maxBytes) {}

  // The thumbnail for `key`, now the one used last; null when it is not kept.
  const TThumbnail* Find(const std::string& key);
  bool Contains(const std::string& key) const { return index_.count(key) != 0; }
  // Keeps `thumbnail` (in place of one of the same key), then drops those used longest ago until
  // the bytes are within the bound again; one larger than the bound alone is not kept.
  void Store(TThumbnail thumbnail);
  void Clear();

  std::size_t Bytes() const { return bytes_; }
  std::size_t Count() const { return index_.size(); }
  std::size_t MaxBytes() const { return maxBytes_; }
  // Changes the bound, dropping entries as Store does.
  void SetMaxBytes(std::size_t maxBytes);
  // What `thumbnail` counts against the bound.
  static std::size_t CostOf(const TThumbnail& thumbnail);

private:
  void Trim();
  void Erase(std::list<TThumbnail>::iterator it);

  std::size_t maxBytes_;
  std::size_t bytes_ = 0;
  std::list<TThumbnail> entries_;  // used last first
  std::unordered_map<std::string, std::list<TThumbnail>::iterator> index_;
};

}  // namespace velmora
