// Reading a BLP2 file's levels into memory: palette expanded to RGBA, DXT kept as blocks or
// decoded by Dexaro, uncompressed kept as B, G, R, A.
#include "blp/BlpDecode.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

#include "archive/Zanth.h"
#include "blp/BlpErrors.h"
#include "blp/LevelChain.h"
#include "blp/PaletteExpand.h"
#include "dexaro/Dexaro.h"

namespace velmora::blp {

namespace {

constexpr std::uint32_t kPaletteOffset = TBLP2Header::kSize;
constexpr std::uint32_t kPaletteBytes = 256 * 4;

std::uint64_t Pad4(std::uint64_t n) { return (n + 3) & ~std::uint64_t{3}; }
std::uint64_t BlockCount(std::uint64_t n) { return (n + 3) / 4; }

}  // namespace

void AllocateBytes(std::vector<std::uint8_t>& v, std::uint64_t count, const std::string& what) {
  try {
    v.assign(static_cast<std::size_t>(count), std::uint8_t{0});
  } catch (const std::bad_alloc&) {
    throw TAllocationError("cannot allocate " + what + " (out of memory)");
  } catch (const std::length_error&) {
    throw TAllocationError("cannot allocate " + what + " (beyond the address space)");
  }
}

TBlpLevel ReadLevel(TBlpSource& source, int index, std::uint32_t w, std::uint32_t h, std::uint32_t offset,
                    std::uint32_t size, std::uint64_t needed) {
  TBlpLevel level;
  level.width = w;
  level.height = h;
  AllocateBytes(level.bytes, needed, std::to_string(needed) + " bytes for mip level " + std::to_string(index));
  const std::uint64_t fileSize = source.Size();
  const std::uint64_t available = fileSize > offset ? fileSize - offset : 0;
  const auto toRead = static_cast<std::uint32_t>(std::min<std::uint64_t>({size, available, needed}));
  std::uint64_t got = toRead;
  if (toRead > 0 && !source.ReadAt(offset, toRead, level.bytes.data())) {
    // The archive failed inside the file: how much arrived is unknown, so none of it is used.
    std::fill_n(level.bytes.data(), toRead, std::uint8_t{0});
    got = 0;
  }
  level.missingBytes = needed - got;
  return level;
}

TArchiveSource::TArchiveSource(TZanthFileHandler& file) : file_(file), size_(file.GetSize()) {}

void TArchiveSource::ReadHeader(void* dst, std::uint32_t len) { file_.GetHeader(dst, len); }

bool TArchiveSource::ReadAt(std::uint32_t offset, std::uint32_t len, void* dst) {
  return file_.GetDataByOffset(offset, len, dst);
}

void TMemorySource::ReadHeader(void* dst, std::uint32_t len) {
  std::memcpy(dst, bytes_.data(), std::min<std::size_t>(len, bytes_.size()));
}

bool TMemorySource::ReadAt(std::uint32_t offset, std::uint32_t len, void* dst) {
  if (offset > bytes_.size()) return len == 0;
  const std::size_t n = std::min<std::size_t>(len, bytes_.size() - offset);
  if (n > 0) std::memcpy(dst, bytes_.data() + offset, n);
  return n == len;
}

std::size_t BlockBytes(TLevelFormat format) {
  switch (format) {
    case TLevelFormat::kDxt1: return 8;
    case TLevelFormat::kDxt3:
    case TLevelFormat::kDxt5: return 16;
    default: return 0;
  }
}

TLevelFormat DxtFormatOf(const TBLP2Header& hdr) {
  TLevelFormat f = TLevelFormat::kDxt1;
  if (hdr.alpha_bits == 8 || hdr.alpha_bits == 4) f = TLevelFormat::kDxt3;
  if (hdr.alpha_bits == 8 && hdr.alpha_type == 7) f = TLevelFormat::kDxt5;
  return f;
}

void DecompressDxt(TLevelFormat format, std::int32_t w, std::int32_t h, const void* src, void* dst) {
  switch (format) {
    case TLevelFormat::kDxt1: DDSDecompressDXT1(src, w, h, dst); break;
    case TLevelFormat::kDxt3: DDSDecompressDXT3(src, w, h, dst); break;
    case TLevelFormat::kDxt5: DDSDecompressDXT5(src, w, h, dst); break;
    default: break;
  }
}

// Decodes one level's blocks to w x h RGBA pixels. The decoder writes only whole blocks, so it
// runs over the level padded to whole blocks (the level holds every partial block) and the rows
// are then closed up; levels below 4 pixels show their own block that way.
std::vector<std::uint8_t> DecodeDxtLevel(TLevelFormat format, const TBlpLevel& level, int index) {
  const std::uint32_t w = level.width;
  const std::uint32_t h = level.height;
  const std::uint8_t* blocks = level.bytes.data();
  const std::uint64_t pw = Pad4(w);
  const std::uint64_t ph = Pad4(h);
  std::vector<std::uint8_t> rgba;
  AllocateBytes(rgba, pw * ph * 4, std::to_string(pw) + " x " + std::to_string(ph) + " RGBA pixels for mip level " +
                                  std::to_string(index));
  DecompressDxt(format, static_cast<std::int32_t>(pw), static_cast<std::int32_t>(ph), blocks, rgba.data());
  if (pw != w) {
    const std::size_t row = std::size_t{w} * 4;
    for (std::size_t y = 1; y < h; ++y) std::memmove(rgba.data() + y * row, rgba.data() + y * pw * 4, row);
  }
  rgba.resize(std::size_t{w} * h * 4);
  return rgba;
}

TBLP2Header ReadBlpHeader(TBlpSource& source) {
  std::array<std::uint8_t, TBLP2Header::kSize> raw{};
  source.ReadHeader(raw.data(), TBLP2Header::kSize);
  return TBLP2Header::Parse(raw);
}

TBlpLevels DecodeBlpLevels(TBlpSource& source, const TBLP2Header& hdr, const TDecodeOptions& options) {
  TBlpLevels out;
  out.hdr = hdr;
  const int last = options.maxLevels;
  switch (hdr.compression) {
    case kPaletteEncoding: {
      out.format = TLevelFormat::kRgba;
      // No palette, no picture: nothing is produced, and the load counts as stopped.
      std::array<std::uint8_t, kPaletteBytes> palette{};
      if (!source.ReadAt(kPaletteOffset, kPaletteBytes, palette.data())) return out;
      const TPaletteTable table = BuildPaletteTable(palette.data());
      ForEachListedLevel(hdr, last, [&](int i, std::uint32_t w, std::uint32_t h, std::uint32_t offset, std::uint32_t size) {
        const std::uint64_t n = std::uint64_t{w} * h;
        TBlpLevel level = ReadLevel(source, i, w, h, offset, size, PaletteLevelBytes(n, hdr.alpha_bits));
        std::vector<std::uint8_t> rgba;
        AllocateBytes(rgba, n * 4, std::to_string(w) + " x " + std::to_string(h) + " RGBA pixels for mip level " + std::to_string(i));
        ExpandPalette(table, level.bytes.data(), static_cast<std::size_t>(n), hdr.alpha_bits, rgba.data());
        level.bytes = std::move(rgba);
        out.levels.push_back(std::move(level));
      });
      break;
    }
    case kDxtEncoding: {
      const TLevelFormat dxt = DxtFormatOf(hdr);
      out.format = options.dxtAsBlocks ? dxt : TLevelFormat::kRgba;
      ForEachListedLevel(hdr, last, [&](int i, std::uint32_t w, std::uint32_t h, std::uint32_t offset, std::uint32_t size) {
        const std::uint64_t needed = BlockCount(w) * BlockCount(h) * BlockBytes(dxt);
        TBlpLevel level = ReadLevel(source, i, w, h, offset, size, needed);
        if (!options.dxtAsBlocks) level.bytes = DecodeDxtLevel(dxt, level, i);
        out.levels.push_back(std::move(level));
      });
      break;
    }
    case kUncompressedEncoding:
      out.format = TLevelFormat::kBgra;
      ForEachListedLevel(hdr, last, [&](int i, std::uint32_t w, std::uint32_t h, std::uint32_t offset, std::uint32_t size) {
        out.levels.push_back(ReadLevel(source, i, w, h, offset, size, std::uint64_t{w} * h * 4));
      });
      break;
    default:
      break;  // unknown encoding: no level
  }
  out.complete = true;
  return out;
}

TBlpLevels DecodeBlp(TBlpSource& source, std::uint32_t maxTextureSize, const TDecodeOptions& options) {
  const TBLP2Header hdr = ReadBlpHeader(source);
  if (const auto problem = CheckBlpHeader(hdr, source.Size(), maxTextureSize)) {
    if (problem->kind == THeaderProblemKind::kTooLarge) throw TAllocationError(problem->message);
    TBlpLevels none;
    none.hdr = hdr;
    none.complete = problem->kind == THeaderProblemKind::kUnknownEncoding;
    return none;
  }
  return DecodeBlpLevels(source, hdr, options);
}

}  // namespace velmora::blp
