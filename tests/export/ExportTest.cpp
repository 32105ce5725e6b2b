// The PNG export without a window: the PNG writer (pixels, chunk CRCs, the zlib stream's Adler-32),
// pattern matching, output names that stay inside the output folder, and whole exports from real
// archives compared pixel for pixel with levels decoded independently (tests/blp/BlpReference.cpp
// by the hardware's S3TC rules): every encoding, odd sizes, every level, an overridden file,
// files that fail, cancelling, and the third-party sample files.
#include <unistd.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <QByteArray>
#include <QImage>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "BlpReference.h"
#include "archive/Zanth.h"
#include "blp/BlpExport.h"
#include "blp/PngWrite.h"
#include "support/Blp1Writer.h"
#include "support/BlpWriter.h"
#include "support/ImageCompare.h"
#include "support/MpqWriter.h"
#include "support/TestData.h"

namespace fs = std::filesystem;

namespace velmora::test {
namespace {

std::uint32_t Be32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return std::uint32_t{b[at]} << 24 | std::uint32_t{b[at + 1]} << 16 | std::uint32_t{b[at + 2]} << 8 | b[at + 3];
}

// Walks the chunks: every CRC checked with zlib's crc32, the IDAT data inflated (which checks the
// Adler-32). Returns the chunk types in order, or an error text.
std::string CheckChunks(const std::vector<std::uint8_t>& png, std::vector<std::string>& types) {
  static const std::uint8_t kSig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (png.size() < 8 || !std::equal(kSig, kSig + 8, png.begin())) return "no PNG signature";
  std::vector<std::uint8_t> idat;
  std::size_t at = 8;
  while (at + 12 <= png.size()) {
    const std::uint32_t len = Be32(png, at);
    if (at + 12 + len > png.size()) return "chunk runs past the end";
    types.emplace_back(png.begin() + static_cast<std::ptrdiff_t>(at + 4), png.begin() + static_cast<std::ptrdiff_t>(at + 8));
    const uLong crc = crc32(0L, png.data() + at + 4, 4 + len);
    if (crc != Be32(png, at + 8 + len)) return "CRC of " + types.back() + " differs";
    if (types.back() == "IDAT") idat.insert(idat.end(), png.begin() + static_cast<std::ptrdiff_t>(at + 8),
                                            png.begin() + static_cast<std::ptrdiff_t>(at + 8 + len));
    at += 12 + len;
  }
  if (at != png.size()) return "bytes after the last chunk";
  std::vector<std::uint8_t> raw(1 << 20);
  uLongf rawSize = raw.size();
  // uncompress verifies the stream's Adler-32.
  if (uncompress(raw.data(), &rawSize, idat.data(), idat.size()) != Z_OK) return "IDAT stream does not inflate";
  return {};
}

RgbaImage FromQImage(const QByteArray& bytes) {
  QImage image;
  RgbaImage out;
  if (!image.loadFromData(bytes, "PNG")) return out;
  image = image.convertToFormat(QImage::Format_RGBA8888);
  out.width = image.width();
  out.height = image.height();
  for (int y = 0; y < out.height; ++y) out.pixels.insert(out.pixels.end(), image.constScanLine(y), image.constScanLine(y) + out.width * 4);
  return out;
}

TEST(PngWriter, every_pixel_comes_back_and_every_checksum_holds) {
  std::mt19937 rng(5);
  for (const auto [w, h] : {std::pair{1, 1}, {2, 3}, {5, 1}, {17, 9}, {64, 33}, {300, 7}}) {
    SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
    RgbaImage image;
    image.width = w;
    image.height = h;
    // Random bytes, with runs of one colour and fully transparent pixels among them.
    for (int i = 0; i < w * h; ++i) {
      const std::uint32_t v = (i % 7 < 3) ? 0x11223344u : static_cast<std::uint32_t>(rng());
      for (int k = 0; k < 4; ++k) image.pixels.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
      if (i % 5 == 0) image.pixels.back() = 0;
    }
    const std::vector<std::uint8_t> png =
        blp::EncodePng(static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h), image.pixels.data());
    std::vector<std::string> types;
    EXPECT_EQ(CheckChunks(png, types), "");
    EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    EXPECT_EQ(Be32(png, 16), static_cast<std::uint32_t>(w));
    EXPECT_EQ(Be32(png, 20), static_cast<std::uint32_t>(h));
    EXPECT_EQ(png[24], 8) << "bit depth";
    EXPECT_EQ(png[25], 6) << "colour type RGBA";
    EXPECT_EQ(png[28], 0) << "interlace";
    EXPECT_TRUE(PixelsMatch(image, FromQImage(QByteArray(reinterpret_cast<const char*>(png.data()), static_cast<qsizetype>(png.size())))));

    // The checks above catch a damaged CRC and a damaged Adler-32.
    std::vector<std::uint8_t> badCrc = png;
    badCrc[png.size() - 13] ^= 1;  // last byte of the IDAT chunk's CRC
    types.clear();
    EXPECT_NE(CheckChunks(badCrc, types), "");
    std::vector<std::uint8_t> badAdler = png;
    const std::size_t adlerEnd = png.size() - 12 - 4;  // before the IDAT CRC and IEND
    badAdler[adlerEnd - 1] ^= 1;
    const uLong fixed = crc32(0L, badAdler.data() + 33 + 4, Be32(badAdler, 33) + 4);
    for (int k = 0; k < 4; ++k) badAdler[adlerEnd + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(fixed >> (24 - 8 * k));
    types.clear();
    EXPECT_EQ(CheckChunks(badAdler, types), "IDAT stream does not inflate");
  }
}

TEST(ExportPattern, star_takes_any_run_question_mark_one_character_case_ignored) {
  struct Row {
    const char* pattern;
    const char* path;
    bool match;
  };
  const Row rows[] = {
      {"*", "Textures\\Minimap\\map01.blp", true},
      {"*", "", true},
      {"TEXTURES\\MINIMAP\\*", "Textures\\Minimap\\map01.blp", true},
      {"TEXTURES\\MINIMAP\\*", "Textures\\Minimap\\Azeroth\\map01.blp", true},  // '*' crosses '\'
      {"TEXTURES\\MINIMAP\\*", "Textures\\MinimapX\\map01.blp", false},
      {"textures\\minimap\\*", "TEXTURES\\MINIMAP\\A.BLP", true},
      {"*\\map??.blp", "Textures\\Minimap\\map01.blp", true},
      {"*\\map??.blp", "Textures\\Minimap\\map1.blp", false},
      {"*\\map?.blp", "Textures\\Minimap\\map\xc3\xa9.blp", true},  // '?' is one UTF-8 character
      {"*icon*", "Interface\\Icons\\INV_Sword_01.blp", true},
      {"*.blp", "Textures\\a.blp.txt", false},
      {"a*b*c", "aXbYbZc", true},
      {"a*b*c", "aXbYcZ", false},
      {"Textures\\a.blp", "textures\\A.BLP", true},
      {"Textures/Minimap/*", "Textures\\Minimap\\map01.blp", true},  // '/' means '\'
      {"textures/minimap/map0?.blp", "TEXTURES\\MINIMAP\\MAP01.BLP", true},
      {"Textures/Minimap/*", "Textures\\MinimapX\\map01.blp", false},
      {"*/map01.blp", "Textures\\Minimap\\map01.blp", true},
      {"sl\\*", "sl/b.blp", true},  // either separator in the path
  };
  for (const Row& r : rows) {
    EXPECT_EQ(blp::MatchesExportPattern(r.pattern, r.path), r.match) << r.pattern << " on " << r.path;
  }
}

TEST(ExportBaseName, folders_from_backslashes_and_nothing_that_leaves_the_output_folder) {
  struct Row {
    const char* path;
    const char* base;  // null: refused
  };
  const Row rows[] = {
      {"Textures\\Minimap\\map01.blp", "Textures/Minimap/map01"},
      {"TEXTURES\\over.BLP", "TEXTURES/over"},
      {"a.blp", "a"},
      {"dir/sub\\x.blp", "dir/sub/x"},
      {"noext", "noext"},
      {"..\\x.blp", nullptr},
      {"a\\..\\..\\x.blp", nullptr},
      {"a\\.\\x.blp", nullptr},
      {"\\x.blp", nullptr},
      {"/etc/x.blp", nullptr},
      {"a\\\\x.blp", nullptr},
      {"a\\", nullptr},
      {"", nullptr},
  };
  for (const Row& r : rows) {
    std::string why;
    const std::optional<std::string> base = blp::ExportBaseName(r.path, &why);
    if (r.base == nullptr) {
      EXPECT_FALSE(base) << r.path << " gave " << base.value_or("");
      EXPECT_NE(why.find("unsafe output path"), std::string::npos) << why;
    } else {
      EXPECT_EQ(base.value_or("(refused: " + why + ")"), r.base) << r.path;
    }
  }
  EXPECT_EQ(blp::ExportImageName("a/b", 0), "a/b.png");
  EXPECT_EQ(blp::ExportImageName("a/b", 3), "a/b.mip3.png");
}

// Counts and keeps what an export reports; cancels once `cancelAfter` files are done.
class TRecordingEvents : public blp::TExportEvents {
public:
  void Progress(std::size_t done, std::size_t total, const std::string&) override {
    lastDone = done;
    EXPECT_LE(done, total);
  }
  void Failed(const std::string& path, const std::string& reason) override { failures[path] = reason; }
  bool Cancelled() override { return lastDone >= cancelAfter; }
  std::map<std::string, std::string> failures;
  std::size_t lastDone = 0;
  std::size_t cancelAfter = SIZE_MAX;
};

struct TSample {
  std::string path;  // in the archive
  BlpFile file;
};

// Two archives: every encoding at odd sizes with full mip chains in base.MPQ, and patch.MPQ
// overriding one of them under another spelling; a BLP1 file without its palette and a truncated
// one fail.
class ExportWorld {
public:
  ExportWorld() {
    std::uint32_t seed = 1;
    auto add = [&](const std::string& path, std::uint8_t c, std::uint8_t ab, std::uint8_t at, std::uint32_t w, std::uint32_t h) {
      samples.push_back({path, RandomBlp(c, ab, at, w, h, 1, seed++)});
    };
    add("Tex\\Palette\\alpha0.blp", 1, 0, 0, 13, 7);
    add("Tex\\Palette\\alpha1.blp", 1, 1, 0, 9, 17);
    add("Tex\\Palette\\alpha4.blp", 1, 4, 0, 33, 5);
    add("Tex\\Palette\\alpha8.blp", 1, 8, 8, 1, 1);
    add("Tex\\Dxt\\dxt1.blp", 2, 0, 0, 22, 10);
    add("Tex\\Dxt\\dxt1a.blp", 2, 1, 0, 7, 3);
    add("Tex\\Dxt\\dxt3.blp", 2, 8, 1, 13, 13);
    add("Tex\\Dxt\\dxt5.blp", 2, 8, 7, 6, 21);
    add("Tex\\Raw\\raw.blp", 3, 8, 8, 11, 4);
    overridden = RandomBlp(2, 8, 7, 8, 8, 1, 100);
    samples.push_back({"TEXTURES\\over.BLP", RandomBlp(1, 8, 8, 5, 3, 1, 101)});  // the patch's copy

    std::vector<MpqMember> base, patch;
    for (const TSample& s : samples) {
      if (s.path != "TEXTURES\\over.BLP") base.push_back({s.path, WriteBlp(s.file)});
    }
    base.push_back({"Textures\\Over.blp", WriteBlp(overridden)});
    Blp1File blp1;  // a palette BLP1 whose palette the file does not hold
    blp1.width = blp1.height = 4;
    blp1.levels = {std::string(32, '\0')};
    base.push_back({"Tex\\Bad\\blp1.blp", WriteBlp1(blp1).substr(0, 600)});
    std::string truncated = WriteBlp(RandomBlp(3, 8, 8, 16, 16, 0, 8));
    truncated.resize(truncated.size() - 100);
    base.push_back({"Tex\\Bad\\short.blp", truncated});
    base.push_back({"Tex\\readme.txt", "not a texture"});
    patch.push_back({"TEXTURES\\over.BLP", WriteBlp(samples.back().file)});
    WriteMpq(dir.path() / "base.MPQ", base, ListFileOf(base));
    WriteMpq(dir.path() / "patch.MPQ", patch, ListFileOf(patch));

    CreateArchiveIndex();
    for (const char* name : {"base.MPQ", "patch.MPQ"}) {
      TArchiveHandle h;
      EXPECT_TRUE(OpenMpqArchive((dir.path() / name).string(), h));
      MpqList->Append(std::move(h));
    }
    for (MpqHandle h : *MpqList) {
      LoadListFile(h, [this](std::string_view p) {
        if (p.size() > 4 && (p.substr(p.size() - 4) == ".blp" || p.substr(p.size() - 4) == ".BLP")) paths.emplace_back(p);
      });
    }
  }
  ~ExportWorld() { FreeArchiveIndex(); }

