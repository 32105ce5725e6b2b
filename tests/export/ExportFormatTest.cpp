// The export's formats, read back by readers written here from the formats' documentation: DDS
// files (the 124-byte header, DXT blocks and the mip chain byte for byte against the BLP's
// levels, uncompressed pixels against the exact RGBA levels), raw files byte for byte against
// the archive's, PNG's colour type (RGB for a texture without alpha), and files already there
// left alone unless overwriting is asked for.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "ArchiveWorld.h"
#include "BlpReference.h"
#include "support/BlpWriter.h"
#include "blp/BlpDecode.h"
#include "blp/DdsWrite.h"
#include "support/ImageCompare.h"

namespace fs = std::filesystem;

namespace velmora::test {
namespace {

std::uint32_t Le32(const std::string& b, std::size_t at) {
  return std::uint32_t{static_cast<unsigned char>(b[at])} | std::uint32_t{static_cast<unsigned char>(b[at + 1])} << 8 |
         std::uint32_t{static_cast<unsigned char>(b[at + 2])} << 16 |
         std::uint32_t{static_cast<unsigned char>(b[at + 3])} << 24;
}

// A DDS file as the DirectDraw Surface documentation lays it out: "DDS ", DDS_HEADER (124 bytes,
// DDS_PIXELFORMAT at its byte 72), then the surfaces, largest first.
struct TDds {
  std::uint32_t size = 0, flags = 0, height = 0, width = 0, pitchOrLinearSize = 0, depth = 0, mipMapCount = 0;
  std::uint32_t pfSize = 0, pfFlags = 0, fourCc = 0, rgbBitCount = 0, rMask = 0, gMask = 0, bMask = 0, aMask = 0;
  std::uint32_t caps = 0, caps2 = 0;
  std::vector<std::string> levels;
  std::string error;  // what does not follow the layout
};

constexpr std::uint32_t kFourCcDxt1 = 0x31545844, kFourCcDxt3 = 0x33545844, kFourCcDxt5 = 0x35545844;

TDds ParseDds(const std::string& b) {
  TDds d;
  if (b.size() < 128 || b.compare(0, 4, "DDS ") != 0) {
    d.error = "no magic or no header";
    return d;
  }
  d.size = Le32(b, 4);
  d.flags = Le32(b, 8);
  d.height = Le32(b, 12);
  d.width = Le32(b, 16);
  d.pitchOrLinearSize = Le32(b, 20);
  d.depth = Le32(b, 24);
  d.mipMapCount = Le32(b, 28);
  d.pfSize = Le32(b, 76);
  d.pfFlags = Le32(b, 80);
  d.fourCc = Le32(b, 84);
  d.rgbBitCount = Le32(b, 88);
  d.rMask = Le32(b, 92);
  d.gMask = Le32(b, 96);
  d.bMask = Le32(b, 100);
  d.aMask = Le32(b, 104);
  d.caps = Le32(b, 108);
  d.caps2 = Le32(b, 112);
  const std::uint32_t count = (d.flags & 0x20000) ? d.mipMapCount : 1;
  std::size_t at = 128;
  std::uint64_t w = d.width, h = d.height;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint64_t bytes = 0;
    if (d.pfFlags & 0x4) {
      bytes = ((w + 3) / 4) * ((h + 3) / 4) * (d.fourCc == kFourCcDxt1 ? 8 : 16);
    } else {
      bytes = w * h * d.rgbBitCount / 8;
    }
    if (b.size() - at < bytes) {
      d.error = "level " + std::to_string(i) + " runs past the end";
      return d;
    }
    d.levels.push_back(b.substr(at, bytes));
    at += bytes;
    w = std::max<std::uint64_t>(w / 2, 1);
    h = std::max<std::uint64_t>(h / 2, 1);
  }
  if (at != b.size()) d.error = std::to_string(b.size() - at) + " bytes after the last level";
  return d;
}

// An uncompressed DDS level through its masks: each pixel one little-endian DWORD.
RgbaImage MaskedPixels(const TDds& d, const std::string& level, std::uint32_t w, std::uint32_t h) {
  auto channel = [](std::uint32_t v, std::uint32_t mask) {
    if (mask == 0) return 255u;
    return (v & mask) >> std::countr_zero(mask);
  };
  RgbaImage img;
  img.width = static_cast<int>(w);
  img.height = static_cast<int>(h);
  for (std::size_t p = 0; p + 4 <= level.size(); p += 4) {
    const std::uint32_t v = Le32(level, p);
    for (const std::uint32_t mask : {d.rMask, d.gMask, d.bMask, d.aMask}) img.pixels.push_back(static_cast<std::uint8_t>(channel(v, mask)));
  }
  return img;
}

TEST(ExportDds, header_blocks_mip_chain_and_pixels_read_back_as_documented) {
  struct Row {
    const char* name;
    std::uint8_t compression, alphaBits, alphaType;
    std::uint32_t w, h;
    std::uint8_t hasMips;
    std::size_t keepLevels;     // levels left in the file (0: all); a missing level ends the chain
    std::uint32_t fourCc;       // 0: uncompressed
  };
  const Row rows[] = {
      {"dxt1_keeps_its_blocks_and_every_level_byte_for_byte", 2, 0, 0, 22, 10, 1, 0, kFourCcDxt1},
      {"dxt1_with_alpha_bit_stays_dxt1", 2, 1, 0, 7, 3, 1, 0, kFourCcDxt1},
      {"dxt3_keeps_its_blocks", 2, 8, 1, 13, 13, 1, 0, kFourCcDxt3},
      {"dxt5_keeps_its_blocks", 2, 8, 7, 6, 21, 1, 0, kFourCcDxt5},
      {"single_level_has_no_mipmap_caps", 2, 8, 7, 8, 8, 0, 0, kFourCcDxt5},
      {"missing_level_ends_the_chain_and_the_count_says_so", 2, 0, 0, 16, 16, 1, 2, kFourCcDxt1},
      {"palette_becomes_bgra_with_a8r8g8b8_masks", 1, 8, 8, 9, 17, 1, 0, 0},
      {"palette_alpha_4_pixels_exact", 1, 4, 0, 33, 5, 1, 0, 0},
      {"palette_alpha_1_pixels_exact", 1, 1, 0, 5, 9, 1, 0, 0},
      {"uncompressed_pixels_as_stored", 3, 8, 8, 11, 4, 1, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    BlpFile file = RandomBlp(row.compression, row.alphaBits, row.alphaType, row.w, row.h, row.hasMips, 40);
    if (row.keepLevels > 0) file.levels.resize(row.keepLevels);
    TArchives world({{{"Tex\\t.blp", WriteBlp(file)}}});
    TKeepFailures events;
    blp::TExportOptions options;
    options.outDir = world.Out().string();
    options.format = blp::TExportFormat::kDds;
    const blp::TExportSummary summary = blp::ExportBlpFiles(world.items, options, events);
    ASSERT_EQ(summary.outputs, 1u) << (events.failures.empty() ? "" : events.failures.begin()->second);

    const TDds dds = ParseDds(ReadAll(world.Out() / "Tex/t.dds"));
    ASSERT_EQ(dds.error, "");
    const bool compressed = row.fourCc != 0;
    const std::size_t levels = file.levels.size();
    EXPECT_EQ(dds.size, 124u);
    EXPECT_EQ(dds.flags & 0x1007u, 0x1007u) << "caps, height, width, pixel format";
    EXPECT_EQ(dds.flags & 0x20000u, 0x20000u) << "mipmap count";
    EXPECT_EQ(dds.flags & 0x80008u, compressed ? 0x80000u : 0x8u) << "linear size or pitch";
    EXPECT_EQ(dds.width, row.w);
    EXPECT_EQ(dds.height, row.h);
    EXPECT_EQ(dds.pitchOrLinearSize, compressed ? file.levels[0].size() : row.w * 4);
    EXPECT_EQ(dds.mipMapCount, levels);
    EXPECT_EQ(dds.pfSize, 32u);
    if (compressed) {
      EXPECT_EQ(dds.pfFlags, 0x4u);
      EXPECT_EQ(dds.fourCc, row.fourCc);
    } else {
      EXPECT_EQ(dds.pfFlags, 0x41u) << "RGB with alpha";
      EXPECT_EQ(dds.rgbBitCount, 32u);
      EXPECT_EQ(dds.rMask, 0x00FF0000u);
      EXPECT_EQ(dds.gMask, 0x0000FF00u);
      EXPECT_EQ(dds.bMask, 0x000000FFu);
      EXPECT_EQ(dds.aMask, 0xFF000000u);
    }
    EXPECT_EQ(dds.caps, levels > 1 ? 0x401008u : 0x1000u) << "texture, and complex and mipmap for a chain";
    EXPECT_EQ(dds.caps2, 0u);
    ASSERT_EQ(dds.levels.size(), levels);
    std::uint32_t w = row.w, h = row.h;
    for (std::size_t i = 0; i < levels; ++i) {
      SCOPED_TRACE("level " + std::to_string(i));
      if (compressed) {
        EXPECT_TRUE(dds.levels[i] == file.levels[i]) << "blocks differ";
      } else {
        EXPECT_TRUE(PixelsMatch(ExpectedLevel(file, file.levels[i], w, h, DxtRules::Hardware),
                                MaskedPixels(dds, dds.levels[i], w, h)));
      }
      w = std::max(w / 2, 1u);
      h = std::max(h / 2, 1u);
    }
  }
}

TEST(ExportRaw, files_come_out_byte_for_byte_at_their_archive_path) {
  std::string table = std::string("WDBC\0\0\0\x01", 8);
  for (int i = 0; i < 300; ++i) table.push_back(static_cast<char>(i * 7));
  const std::string texture = WriteBlp(RandomBlp(2, 8, 7, 12, 8, 1, 3));
  // Files beyond what a run of small files reads at once (256 KiB) and beyond one trip (8 MiB)
  // come between small ones and are read on their own.
  auto sized = [](std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 31 + i / 4099);
    return s;
  };
  struct Row {
    const char* name;
    const char* path;
    const char* file;
    std::string bytes;
  };
  const Row rows[] = {
      {"blp_as_stored_not_converted", "Textures\\Minimap\\X.blp", "Textures/Minimap/X.blp", texture},
      {"table_with_nul_bytes", "DBFilesClient\\Spell.dbc", "DBFilesClient/Spell.dbc", table},
      {"empty_file_stays_empty", "Interface\\empty.lua", "Interface/empty.lua", ""},
      {"larger_than_a_run_reads", "Sound\\a.wav", "Sound/a.wav", sized(300u << 10)},
      {"small_after_a_large_one", "Sound\\b.txt", "Sound/b.txt", "b"},
      {"larger_than_one_trip", "Sound\\c.wav", "Sound/c.wav", sized((8u << 20) + 5000)},
      {"small_after_the_largest", "Sound\\d.txt", "Sound/d.txt", "d"},
  };
  std::vector<MpqMember> members;
  for (const Row& r : rows) members.push_back({r.path, r.bytes});
  TArchives world({members});
  TKeepFailures events;
  blp::TExportOptions options;
  options.outDir = world.Out().string();
  options.format = blp::TExportFormat::kRaw;
  const blp::TExportSummary summary = blp::ExportBlpFiles(world.items, options, events);
  EXPECT_EQ(summary.outputs, std::size(rows));
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(events.failures.count(r.path), 0u) << events.failures[r.path];
    ASSERT_TRUE(fs::is_regular_file(world.Out() / r.file));
    EXPECT_TRUE(ReadAll(world.Out() / r.file) == r.bytes) << "bytes differ";
  }
}

