// The mip chain a BLP header lists, the same walk for BLP1 and BLP2: both keep a level's offset
// and size in two 16-entry tables, and a header without a mip chain lists level 0 alone
// (ListedLevelCount).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace velmora::blp {

// Steps through the levels the header lists: a 0 width or height counts as 1, and the first
// level without an offset or a size ends the chain, and so does level `last`. `produce(index,
// width, height, offset, size)` may return false to end the walk.
template <class THeader, class TProduce>
void ForEachListedLevel(const THeader& hdr, int last, TProduce&& produce) {
  const int levels = std::min(ListedLevelCount(hdr), last);
  std::uint32_t w = hdr.width;
  std::uint32_t h = hdr.height;
  for (int i = 0; i < levels; ++i) {
    if (w == 0) w = 1;
    if (h == 0) h = 1;
    const auto idx = static_cast<std::size_t>(i);
    if (hdr.offsets[idx] == 0 || hdr.sizes[idx] == 0) break;
    if constexpr (std::is_void_v<decltype(produce(i, w, h, hdr.offsets[idx], hdr.sizes[idx]))>) {
      produce(i, w, h, hdr.offsets[idx], hdr.sizes[idx]);
    } else if (!produce(i, w, h, hdr.offsets[idx], hdr.sizes[idx])) {
      break;
    }
    w >>= 1;
    h >>= 1;
  }
}

// Levels of the chain the file holds: those listed, up to the first without an offset or a size.
template <class THeader>
int ChainLength(const THeader& hdr) {
  int n = 0;
  ForEachListedLevel(hdr, ListedLevelCount(hdr), [&](int, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {
    ++n;
  });
  return n;
}

}  // namespace velmora::blp