  std::vector<blp::TExportItem> Items() const {
    std::vector<blp::TExportItem> items;
    for (const std::string& p : paths) items.push_back({p, {}});
    return items;
  }
  fs::path Out() const { return dir.path() / "out"; }

  TempDir dir;
  std::vector<TSample> samples;
  BlpFile overridden;
  std::vector<std::string> paths;  // in listfile order, first spelling
};

// Every PNG file below `root`, relative.
std::set<std::string> Written(const fs::path& root) {
  std::set<std::string> out;
  if (!fs::exists(root)) return out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (e.is_regular_file()) out.insert(fs::relative(e.path(), root).string());
  }
  return out;
}

TEST(Export, every_level_of_every_encoding_matches_the_hardware_rules_and_the_last_archive_wins) {
  ExportWorld world;
  TRecordingEvents events;
  blp::TExportOptions options;
  options.outDir = world.Out().string();
  options.mips = true;
  options.workers = 2;
  const blp::TExportSummary summary = blp::ExportBlpFiles(world.Items(), options, events);

  EXPECT_EQ(summary.files, world.samples.size() + 2);
  EXPECT_EQ(summary.written, world.samples.size());
  EXPECT_EQ(summary.failed, 2u);
  EXPECT_FALSE(summary.cancelled);
  ASSERT_EQ(events.failures.size(), 2u);
  EXPECT_EQ(events.failures["Tex\\Bad\\blp1.blp"], "the palette (1024 bytes at offset 156) is missing");
  EXPECT_NE(events.failures["Tex\\Bad\\short.blp"].find("level 0 lacks 100 bytes"), std::string::npos)
      << events.failures["Tex\\Bad\\short.blp"];

  std::set<std::string> expectedFiles;
  std::size_t images = 0;
  for (const TSample& s : world.samples) {
    SCOPED_TRACE(s.path);
    // Spelt as the supplying archive's listfile spells it: the patch's "TEXTURES\over.BLP".
    const std::string base = *blp::ExportBaseName(s.path);
    std::uint32_t w = s.file.width, h = s.file.height;
    for (std::size_t i = 0; i < s.file.levels.size(); ++i) {
      const std::string name = blp::ExportImageName(base, i);
      expectedFiles.insert(name);
      ++images;
      const RgbaImage expected = ExpectedLevel(s.file, s.file.levels[i], std::max(w, 1u), std::max(h, 1u), DxtRules::Hardware);
      EXPECT_TRUE(PixelsMatch(expected, LoadPng(world.Out() / name))) << name;
      w >>= 1;
      h >>= 1;
    }
  }
  EXPECT_EQ(Written(world.Out()), expectedFiles) << "partial files left, or files of the overridden copy";
  EXPECT_EQ(summary.outputs, images);
}

