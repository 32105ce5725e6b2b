// Block walk and the run-time choice between the scalar and the SIMD paths.
#include "dexaro/DxtDecode.h"

namespace velmora::dexaro {

const char* PathName(DxtPath path) noexcept {
  switch (path) {
    case DxtPath::Scalar: return "scalar";
    case DxtPath::Ssse3: return "ssse3";
    case DxtPath::Avx2: return "avx2";
  }
  return "?";
}

bool PathAvailable(DxtPath path) noexcept {
  switch (path) {
    case DxtPath::Scalar: return true;
#if defined(__x86_64__) || defined(__i386__)
    // libgcc's probe also checks through XGETBV that the OS saves the YMM registers.
    case DxtPath::Ssse3: __builtin_cpu_init(); return __builtin_cpu_supports("ssse3");
    case DxtPath::Avx2: __builtin_cpu_init(); return __builtin_cpu_supports("avx2");
#else
    case DxtPath::Ssse3:
    case DxtPath::Avx2: return false;
#endif
  }
  return false;
}

DxtPath BestPath() noexcept {
  if (PathAvailable(DxtPath::Avx2)) return DxtPath::Avx2;
  if (PathAvailable(DxtPath::Ssse3)) return DxtPath::Ssse3;
  return DxtPath::Scalar;
}

void DecodeImage(DxtPath path, DxtFormat format, const void* src, int32_t width, int32_t height,
                 void* dst) noexcept {
  // Whole blocks only: the division truncates toward zero, so negative and small sizes give
  // no block at all.
  const int32_t bw = width / 4;
  const int32_t bh = height / 4;
  if (bw <= 0 || bh <= 0) return;
  const BlockGrid grid{static_cast<const uint8_t*>(src), static_cast<uint8_t*>(dst),
                       static_cast<std::size_t>(width) * 4u, static_cast<std::size_t>(bw),
                       static_cast<std::size_t>(bh)};
  switch (path) {
    case DxtPath::Scalar: DecodeScalar(format, grid); return;
    case DxtPath::Ssse3: DecodeSsse3(format, grid); return;
    case DxtPath::Avx2: DecodeAvx2(format, grid); return;
  }
}

}  // namespace velmora::dexaro
