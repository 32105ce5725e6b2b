// Loading one BLP2 file into one GL texture with all its mip levels.
//
// Layout of the file: the 148-byte header, for palette images a 1024-byte palette at offset 148
// (256 entries stored B, G, R, A), then each level's bytes where offsets[i] and sizes[i] say.
// Palette levels are w x h index bytes followed by the packed alpha plane; DXT levels are 4x4
// blocks (8 bytes for DXT1, 16 for DXT3/5, partial blocks included); uncompressed levels are
// w x h pixels stored B, G, R, A.
#include "blp/ZanthBLP.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

#include "blp/PaletteExpand.h"
#include "dexaro/Dexaro.h"
#include "render/GlApi.h"

namespace velmora {

namespace {

constexpr std::uint8_t kPaletteEncoding = 1;
constexpr std::uint8_t kDxtEncoding = 2;
constexpr std::uint8_t kUncompressedEncoding = 3;
constexpr std::uint32_t kContentDirect = 1;  // tex_type 0 is JPEG content, which is not loaded
constexpr std::uint32_t kPaletteOffset = TBLP2Header::kSize;
constexpr std::uint32_t kPaletteBytes = 256 * 4;
constexpr int kMaxLevels = 16;  // entries of the offset table
// sizes[i] is 32-bit; 2^31 bytes or more is no level any writer produced and no buffer we take.
constexpr std::uint64_t kMaxLevelBytes = 0x7FFFFFFF;

std::uint64_t Pad4(std::uint64_t n) { return (n + 3) & ~std::uint64_t{3}; }
std::uint64_t BlockCount(std::uint64_t n) { return (n + 3) / 4; }

template <class T>
void Allocate(std::vector<T>& v, std::uint64_t count, const std::string& what) {
  try {
    v.assign(static_cast<std::size_t>(count), T{});
  } catch (const std::bad_alloc&) {
    throw TAllocationError("cannot allocate " + what + " (out of memory)");
  } catch (const std::length_error&) {
    throw TAllocationError("cannot allocate " + what + " (beyond the address space)");
  }
}

struct TDxtFormat {
  GLenum format;
  std::uint64_t blockBytes;
};

// DXT1 by default; alpha depth 8 or 4 means DXT3; depth 8 with alpha type 7 means DXT5.
TDxtFormat ChooseDxtFormat(const TBLP2Header& h) {
  TDxtFormat f{gl::COMPRESSED_RGBA_S3TC_DXT1_EXT, 8};
  if (h.alpha_bits == 8 || h.alpha_bits == 4) f = {gl::COMPRESSED_RGBA_S3TC_DXT3_EXT, 16};
  if (h.alpha_bits == 8 && h.alpha_type == 7) f = {gl::COMPRESSED_RGBA_S3TC_DXT5_EXT, 16};
  return f;
}

// Level 0 of w0 x h0 (zeros already taken as 1) must fit the GL size limit; every buffer of the
// load is then bounded by w0 x h0 x 4 bytes, which fits 64 bits.
void CheckTextureSize(const TBLP2Header& hdr, std::uint32_t w0, std::uint32_t h0) {
  GLint limit = 0;
  Gl.GetIntegerv(gl::MAX_TEXTURE_SIZE, &limit);
  const std::uint64_t max = static_cast<std::uint64_t>(std::max<GLint>(limit, 1));
  std::uint64_t bytes = 0;
  const bool overflow = __builtin_mul_overflow(std::uint64_t{w0}, std::uint64_t{h0}, &bytes) ||
                        __builtin_mul_overflow(bytes, std::uint64_t{4}, &bytes);
  if (overflow || w0 > max || h0 > max || bytes > std::numeric_limits<std::size_t>::max()) {
    throw TAllocationError("cannot allocate " + std::to_string(hdr.width) + " x " + std::to_string(hdr.height) +
                           " RGBA pixels (limit " + std::to_string(max) + ")");
  }
}

// Holds one level's bytes at the size its encoding needs. Bytes the file lacks (a short sizes[i],
// data running past the end of the file) stay zero, and nothing past the file is allocated.
class TLevelBuffer {
public:
  explicit TLevelBuffer(TZanthFileHandler& file) : file_(file), fileSize_(file.GetSize()) {}