// A DXT texture's DDS file made from its blocks where they lie in the file is byte for byte the
// one made from its decoded levels; where a level is not whole in the file there is none, and
// the decoded levels say what is missing.
TEST(ExportDds, blocks_in_place_give_the_file_the_decoded_levels_give) {
  struct Row {
    const char* name;
    std::uint8_t alphaBits, alphaType;
    std::uint32_t w, h;
    std::uint8_t hasMips;
    std::size_t padding;  // bytes after level 1's blocks that its size counts
    std::size_t cut;      // bytes cut off the end of the file
  };
  const Row rows[] = {
      {"dxt1_chain", 0, 0, 22, 10, 1, 0, 0},
      {"dxt5_one_texel_wide", 8, 7, 1, 37, 1, 0, 0},
      {"dxt3_single_level", 8, 1, 64, 4, 0, 0, 0},
      {"level_size_larger_than_its_blocks", 0, 0, 16, 16, 1, 24, 0},
      {"file_cut_in_the_last_level", 8, 7, 16, 8, 1, 0, 3},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    BlpFile file = RandomBlp(2, row.alphaBits, row.alphaType, row.w, row.h, row.hasMips, 11);
    if (row.padding > 0) file.levels[1].append(row.padding, '\x5A');
    std::string bytes = WriteBlp(file);
    bytes.resize(bytes.size() - row.cut);
    const std::span<const std::uint8_t> span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    blp::TMemorySource source(span);
    const TBLP2Header hdr = blp::ReadBlpHeader(source);
    const blp::TBlpLevels levels = blp::DecodeBlpLevels(source, hdr, {.dxtAsBlocks = true, .maxLevels = blp::kMaxLevels});
    const bool whole = std::all_of(levels.levels.begin(), levels.levels.end(),
                                   [](const blp::TBlpLevel& l) { return l.missingBytes == 0; });
    const std::optional<blp::TDdsPieces> pieces = blp::DxtDdsPieces(hdr, span);
    ASSERT_EQ(pieces.has_value(), whole);
    if (!pieces) continue;
    std::vector<std::uint8_t> joined(pieces->header.begin(), pieces->header.end());
    for (const std::span<const std::uint8_t> level : pieces->levels) joined.insert(joined.end(), level.begin(), level.end());
    const std::vector<std::uint8_t> encoded = blp::EncodeDds(levels, levels.levels.size());
    ASSERT_EQ(joined.size(), encoded.size());
    const auto differ = std::mismatch(joined.begin(), joined.end(), encoded.begin());
    EXPECT_TRUE(differ.first == joined.end()) << "first difference at byte " << (differ.first - joined.begin());
  }
}

