// Reading a BLP1 file's levels into memory as RGBA: palette levels expanded with their alpha
// plane, JPEG levels decoded by libjpeg with the components as stored.
#include "blp/Blp1Decode.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "blp/JpegDecode.h"
#include "blp/LevelChain.h"
#include "blp/PaletteExpand.h"

namespace velmora::blp {

namespace {

constexpr std::uint32_t kPaletteBytes = 256 * 4;

std::string PixelsText(std::uint32_t w, std::uint32_t h, int index) {
  return std::to_string(w) + " x " + std::to_string(h) + " RGBA pixels for mip level " + std::to_string(index);
}

void DecodePaletteLevels(TBlpSource& source, const TBLP1Header& hdr, int last, TBlpLevels& out) {
  std::array<std::uint8_t, kPaletteBytes> palette{};
  if (!source.ReadAt(kBlp1PaletteOffset, kPaletteBytes, palette.data())) return;
  const TPaletteTable table = BuildPaletteTable(palette.data());
  const std::uint8_t alphaBits = PaletteAlphaBits(hdr);
  ForEachListedLevel(hdr, last, [&](int i, std::uint32_t w, std::uint32_t h, std::uint32_t offset, std::uint32_t size) {
    const std::uint64_t n = std::uint64_t{w} * h;
    TBlpLevel level = ReadLevel(source, i, w, h, offset, size, PaletteLevelBytes(n, alphaBits));
    std::vector<std::uint8_t> rgba;
    AllocateBytes(rgba, n * 4, PixelsText(w, h, i));
    ExpandPalette(table, level.bytes.data(), static_cast<std::size_t>(n), alphaBits, rgba.data());
    level.bytes = std::move(rgba);
    out.levels.push_back(std::move(level));
    return true;
  });
  out.complete = true;
}

void DecodeJpegLevels(TBlpSource& source, const TBLP1Header& hdr, int last, TBlpLevels& out) {
  const std::uint64_t fileSize = source.Size();
  const std::uint32_t shared = hdr.jpeg_header_size;
  std::vector<std::uint8_t> header;
  AllocateBytes(header, shared, std::to_string(shared) + " bytes for the shared JPEG header");
  if (shared > 0 && !source.ReadAt(kBlp1JpegHeaderOffset, shared, header.data())) {
    out.stopped = "the shared JPEG header (" + std::to_string(shared) + " bytes at offset " +
                  std::to_string(kBlp1JpegHeaderOffset) + ") cannot be read";
    out.complete = true;
    return;
  }
  TJpegLevelRequest request;
  request.alpha = hdr.alpha_bits != 0;
  request.memoryLimit = LoadAllowance(fileSize);
  request.maxScans = kMaxJpegScans;
  std::vector<std::uint8_t> stream;
  ForEachListedLevel(hdr, last, [&](int i, std::uint32_t w, std::uint32_t h, std::uint32_t offset, std::uint32_t size) {
    TBlpLevel level;
    level.width = w;
    level.height = h;
    AllocateBytes(level.bytes, std::uint64_t{w} * h * 4, PixelsText(w, h, i));
    // Each level's stream is the shared header followed by what the file holds of the level.
    const std::uint64_t available = fileSize > offset ? fileSize - offset : 0;
    auto got = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, available));
    AllocateBytes(stream, std::uint64_t{shared} + got, std::to_string(shared + std::uint64_t{got}) +
                                                          " bytes for the JPEG of mip level " + std::to_string(i));
    if (got > 0 && !source.ReadAt(offset, got, stream.data() + shared)) got = 0;
    level.missingBytes = size - got;
    if (got == 0) {
      // No byte of the level: nothing to decode, and the level stays black like a missing one.
      out.levels.push_back(std::move(level));
      return true;
    }
    std::copy(header.begin(), header.end(), stream.begin());
    request.width = w;
    request.height = h;
    const std::string why = DecodeJpegLevel(std::span(stream.data(), std::size_t{shared} + got), request,
                                            level.bytes.data());
    if (!why.empty()) {
      out.stopped = "level " + std::to_string(i) + ": " + why;
      return false;
    }
    out.levels.push_back(std::move(level));
    return true;
  });
  out.complete = true;
}

}  // namespace

TBLP1Header ReadBlp1Header(TBlpSource& source) {
  std::array<std::uint8_t, TBLP1Header::kReadSize> raw{};
  source.ReadHeader(raw.data(), TBLP1Header::kReadSize);
  return TBLP1Header::Parse(raw);
}

TBlpLevels DecodeBlp1Levels(TBlpSource& source, const TBLP1Header& hdr, const TDecodeOptions& options) {
  TBlpLevels out;
  out.format = TLevelFormat::kRgba;
  if (hdr.compression == kBlp1Palette) DecodePaletteLevels(source, hdr, options.maxLevels, out);
  if (hdr.compression == kBlp1Jpeg) DecodeJpegLevels(source, hdr, options.maxLevels, out);
  return out;
}

TBlp1File DecodeBlp1(TBlpSource& source, std::uint32_t maxTextureSize, const TDecodeOptions& options) {
  TBlp1File file;
  file.hdr = ReadBlp1Header(source);
  file.problem = CheckBlp1Header(file.hdr, source.Size(), maxTextureSize);
  if (!file.problem) file.levels = DecodeBlp1Levels(source, file.hdr, options);
  return file;
}

bool DecodeBlp1ForExport(TBlpSource& source, std::uint32_t maxTextureSize, int maxLevels, TBlpLevels& levels,
                         std::string& why) {
  TBlp1File file = DecodeBlp1(source, maxTextureSize, {.dxtAsBlocks = true, .maxLevels = maxLevels});
  if (file.problem) {
    why = file.problem->message;
    return false;
  }
  if (!file.levels.complete) {
    why = "the palette (1024 bytes at offset " + std::to_string(kBlp1PaletteOffset) + ") is missing";
    return false;
  }
  if (!file.levels.stopped.empty()) {
    why = file.levels.stopped;
    return false;
  }
  if (file.levels.levels.empty()) {
    why = "no level 0: offsets[0] " + std::to_string(file.hdr.offsets[0]) + ", sizes[0] " +
          std::to_string(file.hdr.sizes[0]);
    return false;
  }
  levels = std::move(file.levels);
  return true;
}

}  // namespace velmora::blp
