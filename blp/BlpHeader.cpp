// Decoding of the 148-byte BLP2 header.
#include "blp/ZanthBLP.h"

namespace velmora {

namespace {
std::uint32_t Le32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}
}  // namespace

TBLP2Header TBLP2Header::Parse(const std::array<std::uint8_t, kSize>& bytes) {
  // Offsets: 0 sign, 4 tex_type, 8 compression, 9 alpha_bits, 10 alpha_type, 11 has_mips,
  // 12 width, 16 height, 20 offsets[16], 84 sizes[16].
  const std::uint8_t* b = bytes.data();
  TBLP2Header h;
  h.sign = Le32(b + 0);
  h.tex_type = Le32(b + 4);
  h.compression = b[8];
  h.alpha_bits = b[9];
  h.alpha_type = b[10];
  h.has_mips = b[11];
  h.width = Le32(b + 12);
  h.height = Le32(b + 16);
  for (std::size_t i = 0; i < 16; ++i) {
    h.offsets[i] = Le32(b + 20 + 4 * i);
    h.sizes[i] = Le32(b + 84 + 4 * i);
  }
  return h;
}

}  // namespace velmora
