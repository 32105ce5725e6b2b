// One DXT block as the GL decodes it: the texel readout's view of a texture the GL holds
// compressed. Needs a current context whose entry points are resolved in velmora::Gl.
#pragma once

#include <cstdint>

#include "blp/BlpDecode.h"

namespace velmora {

// Decodes the one block at `block` (8 bytes for DXT1, 16 for DXT3/5) into 16 pixels R, G, B, A,
// row by row, the way the GL decodes the same block of any texture: it is uploaded as a 4 x 4
// texture of its own and read back. S3TC blocks decode on their own, so each texel equals the one
// the view samples. False, with nothing written, when the GL has no compressed textures or
// reports an error.
bool GlDecodeBlock(blp::TLevelFormat format, const std::uint8_t* block, std::uint8_t out[64]);

}  // namespace velmora