  const std::uint8_t* Read(int level, std::uint32_t offset, std::uint32_t size, std::uint64_t needed) {
    if (size > kMaxLevelBytes) {
      throw TAllocationError("cannot allocate " + std::to_string(size) + " bytes for mip level " +
                             std::to_string(level) + " (limit " + std::to_string(kMaxLevelBytes) + ")");
    }
    // Levels shrink, so the first allocation serves them all.
    if (bytes_.size() < needed) Allocate(bytes_, needed, std::to_string(needed) + " bytes for mip level " + std::to_string(level));
    const std::uint64_t available = fileSize_ > offset ? fileSize_ - offset : 0;
    const auto toRead = static_cast<std::uint32_t>(std::min<std::uint64_t>({size, available, needed}));
    std::uint8_t* data = bytes_.data();
    if (toRead > 0 && !file_.GetDataByOffset(offset, toRead, data)) {
      // The archive failed inside the file: how much arrived is unknown, so none of it is used.
      std::fill_n(data, toRead, std::uint8_t{0});
    }
    std::fill(data + toRead, data + needed, std::uint8_t{0});
    return data;
  }

private:
  TZanthFileHandler& file_;
  std::uint64_t fileSize_;
  std::vector<std::uint8_t> bytes_;
};

// Steps through the levels the header lists: a 0 width or height counts as 1, and the first
// level without an offset or a size ends the chain.
template <class TUpload>
void ForEachLevel(const TBLP2Header& hdr, int levels, TUpload&& upload) {
  std::uint32_t w = hdr.width;
  std::uint32_t h = hdr.height;
  for (int i = 0; i < levels; ++i) {
    if (w == 0) w = 1;
    if (h == 0) h = 1;
    const auto idx = static_cast<std::size_t>(i);
    if (hdr.offsets[idx] == 0 || hdr.sizes[idx] == 0) break;
    upload(i, w, h);
    w >>= 1;
    h >>= 1;
  }
}

// Decodes one level into rgba, w x h pixels packed. The decoder writes only whole blocks, so it
// runs over the level padded to whole blocks (the level buffer holds every partial block) and
// the rows are then closed up; levels below 4 pixels show their own block that way, not what the
// previous level left behind.
void DecodeDxtLevel(GLenum format, std::uint32_t w, std::uint32_t h, const std::uint8_t* blocks, std::uint8_t* rgba) {
  const std::uint64_t pw = Pad4(w);
  const std::uint64_t ph = Pad4(h);
  TBlpTexture::DecompressDXT(format, static_cast<std::int32_t>(pw), static_cast<std::int32_t>(ph), blocks, rgba);
  if (pw != w) {
    const std::size_t row = std::size_t{w} * 4;
    for (std::size_t y = 1; y < h; ++y) std::memmove(rgba + y * row, rgba + y * pw * 4, row);
  }
}

}  // namespace

TBlpTexture::TBlpTexture(const std::string& fName) : TZanthObject(fName) {
  if (GlApiReady()) Gl.GenTextures(1, &id);
  try {
    LoadBlp();
  } catch (...) {
    // The base destructor closes the archive file once this leaves the constructor.
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

int TBlpTexture::MipLevelCount(std::uint32_t w, std::uint32_t h) {
  int count = 1;
  while (w > 1 || h > 1) {
    ++count;
    w = w > 1 ? w / 2 : 1;
    h = h > 1 ? h / 2 : 1;
  }
  return count;
}

std::uint32_t TBlpTexture::SwapBytes(std::uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
}

void TBlpTexture::DecompressDXT(std::uint32_t format, std::int32_t w, std::int32_t h, const void* src, void* dst) {
  switch (format) {
    case gl::COMPRESSED_RGBA_S3TC_DXT1_EXT: DDSDecompressDXT1(src, w, h, dst); break;
    case gl::COMPRESSED_RGBA_S3TC_DXT3_EXT: DDSDecompressDXT3(src, w, h, dst); break;
    case gl::COMPRESSED_RGBA_S3TC_DXT5_EXT: DDSDecompressDXT5(src, w, h, dst); break;
    default: break;
  }
}

void TBlpTexture::LoadBlp() {
  TZanthFileHandler* file = FileHandler();
  // Without a file, or without GL entry points to call, the texture stays empty.
  if (file == nullptr || !GlApiReady()) return;

  // A file shorter than the header leaves the rest of the header zero (the result is not used).
  std::array<std::uint8_t, TBLP2Header::kSize> raw{};
  file->GetHeader(raw.data(), TBLP2Header::kSize);
  hdr = TBLP2Header::Parse(raw);
  if (hdr.sign != TBLP2Header::kMagic || hdr.tex_type != kContentDirect) return;

  Gl.BindTexture(gl::TEXTURE_2D, id);
  width = static_cast<std::int32_t>(hdr.width);
  height = static_cast<std::int32_t>(hdr.height);
  const int levels = hdr.has_mips != 0 ? std::min(MipLevelCount(hdr.width, hdr.height), kMaxLevels) : 1;
  const std::uint32_t w0 = std::max<std::uint32_t>(hdr.width, 1);
  const std::uint32_t h0 = std::max<std::uint32_t>(hdr.height, 1);
  const std::uint64_t pixels0 = std::uint64_t{w0} * h0;
  const std::string pixelsText = std::to_string(hdr.width) + " x " + std::to_string(hdr.height) + " RGBA pixels";

  switch (hdr.compression) {
    case kPaletteEncoding: {
      CheckTextureSize(hdr, w0, h0);
      std::vector<std::uint32_t> pixels;
      Allocate(pixels, pixels0, pixelsText);
      std::array<std::uint8_t, kPaletteBytes> palette{};
      // No palette, no picture: the load ends here, texture parameters included.
      if (!file->GetDataByOffset(kPaletteOffset, kPaletteBytes, palette.data())) return;
      const blp::TPaletteTable table = blp::BuildPaletteTable(palette.data());
      TLevelBuffer level(*file);
      ForEachLevel(hdr, levels, [&](int i, std::uint32_t w, std::uint32_t h) {
        const std::uint64_t n = std::uint64_t{w} * h;
        const std::uint8_t* data = level.Read(i, hdr.offsets[static_cast<std::size_t>(i)],
                                              hdr.sizes[static_cast<std::size_t>(i)],
                                              blp::PaletteLevelBytes(n, hdr.alpha_bits));
        blp::ExpandPalette(table, data, static_cast<std::size_t>(n), hdr.alpha_bits, pixels.data());
        Gl.TexImage2D(gl::TEXTURE_2D, i, static_cast<GLint>(gl::RGBA8), static_cast<GLsizei>(w),
                      static_cast<GLsizei>(h), 0, gl::RGBA, gl::UNSIGNED_BYTE, pixels.data());
      });
      break;
    }
    case kDxtEncoding: {
      CheckTextureSize(hdr, w0, h0);
      const TDxtFormat f = ChooseDxtFormat(hdr);
      const bool compressed = GL_ARB_texture_compression && Gl.CompressedTexImage2DARB != nullptr;
      std::vector<std::uint8_t> rgba;
      if (!compressed) Allocate(rgba, Pad4(w0) * Pad4(h0) * 4, pixelsText);
      TLevelBuffer level(*file);
      ForEachLevel(hdr, levels, [&](int i, std::uint32_t w, std::uint32_t h) {
        const std::uint64_t needed = BlockCount(w) * BlockCount(h) * f.blockBytes;
        const std::uint8_t* data = level.Read(i, hdr.offsets[static_cast<std::size_t>(i)],
                                              hdr.sizes[static_cast<std::size_t>(i)], needed);
        if (compressed) {
          // Only a driver limit far beyond any real GPU's could let a level outgrow GLsizei.
          if (needed > static_cast<std::uint64_t>(std::numeric_limits<GLsizei>::max())) {
            throw TAllocationError("cannot allocate " + std::to_string(needed) + " bytes for mip level " + std::to_string(i));
          }
          Gl.CompressedTexImage2DARB(gl::TEXTURE_2D, i, f.format, static_cast<GLsizei>(w), static_cast<GLsizei>(h), 0,
                                     static_cast<GLsizei>(needed), data);
        } else {
          DecodeDxtLevel(f.format, w, h, data, rgba.data());
          Gl.TexImage2D(gl::TEXTURE_2D, i, static_cast<GLint>(gl::RGBA8), static_cast<GLsizei>(w),
                        static_cast<GLsizei>(h), 0, gl::RGBA, gl::UNSIGNED_BYTE, rgba.data());
        }
      });
      break;
    }
    case kUncompressedEncoding: {
      CheckTextureSize(hdr, w0, h0);
      TLevelBuffer level(*file);
      ForEachLevel(hdr, levels, [&](int i, std::uint32_t w, std::uint32_t h) {
        const std::uint8_t* data = level.Read(i, hdr.offsets[static_cast<std::size_t>(i)],
                                              hdr.sizes[static_cast<std::size_t>(i)], std::uint64_t{w} * h * 4);
        // Pixels are stored B, G, R, A; GL swizzles them on upload.
        Gl.TexImage2D(gl::TEXTURE_2D, i, static_cast<GLint>(gl::RGBA8), static_cast<GLsizei>(w),
                      static_cast<GLsizei>(h), 0, gl::BGRA, gl::UNSIGNED_BYTE, data);
      });
      break;
    }
    default:
      break;  // unknown encoding: no level, but the parameters below are still set
  }

  // The minification filter ignores the mip levels.
  Gl.TexParameteri(gl::TEXTURE_2D, gl::TEXTURE_MIN_FILTER, static_cast<GLint>(gl::LINEAR));
  Gl.TexParameteri(gl::TEXTURE_2D, gl::TEXTURE_MAG_FILTER, static_cast<GLint>(gl::LINEAR));
  Gl.TexParameteri(gl::TEXTURE_2D, gl::TEXTURE_WRAP_S, static_cast<GLint>(gl::REPEAT));
  Gl.TexParameteri(gl::TEXTURE_2D, gl::TEXTURE_WRAP_T, static_cast<GLint>(gl::REPEAT));
}

}  // namespace velmora