TEST(Export, level_0_only_without_mips_and_cancelling_stops_between_files) {
  ExportWorld world;
  TRecordingEvents events;
  blp::TExportOptions options;
  options.outDir = world.Out().string();
  blp::ExportBlpFiles(world.Items(), options, events);
  for (const std::string& f : Written(world.Out())) EXPECT_EQ(f.find(".mip"), std::string::npos) << f;
  EXPECT_EQ(Written(world.Out()).size(), world.samples.size());

  TRecordingEvents cancelling;
  cancelling.cancelAfter = 3;
  options.outDir = (world.dir.path() / "cancelled").string();
  options.workers = 1;
  const blp::TExportSummary summary = blp::ExportBlpFiles(world.Items(), options, cancelling);
  EXPECT_TRUE(summary.cancelled);
  EXPECT_GE(summary.written + summary.failed, 3u);
  EXPECT_LT(summary.written + summary.failed, summary.files);
  EXPECT_EQ(Written(world.dir.path() / "cancelled").size(), summary.written);
}

// StormLib closes descriptor 0 when an archive fails to open; an archive that had been given
// that number would lose its file, and the export its files.
TEST(Export, a_failed_archive_open_leaves_the_open_archives_readable) {
  TempDir dir;
  const std::vector<MpqMember> members = {{"Tex\\a.blp", WriteBlp(RandomBlp(1, 8, 8, 4, 4, 0, 3))}};
  WriteMpq(dir.path() / "a.MPQ", members, ListFileOf(members));
  const int saved = ::dup(0);
  ::close(0);  // the next file opened would take 0
  CreateArchiveIndex();
  TArchiveHandle archive;
  ASSERT_TRUE(OpenMpqArchive((dir.path() / "a.MPQ").string(), archive));
  const MpqHandle h = archive.Get();
  MpqList->Append(std::move(archive));
  TArchiveHandle none;
  EXPECT_FALSE(OpenMpqArchive((dir.path() / "absent.MPQ").string(), none));
  std::vector<blp::TExportItem> items;
  LoadListFile(h, [&items](std::string_view p) { items.push_back({std::string(p), {}}); });
  TRecordingEvents events;
  blp::TExportOptions options;
  options.outDir = (dir.path() / "out").string();
  const blp::TExportSummary summary = blp::ExportBlpFiles(items, options, events);
  FreeArchiveIndex();
  if (saved >= 0) {
    ::dup2(saved, 0);
    ::close(saved);
  }
  ASSERT_EQ(items.size(), 1u) << "the listfile could not be read";
  EXPECT_EQ(summary.written, 1u) << (events.failures.empty() ? "" : events.failures.begin()->second);
}