// Files of two archives that take turns in the list, as in a folder a patch overrides in part:
// each archive's files are still read many to a trip, and every file comes out whole; one
// already there is left alone.
TEST(ExportRaw, files_of_archives_that_take_turns_come_out_whole_in_few_trips) {
  std::vector<MpqMember> base;
  std::vector<MpqMember> patch;
  std::vector<blp::TExportItem> items;
  auto file = [](int i) { return "Mix\\f" + std::to_string(i) + ".dat"; };
  auto bytes = [](int i) { return std::string(static_cast<std::size_t>(50 + i), static_cast<char>('a' + i % 26)); };
  for (int i = 0; i < 400; ++i) {
    (i % 3 == 0 ? patch : base).push_back({file(i), bytes(i)});
    items.push_back({file(i), {}, {}});
  }
  TArchives world({base, patch});
  fs::create_directories(world.Out() / "Mix");
  std::ofstream(world.Out() / "Mix" / "f7.dat") << "mine";
  TKeepFailures events;
  blp::TExportOptions options;
  options.outDir = world.Out().string();
  options.format = blp::TExportFormat::kRaw;
  const std::uint32_t tripsBefore = TArchiveReader::Instance().Requests();
  const blp::TExportSummary summary = blp::ExportBlpFiles(items, options, events);
  const std::uint32_t trips = TArchiveReader::Instance().Requests() - tripsBefore;
  EXPECT_EQ(summary.outputs, 399u);
  EXPECT_EQ(summary.skipped, 1u);
  EXPECT_TRUE(events.failures.empty()) << events.failures.begin()->first << ": " << events.failures.begin()->second;
  EXPECT_LT(trips, 40u) << "a trip for every turn of the archives";
  EXPECT_EQ(ReadAll(world.Out() / "Mix" / "f7.dat"), "mine");
  for (int i = 0; i < 400; ++i) {
    if (i == 7) continue;
    const fs::path out = world.Out() / "Mix" / ("f" + std::to_string(i) + ".dat");
    ASSERT_EQ(ReadAll(out), bytes(i)) << out;
  }
}

