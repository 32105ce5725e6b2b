/*
 * Decodes one DXT1 block with the installed Dexaro library, prints its 16 pixels and checks
 * them; exit status 0 when every pixel is as DXT1 defines it.
 *
 * Built through pkg-config:
 *   cc -std=c99 decode_block.c $(pkg-config --cflags --libs dexaro) -o decode_block
 * or through CMake's find_package(Dexaro) with the CMakeLists.txt beside this file.
 */
#include <Dexaro.h>

#include <stdint.h>
#include <stdio.h>

int main(void) {
  /*
   * A DXT1 block is two RGB 5:6:5 colours (little-endian) and sixteen 2-bit indices, four per
   * byte, the first pixel in the lowest bits. colour0 > colour1 selects the four-colour mode:
   *   colour2 = (2 * colour0 + colour1) / 3,  colour3 = (colour0 + 2 * colour1) / 3
   * per channel, after each 5- or 6-bit channel is widened to 8 bits, all opaque.
   */
  const uint8_t block[8] = {
      0x00, 0xF8,             /* colour0 = 0xF800: red 31 -> 255 */
      0x1F, 0x00,             /* colour1 = 0x001F: blue 31 -> 255 */
      0xE4, 0x39, 0x4E, 0x93, /* rows of indices 0123, 1230, 2301, 3012 */
  };
  const uint8_t palette[4][4] = {
      {255, 0, 0, 255},
      {0, 0, 255, 255},
      {170, 0, 85, 255},
      {85, 0, 170, 255},
  };
  uint8_t pixels[4 * 4 * 4] = {0};
  int wrong = 0;
  int x, y;

  DDSDecompressDXT1(block, 4, 4, pixels);

  for (y = 0; y < 4; ++y) {
    for (x = 0; x < 4; ++x) {
      const uint8_t* got = pixels + (y * 4 + x) * 4;
      const uint8_t* want = palette[(x + y) % 4];
      const int same = got[0] == want[0] && got[1] == want[1] && got[2] == want[2] && got[3] == want[3];
      printf("%s%3u,%3u,%3u,%3u%s", x ? "  " : "", got[0], got[1], got[2], got[3], same ? "" : "!");
      if (!same) {
        ++wrong;
      }
    }
    printf("\n");
  }
  if (wrong) {
    fprintf(stderr, "%d of 16 pixels differ (marked !)\n", wrong);
    return 1;
  }
  return 0;
}