// The sample files from other sources: palette and uncompressed files equal the images that came
// with them; DXT files, whose images follow another decoder's rounding, equal the reference.
TEST(Export, real_files_match_their_images) {
  VELMORA_REQUIRE_REALDATA();
  const fs::path dir = RealDataDir() / "blp";
  TempDir out;
  std::vector<blp::TExportItem> items;
  for (const auto& e : fs::directory_iterator(dir)) {
    if (e.path().extension() == ".blp") items.push_back({"real\\" + e.path().filename().string(), e.path().string()});
  }
  ASSERT_FALSE(items.empty());
  TRecordingEvents events;
  blp::TExportOptions options;
  options.outDir = out.path().string();
  blp::ExportBlpFiles(items, options, events);
  std::size_t compared = 0;
  for (const blp::TExportItem& item : items) {
    const fs::path blpPath = item.diskPath;
    const fs::path expectedPng = dir / (blpPath.stem().string() + ".expected.png");
    if (!fs::exists(expectedPng)) continue;
    SCOPED_TRACE(blpPath.filename().string());
    std::ifstream in(blpPath, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    const std::string bytes = ss.str();
    const RgbaImage got = LoadPng(out.path() / "real" / (blpPath.stem().string() + ".png"));
    if (static_cast<std::uint8_t>(bytes[8]) != 2) {
      EXPECT_TRUE(PixelsMatch(LoadPng(expectedPng), got));
    } else {
      BlpFile f;
      f.compression = 2;
      f.alphaBits = static_cast<std::uint8_t>(bytes[9]);
      f.alphaType = static_cast<std::uint8_t>(bytes[10]);
      const std::uint32_t w = GetLe32(bytes, blpfield::kWidth), h = GetLe32(bytes, blpfield::kHeight);
      const std::uint32_t offset = GetLe32(bytes, blpfield::kOffsets), size = GetLe32(bytes, blpfield::kSizes);
      EXPECT_TRUE(PixelsMatch(ExpectedLevel(f, bytes.substr(offset, size), w, h, DxtRules::Hardware), got));
    }
    ++compared;
  }
  EXPECT_GE(compared, 8u);
}

}  // namespace
}  // namespace velmora::test