// DXT blocks: 4-colour mode (c0 > c1), or 3-colour mode (c0 <= c1) with index 3 in the first
// texel, which is transparent black.
std::string Dxt1Blocks(std::size_t count, bool transparentTexel) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) {
    const bool three = transparentTexel && i == 0;
    out += three ? std::string("\x1F\x00\x00\xF8", 4) : std::string("\x00\xF8\x1F\x00", 4);
    out += three ? std::string("\x03\x24\x49\x92", 4) : std::string("\xE4\x1B\xE4\x1B", 4);
  }
  return out;
}

TEST(ExportPng, textures_without_alpha_are_rgb_and_any_alpha_below_255_keeps_rgba) {
  struct Row {
    const char* name;
    std::function<BlpFile()> make;
    int colourType;
  };
  const Row rows[] = {
      {"palette_alpha_depth_0", [] { return RandomBlp(1, 0, 0, 9, 5, 0, 1); }, 2},
      {"dxt1_without_transparent_texel",
       [] {
         BlpFile f = RandomBlp(2, 0, 0, 8, 8, 0, 2);
         f.levels[0] = Dxt1Blocks(4, false);
         return f;
       },
       2},
      {"dxt5_every_alpha_255",
       [] {
         BlpFile f = RandomBlp(2, 8, 7, 4, 4, 0, 3);
         f.levels[0] = std::string("\xFF\xFF\0\0\0\0\0\0", 8) + Dxt1Blocks(1, false);
         return f;
       },
       2},
      {"uncompressed_every_alpha_255",
       [] {
         BlpFile f = RandomBlp(3, 8, 8, 5, 3, 0, 4);
         for (std::size_t i = 3; i < f.levels[0].size(); i += 4) f.levels[0][i] = '\xFF';
         return f;
       },
       2},
      {"dxt1_with_one_transparent_texel",
       [] {
         BlpFile f = RandomBlp(2, 1, 0, 8, 8, 0, 5);
         f.levels[0] = Dxt1Blocks(4, true);
         return f;
       },
       6},
      {"palette_alpha_8_one_texel_254",
       [] {
         BlpFile f = RandomBlp(1, 8, 8, 4, 4, 0, 6);
         for (std::size_t i = 16; i < 32; ++i) f.levels[0][i] = '\xFF';
         f.levels[0][20] = '\xFE';
         return f;
       },
       6},
      {"uncompressed_one_alpha_0", [] {
         BlpFile f = RandomBlp(3, 8, 8, 5, 3, 0, 7);
         for (std::size_t i = 3; i < f.levels[0].size(); i += 4) f.levels[0][i] = '\xFF';
         f.levels[0][7] = '\0';
         return f;
       },
       6},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const BlpFile file = row.make();
    TArchives world({{{"t.blp", WriteBlp(file)}}});
    TKeepFailures events;
    blp::TExportOptions options;
    options.outDir = world.Out().string();
    blp::ExportBlpFiles(world.items, options, events);
    const std::string png = ReadAll(world.Out() / "t.png");
    ASSERT_GT(png.size(), 26u) << (events.failures.empty() ? "no file" : events.failures.begin()->second);
    EXPECT_EQ(png.compare(12, 4, "IHDR"), 0);
    EXPECT_EQ(static_cast<int>(png[25]), row.colourType) << "colour type";
    EXPECT_TRUE(PixelsMatch(ExpectedLevel(file, file.levels[0], file.width, file.height, DxtRules::Hardware),
                            LoadPng(world.Out() / "t.png")));
  }
}

