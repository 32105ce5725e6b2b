// The library's three exports: each decodes with the fastest path this CPU can run.
#include "dexaro/Dexaro.h"

#include "dexaro/DxtDecode.h"

namespace dx = velmora::dexaro;

extern "C" {

DEXARO_API int32_t DEXARO_CALL DDSDecompressDXT1(const void* src, int32_t width, int32_t height,
                                                 void* dst) {
  dx::DecodeImage(dx::BestPath(), dx::DxtFormat::Dxt1, src, width, height, dst);
  return 0;
}

DEXARO_API int32_t DEXARO_CALL DDSDecompressDXT3(const void* src, int32_t width, int32_t height,
                                                 void* dst) {
  dx::DecodeImage(dx::BestPath(), dx::DxtFormat::Dxt3, src, width, height, dst);
  return 0;
}

DEXARO_API int32_t DEXARO_CALL DDSDecompressDXT5(const void* src, int32_t width, int32_t height,
                                                 void* dst) {
  dx::DecodeImage(dx::BestPath(), dx::DxtFormat::Dxt5, src, width, height, dst);
  return 0;
}

}  // extern "C"
