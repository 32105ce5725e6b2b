// What the readout says about the shown texture: the value of one texel as the view shows it, the
// encoding in words, the level and its size, the zoom, and the view's modes in words. No GL.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "blp/BlpDecode.h"
#include "blp/BlpHeader.h"
#include "render/ViewState.h"

namespace velmora {

using TTexel = std::array<std::uint8_t, 4>;  // R, G, B, A

// Who turned the DXT blocks into the texels on screen: the GL (a driver that takes them
// compressed decodes by the hardware rules) or the Dexaro library, whose decode the texture
// uploaded when the GL takes no compressed textures. The two differ in rounding.
enum class TDxtDecoder { kHardwareRules, kLibrary };

// Texel (x, y) of level `level`, or none outside the level. DXT texels come from their one block,
// decoded as `decoder` does it (blp::DecodeS3tcBlock, or Dexaro on that block alone), so a
// readout costs no decode of the level.
std::optional<TTexel> TexelValue(const blp::TBlpLevels& levels, std::size_t level, std::uint32_t x,
                                 std::uint32_t y, TDxtDecoder decoder = TDxtDecoder::kHardwareRules);

// "#RRGGBBAA".
std::string TexelText(const TTexel& texel);

// "palette, 4-bit alpha", "DXT5", "uncompressed 32-bit"; "unknown encoding 9".
std::string EncodingText(const TBLP2Header& hdr);

// "mip 2/10 (128 x 64)": index of the level, number of levels, the level's size.
std::string LevelText(int level, int levelCount, std::uint32_t width, std::uint32_t height);

// The zoom and what it means on screen, where a pixel is a device pixel whatever the desktop's
// scale: "zoom 100% (1 texel : 1 pixel)", "zoom 400% (1 texel : 4 x 4 pixels)", "zoom 25%
// (4 x 4 texels : 1 pixel)"; a zoom that is no power of two gives only its percentage.
std::string ZoomWords(double zoom);

// The channel as the view shows it: "RGBA", "RGB, alpha ignored", "Red as grey", ...
std::string ChannelWords(TChannel channel);

// What the view shows beside the plain picture, in words: the channel when it is not RGBA, the
// background when it is not the window's colour and the level when it is not the first, joined
// by " · " and starting with a capital: "Alpha as grey · checkerboard · mip 2/10". Empty when
// all three are at their defaults. The zoom is not a mode: the readout says it.
std::string ModeWords(const TViewState& state, int levelCount);

}  // namespace velmora
