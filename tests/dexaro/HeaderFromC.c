/* Compiled as C99 with -pedantic -Werror: the public header must be plain C, and the three
   exports must link and run from C. */
#include "dexaro/Dexaro.h"

int32_t DexaroDecodeFromC(int format, const void* src, int32_t width, int32_t height, void* dst) {
  switch (format) {
    case 1: return DDSDecompressDXT1(src, width, height, dst);
    case 3: return DDSDecompressDXT3(src, width, height, dst);
    case 5: return DDSDecompressDXT5(src, width, height, dst);
    default: return -1;
  }
}
