// Naming a texture's format in words.
#include "blp/FormatName.h"

#include "blp/BlpDecode.h"

namespace velmora::blp {

namespace {
std::string AlphaWords(unsigned bits) { return ", " + std::to_string(bits) + "-bit alpha"; }
}  // namespace

std::string FormatName(const TBLP2Header& hdr) {
  if (hdr.sign == kBlp1Magic) return "BLP1";
  if (hdr.sign != TBLP2Header::kMagic) return "not a BLP file";
  if (hdr.tex_type == 0) return "BLP2, JPEG";
  switch (hdr.compression) {
    case kPaletteEncoding: {
      const bool plane = hdr.alpha_bits == 1 || hdr.alpha_bits == 4 || hdr.alpha_bits == 8;
      return "BLP2, palette" + (plane ? AlphaWords(hdr.alpha_bits) : std::string());
    }
    case kDxtEncoding:
      switch (DxtFormatOf(hdr)) {
        case TLevelFormat::kDxt3: return "BLP2, DXT3";
        case TLevelFormat::kDxt5: return "BLP2, DXT5";
        default: return "BLP2, DXT1";
      }
    case kUncompressedEncoding: return "BLP2, uncompressed";
    default: return "BLP2, unknown encoding " + std::to_string(hdr.compression);
  }
}

std::string FormatName(const TBLP1Header& hdr) {
  if (hdr.sign != TBLP1Header::kMagic) return "not a BLP file";
  switch (hdr.compression) {
    case kBlp1Jpeg: return "BLP1, JPEG" + (hdr.alpha_bits != 0 ? AlphaWords(8) : std::string());
    case kBlp1Palette: {
      const std::uint8_t bits = PaletteAlphaBits(hdr);
      return "BLP1, palette" + (bits != 0 ? AlphaWords(bits) : std::string());
    }
    default: return "BLP1, unknown compression " + std::to_string(hdr.compression);
  }
}

}  // namespace velmora::blp
