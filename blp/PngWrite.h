// PNG files of RGBA pixels, written with zlib: 8 bits per channel, colour type 6 (RGBA) or, for
// an image without alpha, 2 (RGB), no interlace, one adaptive filter per row.
//
// File layout: the 8-byte signature 89 50 4E 47 0D 0A 1A 0A, then chunks of
// length (4 bytes, big-endian) | type (4 ASCII letters) | data | CRC-32 over type and data:
// IHDR (width, height, bit depth 8, colour type 6 or 2, compression 0, filter 0, interlace 0),
// IDAT (one zlib stream, Adler-32 at its end, split over chunks of at most 1 MiB), IEND.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmora::blp {

// `width` x `height` pixels (each at least 1), rows top to bottom, each pixel R, G, B, A. With
// `alpha` false the alpha bytes are left out: colour type 2, three bytes per pixel.
// Throws std::invalid_argument for sizes PNG cannot hold and std::runtime_error when zlib fails.
std::vector<std::uint8_t> EncodePng(std::uint32_t width, std::uint32_t height, const std::uint8_t* rgba,
                                    bool alpha = true);

// True when every one of `pixels` RGBA pixels has alpha 255: the image needs no alpha channel.
bool EveryAlphaOpaque(const std::uint8_t* rgba, std::size_t pixels);

// Writes `bytes` to `path` through a temporary file beside it, created exclusively and renamed
// into place (blp/ExportFolder.h), so that an interrupted write leaves no partial file and a link
// at the name is replaced, never written through. False with the reason in `error`.
bool WriteFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string& error);

}  // namespace velmora::blp