TEST(ExportExisting, files_already_there_are_skipped_and_counted_unless_overwrite_is_asked) {
  struct Row {
    const char* name;
    blp::TExportFormat format;
    bool mips;
    const char* changed;  // an output file replaced by other bytes before the second run
    const char* removed;  // one removed before it
    std::size_t files;    // output files of a full run
  };
  const Row rows[] = {
      {"png", blp::TExportFormat::kPng, false, "a.png", "b.png", 2},
      {"png_with_mips_per_level", blp::TExportFormat::kPng, true, "a.mip1.png", "a.mip2.png", 4},
      {"dds", blp::TExportFormat::kDds, false, "a.dds", "b.dds", 2},
      {"raw", blp::TExportFormat::kRaw, false, "a.blp", "b.blp", 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    // a has three levels (4 x 4 with mips), b one.
    TArchives world({{{"a.blp", WriteBlp(RandomBlp(1, 8, 8, 4, 4, 1, 1))}, {"b.blp", WriteBlp(RandomBlp(2, 8, 7, 4, 4, 0, 2))}}});
    TKeepFailures events;
    blp::TExportOptions options;
    options.outDir = world.Out().string();
    options.format = row.format;
    options.mips = row.mips;
    const blp::TExportSummary first = blp::ExportBlpFiles(world.items, options, events);
    EXPECT_EQ(first.outputs, row.files);
    const std::string good = ReadAll(world.Out() / row.changed);
    std::ofstream(world.Out() / row.changed, std::ios::trunc) << "old";
    fs::remove(world.Out() / row.removed);

    const blp::TExportSummary kept = blp::ExportBlpFiles(world.items, options, events);
    EXPECT_EQ(kept.outputs, 1u) << "only the removed file is made again";
    EXPECT_EQ(kept.skipped, row.files - 1);
    EXPECT_EQ(kept.failed, 0u);
    EXPECT_EQ(ReadAll(world.Out() / row.changed), "old") << "a file already there was overwritten";
    EXPECT_TRUE(fs::exists(world.Out() / row.removed));

    options.overwrite = true;
    const blp::TExportSummary replaced = blp::ExportBlpFiles(world.items, options, events);
    EXPECT_EQ(replaced.outputs, row.files);
    EXPECT_EQ(replaced.skipped, 0u);
    EXPECT_TRUE(ReadAll(world.Out() / row.changed) == good) << "--overwrite left the old file";
    EXPECT_TRUE(events.failures.empty());
  }
}

}  // namespace
}  // namespace velmora::test
