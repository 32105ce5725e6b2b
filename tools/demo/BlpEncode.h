// A small BLP encoder for the demo: BLP2 with palette, DXT1/3/5 or uncompressed levels, a BLP2
// header of the JPEG kind, and a palette BLP1 file.
//
// BLP2 layout (little-endian): "BLP2", u32 tex_type (0 JPEG, 1 direct), u8 compression
// (1 palette, 2 DXT, 3 uncompressed B,G,R,A), u8 alpha_bits, u8 alpha_type, u8 has_mips,
// u32 width, u32 height, u32 offsets[16], u32 sizes[16] (148 bytes), then 256 palette entries
// B,G,R,A (1024 bytes, present in every file of this encoder), then the levels.
#pragma once

#include <string>

#include "Pictures.h"

namespace velmora::demo {

enum class TBlpEncoding { Palette, Dxt1, Dxt3, Dxt5, Uncompressed };

// alphaBits: Palette 0, 1, 4 or 8; Dxt1 0 or 1 (1: pixels with alpha below 128 transparent);
// ignored otherwise. With mips, every level down to 1 x 1 is stored.
std::string EncodeBlp2(const TImage& img, TBlpEncoding encoding, int alphaBits, bool mips);

// tex_type 0: a shared JPEG header length of 0 and one level holding an empty JPEG stream.
std::string EncodeBlp2Jpeg(int w, int h);

// "BLP1", u32 compression 1 (palette), u32 alpha bits 8, u32 width, u32 height, u32 picture
// type 4, u32 has_mips 1, u32 offsets[16], u32 sizes[16], palette, levels of index then alpha.
std::string EncodeBlp1(const TImage& img);

}  // namespace velmora::demo
