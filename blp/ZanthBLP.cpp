// Uploading a BLP2 file's levels into one GL texture.
#include "blp/ZanthBLP.h"

#include <algorithm>
#include <limits>

#include "blp/Blp1Decode.h"
#include "blp/BlpDecode.h"
#include "gl/GlApi.h"

namespace velmora {

namespace {

GLenum GlFormatOf(blp::TLevelFormat format) {
  switch (format) {
    case blp::TLevelFormat::kDxt1: return gl::COMPRESSED_RGBA_S3TC_DXT1_EXT;
    case blp::TLevelFormat::kDxt3: return gl::COMPRESSED_RGBA_S3TC_DXT3_EXT;
    case blp::TLevelFormat::kDxt5: return gl::COMPRESSED_RGBA_S3TC_DXT5_EXT;
    case blp::TLevelFormat::kBgra: return gl::BGRA;
    case blp::TLevelFormat::kRgba: break;
  }
  return gl::RGBA;
}

void Upload(GLint index, blp::TLevelFormat format, const blp::TBlpLevel& level, bool compressed) {
  const auto w = static_cast<GLsizei>(level.width);
  const auto h = static_cast<GLsizei>(level.height);
  if (blp::BlockBytes(format) == 0) {
    // Uncompressed pixels are stored B, G, R, A; GL swizzles them on upload.
    Gl.TexImage2D(gl::TEXTURE_2D, index, static_cast<GLint>(gl::RGBA8), w, h, 0, GlFormatOf(format),
                  gl::UNSIGNED_BYTE, level.bytes.data());
  } else if (compressed) {
    // Only a driver limit far beyond any real GPU's could let a level outgrow GLsizei.
    if (level.bytes.size() > static_cast<std::size_t>(std::numeric_limits<GLsizei>::max())) {
      throw TAllocationError("cannot allocate " + std::to_string(level.bytes.size()) + " bytes for mip level " +
                             std::to_string(index));
    }
    Gl.CompressedTexImage2DARB(gl::TEXTURE_2D, index, GlFormatOf(format), w, h, 0,
                               static_cast<GLsizei>(level.bytes.size()), level.bytes.data());
  } else {
    // No texture compression: the library decodes the blocks for this upload.
    const std::vector<std::uint8_t> rgba = blp::DecodeDxtLevel(format, level, static_cast<int>(index));
    Gl.TexImage2D(gl::TEXTURE_2D, index, static_cast<GLint>(gl::RGBA8), w, h, 0, gl::RGBA, gl::UNSIGNED_BYTE,
                  rgba.data());
  }
}

}  // namespace

TBlpTexture::TBlpTexture(const std::string& fName) : TZanthObject(fName) { Construct(); }

TBlpTexture::TBlpTexture(const std::string& fName, MpqHandle archive, const std::string& memberName)
    : TZanthObject(fName, archive, memberName) {
  Construct();
}

void TBlpTexture::Construct() {
  if (GlApiReady()) Gl.GenTextures(1, &id);
  try {
    LoadBlp();
  } catch (...) {
    // The base destructor closes the archive file once this leaves the constructor.
    ReleaseTexture();
    throw;
  }
}

TBlpTexture::TBlpTexture(const std::string& fName, blp::TBlpSource& source) : TZanthObject(fName) {
  if (GlApiReady()) Gl.GenTextures(1, &id);
  try {
    if (GlApiReady()) LoadBlpFrom(source);
  } catch (...) {
    ReleaseTexture();
    throw;
  }
}

TBlpTexture::~TBlpTexture() { ReleaseTexture(); }

void TBlpTexture::ReleaseTexture() noexcept {
  if (!GlApiReady()) return;
  Gl.BindTexture(gl::TEXTURE_2D, 0);
  Gl.DeleteTextures(1, &id);
  id = 0;
}

int TBlpTexture::MipLevelCount(std::uint32_t w, std::uint32_t h) { return blp::MipLevelCount(w, h); }

std::uint32_t TBlpTexture::SwapBytes(std::uint32_t v) { return blp::SwapBytes(v); }

void TBlpTexture::DecompressDXT(std::uint32_t format, std::int32_t w, std::int32_t h, const void* src, void* dst) {
  switch (format) {
    case gl::COMPRESSED_RGBA_S3TC_DXT1_EXT: blp::DecompressDxt(blp::TLevelFormat::kDxt1, w, h, src, dst); break;
    case gl::COMPRESSED_RGBA_S3TC_DXT3_EXT: blp::DecompressDxt(blp::TLevelFormat::kDxt3, w, h, src, dst); break;
    case gl::COMPRESSED_RGBA_S3TC_DXT5_EXT: blp::DecompressDxt(blp::TLevelFormat::kDxt5, w, h, src, dst); break;
    default: break;
  }
}

void TBlpTexture::LoadBlp() {
  TZanthFileHandler* file = FileHandler();
  // Without a file, or without GL entry points to call, the texture stays empty.
  if (file == nullptr || !GlApiReady()) return;

  blp::TArchiveSource source(*file);
  LoadBlpFrom(source);
}

void TBlpTexture::LoadBlpFrom(blp::TBlpSource& source) {
  FHasSource = true;
  FSourceSize = source.Size();
  hdr = blp::ReadBlpHeader(source);
  // Not BLP2, or JPEG content: nothing is bound, uploaded or set.
  if (!blp::IsLoadableContent(hdr)) {
    FHeaderProblem = blp::CheckBlpHeader(hdr, source.Size(), 0);
    return;
  }

  Gl.BindTexture(gl::TEXTURE_2D, id);
  width = static_cast<std::int32_t>(hdr.width);
  height = static_cast<std::int32_t>(hdr.height);

  const bool knownEncoding = hdr.compression == blp::kPaletteEncoding || hdr.compression == blp::kDxtEncoding ||
                             hdr.compression == blp::kUncompressedEncoding;
  GLint limit = 0;
  if (knownEncoding) Gl.GetIntegerv(gl::MAX_TEXTURE_SIZE, &limit);
  FHeaderProblem = blp::CheckBlpHeader(hdr, source.Size(), static_cast<std::uint32_t>(std::max<GLint>(limit, 1)));
  if (FHeaderProblem && FHeaderProblem->kind == blp::THeaderProblemKind::kTooLarge) {
    throw TAllocationError(FHeaderProblem->message);
  }

  FLevels = blp::DecodeBlpLevels(source, hdr, {.dxtAsBlocks = true});
  UploadLevels();
}

void TBlpTexture::LoadBlp1() {
  TZanthFileHandler* file = FileHandler();
  if (file == nullptr) return;
  blp::TArchiveSource source(*file);
  LoadBlp1From(source);
}

void TBlpTexture::LoadBlp1From(blp::TBlpSource& source) {
  if (hdr.sign != blp::kBlp1Magic || FBlp1Header || !GlApiReady()) return;
  GLint limit = 0;
  Gl.GetIntegerv(gl::MAX_TEXTURE_SIZE, &limit);
  blp::TBlp1File file = blp::DecodeBlp1(source, static_cast<std::uint32_t>(std::max<GLint>(limit, 1)), {});
  FBlp1Header = file.hdr;
  FHeaderProblem = file.problem;
  if (file.problem) return;

  Gl.BindTexture(gl::TEXTURE_2D, id);
  width = static_cast<std::int32_t>(file.hdr.width);
  height = static_cast<std::int32_t>(file.hdr.height);
  FLevels = std::move(file.levels);
  FLevels.hdr = hdr;
  UploadLevels();
}

void TBlpTexture::UploadLevels() {
  // No palette, no picture: the load ends here, texture parameters included.
  if (!FLevels.complete) return;
  const bool compressed = GL_ARB_texture_compression && Gl.CompressedTexImage2DARB != nullptr;
  FDxtByLibrary = blp::BlockBytes(FLevels.format) != 0 && !compressed;
  for (std::size_t i = 0; i < FLevels.levels.size(); ++i) {
    Upload(static_cast<GLint>(i), FLevels.format, FLevels.levels[i], compressed);
  }

  // The minification filter ignores the mip levels.
  Gl.TexParameteri(gl::TEXTURE_2D, gl::TEXTURE_MIN_FILTER, static_cast<GLint>(gl::LINEAR));
  Gl.TexParameteri(gl::TEXTURE_2D, gl::TEXTURE_MAG_FILTER, static_cast<GLint>(gl::LINEAR));
  Gl.TexParameteri(gl::TEXTURE_2D, gl::TEXTURE_WRAP_S, static_cast<GLint>(gl::REPEAT));
  Gl.TexParameteri(gl::TEXTURE_2D, gl::TEXTURE_WRAP_T, static_cast<GLint>(gl::REPEAT));
}

}  // namespace velmora
