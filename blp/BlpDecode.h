// BLP2 file -> mip levels in memory, with no GL: what the texture uploads, what export writes
// and what texel readouts read.
//
// Layout of the file: the 148-byte header, for palette images a 1024-byte palette at offset 148
// (256 entries stored B, G, R, A), then each level's bytes where offsets[i] and sizes[i] say.
// Palette levels are w x h index bytes followed by the packed alpha plane; DXT levels are 4x4
// blocks (8 bytes for DXT1, 16 for DXT3/5, partial blocks included); uncompressed levels are
// w x h pixels stored B, G, R, A.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "blp/BlpHeader.h"

namespace velmora {

class TZanthFileHandler;

namespace blp {

// Random access to the bytes of one file.
class TBlpSource {
public:
  virtual ~TBlpSource() = default;
  virtual std::uint64_t Size() const = 0;
  // Reads len bytes from offset 0; bytes past the end of the file are left as they were.
  virtual void ReadHeader(void* dst, std::uint32_t len) = 0;
  // Reads len bytes at offset; true when all of them were read.
  virtual bool ReadAt(std::uint32_t offset, std::uint32_t len, void* dst) = 0;
};

// A file inside an archive.
class TArchiveSource final : public TBlpSource {
public:
  explicit TArchiveSource(TZanthFileHandler& file);
  std::uint64_t Size() const override { return size_; }
  void ReadHeader(void* dst, std::uint32_t len) override;
  bool ReadAt(std::uint32_t offset, std::uint32_t len, void* dst) override;

private:
  TZanthFileHandler& file_;
  std::uint64_t size_;
};

// Bytes in memory (a file from disk, a test's file).
class TMemorySource final : public TBlpSource {
public:
  explicit TMemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::uint64_t Size() const override { return bytes_.size(); }
  void ReadHeader(void* dst, std::uint32_t len) override;
  bool ReadAt(std::uint32_t offset, std::uint32_t len, void* dst) override;

private:
  std::span<const std::uint8_t> bytes_;
};

enum class TLevelFormat {
  kRgba,  // 4 bytes per pixel: R, G, B, A (palette images, DXT decoded by Dexaro)
  kBgra,  // 4 bytes per pixel: B, G, R, A (uncompressed images, as stored)
  kDxt1,  // 4x4 blocks as stored, partial blocks included
  kDxt3,
  kDxt5,
};

// Bytes of one block for the DXT formats, 0 for the others.
std::size_t BlockBytes(TLevelFormat format);

// The DXT format of a header: DXT1 by default; alpha depth 8 or 4 means DXT3; depth 8 with alpha
// type 7 means DXT5.
TLevelFormat DxtFormatOf(const TBLP2Header& hdr);

struct TBlpLevel {
  std::uint32_t width = 0;   // a 0 in the header counts as 1
  std::uint32_t height = 0;
  std::vector<std::uint8_t> bytes;  // the level in `format`, exactly the size it needs
  // Bytes of the level the file did not hold (a short sizes[i], data past the end of the file, a
  // failed read): they are zero in `bytes`.
  std::uint64_t missingBytes = 0;
};

struct TBlpLevels {
  TBLP2Header hdr;      // as read; all zero without a header
  bool complete = false;  // every listed level was produced; false when the palette was missing
  TLevelFormat format = TLevelFormat::kRgba;
  std::vector<TBlpLevel> levels;
  // Why a level could not be decoded at all (a BLP1 level's JPEG that libjpeg refuses or whose
  // size differs from the level's), naming the level; the chain ends before it. Empty otherwise.
  std::string stopped;
};

struct TDecodeOptions {
  // DXT levels stay blocks (for a GL that takes them compressed); otherwise Dexaro decodes them
  // to RGBA, whole blocks, with each level's partial blocks included.
  bool dxtAsBlocks = true;
  // At most this many levels from level 0 are read (an export of level 0 alone needs one).
  int maxLevels = kMaxLevels;
};

// Sizes `v` to `count` zero bytes; TAllocationError("cannot allocate " + what + ...) when memory
// runs out.
void AllocateBytes(std::vector<std::uint8_t>& v, std::uint64_t count, const std::string& what);

// Level `index` of w x h: `needed` bytes, of which the first min(size, needed) come from `offset`
// in the file. Bytes the file lacks (a short size, data running past the end of the file, a
// failed read) stay zero and are counted in missingBytes.
TBlpLevel ReadLevel(TBlpSource& source, int index, std::uint32_t w, std::uint32_t h, std::uint32_t offset,
                    std::uint32_t size, std::uint64_t needed);

// Reads the header from the start of the file (a file shorter than the header leaves the rest
// zero).
TBLP2Header ReadBlpHeader(TBlpSource& source);

// Reads and converts every level the header lists, up to the first without an offset or a size.
// The header must have passed CheckBlpHeader. Throws TAllocationError when memory runs out.
TBlpLevels DecodeBlpLevels(TBlpSource& source, const TBLP2Header& hdr, const TDecodeOptions& options);

// Decodes the whole file: header, check, levels. A header that CheckBlpHeader refuses as
// kTooLarge throws TAllocationError with its message; one that is not BLP2 gives no levels and
// complete == false; an unknown encoding gives no levels and complete == true.
TBlpLevels DecodeBlp(TBlpSource& source, std::uint32_t maxTextureSize, const TDecodeOptions& options);

// Decodes the whole 4x4 blocks of a DXT1/3/5 image into w x h RGBA pixels at dst through Dexaro;
// any other format does nothing.
void DecompressDxt(TLevelFormat format, std::int32_t w, std::int32_t h, const void* src, void* dst);

// One DXT level decoded by Dexaro to width x height RGBA pixels, its partial blocks included.
std::vector<std::uint8_t> DecodeDxtLevel(TLevelFormat format, const TBlpLevel& level, int index);

// Reverses the four bytes of v.
constexpr std::uint32_t SwapBytes(std::uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
}

}  // namespace blp
}  // namespace velmora
