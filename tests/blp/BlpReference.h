// Expected pixels of BLP2 levels, written pixel by pixel from the format rules, to compare the
// loader's uploads against.
#pragma once

#include <cstdint>
#include <string>

#include "support/BlpWriter.h"
#include "support/ImageCompare.h"

namespace velmora::test {

// Which colour rules decode a DXT block:
// Library  - the viewer's own decoder: green 6->8 bits as (g << 2) | (g >> 3), thirds truncated,
//            3-colour mode (c0 <= c1) in DXT1, 3 and 5 with colour 3 = 0,255,255,0.
// Standard - S3TC as OpenGL decodes it: green (g << 2) | (g >> 4), 3-colour mode only in DXT1
//            with colour 3 = 0,0,0,0; rounding may differ slightly, so compare with a tolerance.
// Hardware - Standard with exact rounding, the rules the export follows: thirds and DXT5's
//            sevenths and fifths rounded to nearest, the 3-colour mode's half rounded up.
enum class DxtRules { Library, Standard, Hardware };

// Level pixels of a w x h level of `file`'s encoding from `bytes` (missing bytes read as zero).
// Palette entries are B, G, R, A (their alpha unused), uncompressed pixels B, G, R, A.
RgbaImage ExpectedLevel(const BlpFile& file, const std::string& bytes, std::uint32_t w, std::uint32_t h,
                        DxtRules rules);

}  // namespace velmora::test
