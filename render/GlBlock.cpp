// A DXT block decoded by the GL.
#include "render/GlBlock.h"

#include <array>

#include "gl/GlApi.h"

namespace velmora {

bool GlDecodeBlock(blp::TLevelFormat format, const std::uint8_t* block, std::uint8_t out[64]) {
  GLenum glFormat = 0;
  switch (format) {
    // DXT1 as the texture is uploaded: RGBA, colour 3 of the three-colour mode transparent.
    case blp::TLevelFormat::kDxt1: glFormat = gl::COMPRESSED_RGBA_S3TC_DXT1_EXT; break;
    case blp::TLevelFormat::kDxt3: glFormat = gl::COMPRESSED_RGBA_S3TC_DXT3_EXT; break;
    case blp::TLevelFormat::kDxt5: glFormat = gl::COMPRESSED_RGBA_S3TC_DXT5_EXT; break;
    default: return false;
  }
  if (!GlApiReady() || Gl.CompressedTexImage2DARB == nullptr) return false;
  // Errors left by earlier calls would be taken for these (GL keeps one per kind, a few at most).
  for (int i = 0; i < 8 && Gl.GetError() != gl::NO_ERROR_; ++i) continue;
  GLint bound = 0;
  Gl.GetIntegerv(gl::TEXTURE_BINDING_2D, &bound);
  GLuint texture = 0;
  Gl.GenTextures(1, &texture);
  Gl.BindTexture(gl::TEXTURE_2D, texture);
  const auto bytes = static_cast<GLsizei>(blp::BlockBytes(format));
  Gl.CompressedTexImage2DARB(gl::TEXTURE_2D, 0, glFormat, 4, 4, 0, bytes, block);
  // 64 bytes: rows of 16 meet the default pack alignment of 4.
  std::array<std::uint8_t, 64> pixels{};
  Gl.GetTexImage(gl::TEXTURE_2D, 0, gl::RGBA, gl::UNSIGNED_BYTE, pixels.data());
  const bool ok = Gl.GetError() == gl::NO_ERROR_;
  Gl.DeleteTextures(1, &texture);
  Gl.BindTexture(gl::TEXTURE_2D, static_cast<GLuint>(bound));
  if (ok) {
    for (std::size_t i = 0; i < pixels.size(); ++i) out[i] = pixels[i];
  }
  return ok;
}

}  // namespace velmora
