// The program binary itself, run without a display: --help, --version, usage errors, and the
// headless export from a game install under Wine, from a game folder named with --game, from an
// archive list named with --list, from archives (maps included) and BLP files named as arguments;
// the exit status, what goes to stdout and stderr, and the files written.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "BlpReference.h"
#include "ProgramRun.h"
#include "archive/Zanth.h"
#include "blp/BlpExport.h"
#include "support/Blp1Writer.h"
#include "support/BlpWriter.h"
#include "support/JpegReference.h"
#include "support/JpegTools.h"
#include "support/ImageCompare.h"
#include "support/MpqWriter.h"
#include "support/TestData.h"

namespace fs = std::filesystem;

namespace velmora::test {
namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(CommandLine, help_version_and_usage_errors_answer_without_a_display) {
  TempDir dir;
  std::ofstream(dir.path() / "list.txt") << "Data\\common.MPQ\n";
  std::ofstream(dir.path() / "notes.txt") << "x";
  const TRun help = RunProgram({"--help"}, dir.path(), "/nonexistent");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: VelmoraGL", 0), 0u) << help.out;
  for (const char* option : {"--game DIR", "--list FILE", "--export PATTERN...", "--out DIR", "--format FORMAT", "--mips",
                             "--overwrite", "--from ARCHIVE", "--version"}) {
    EXPECT_TRUE(Contains(help.out, option)) << option;
  }
  EXPECT_EQ(help.err, "");
  const TRun version = RunProgram({"--version"}, dir.path(), "/nonexistent");
  EXPECT_EQ(version.status, 0);
  // The version, then the archive reader's protections (SandboxRunTest checks the words).
  EXPECT_EQ(version.out.rfind("VelmoraGL " VELMORA_VERSION "\nArchive reader sandbox: ", 0), 0u) << version.out;

  struct Row {
    std::vector<std::string> args;
    std::string message;
  };
  const Row rows[] = {
      {{"--bogus"}, "Unknown option 'bogus'."},
      {{"--game"}, "Missing value after '--game'."},
      {{"notes.txt"}, "'notes.txt' is neither an archive (.mpq, .w3x, .w3m) nor a texture (.blp)"},
      {{"absent.mpq"}, "cannot open 'absent.mpq': No such file or directory"},
      {{"--list", "absent.txt"}, "cannot read 'absent.txt': No such file or directory"},
      {{"--export", "--out", "x"}, "--export needs at least one PATTERN"},
      {{"--export", "*"}, "--export needs --out DIR"},
      {{"--out", "x"}, "--out, --format, --mips and --overwrite go with --export"},
      {{"--mips", "--list", "list.txt"}, "--out, --format, --mips and --overwrite go with --export"},
      {{"--format", "dds"}, "--out, --format, --mips and --overwrite go with --export"},
      {{"--overwrite"}, "--out, --format, --mips and --overwrite go with --export"},
      {{"--from", "patch.MPQ"}, "--from goes with --export"},
      {{"--export", "*", "--out", "x", "--from"}, "Missing value after '--from'."},
      {{"--export", "*", "--out", "x", "--format", "tga"}, "--format takes png, dds or raw, not 'tga'"},
      {{"--export", "*", "--out", "x", "--format"}, "Missing value after '--format'."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args.front());
    const TRun r = RunProgram(row.args, dir.path(), "/nonexistent");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "VelmoraGL: " + row.message + "\nTry 'VelmoraGL --help' for more information.\n");
  }
  EXPECT_FALSE(fs::exists(dir.path() / "x")) << "a usage error wrote files";
}

// A game under Wine at C:\Games\WoW with archives in the client's layout. map01 exists in three
// versions: common.MPQ's, patch.MPQ's, and patch-4.MPQ's, a further patch that comes last.
class TGame {
public:
  TGame() {
    prefix = tmp.path() / "prefix";
    game = prefix / "drive_c/Games/WoW";
    work = tmp.path() / "work";
    fs::create_directories(game / "Data/enUS");
    fs::create_directories(prefix / "dosdevices");
    fs::create_directory_symlink("../drive_c", prefix / "dosdevices/c:");
    fs::create_directories(work);
    std::ofstream(prefix / "system.reg") << "WINE REGISTRY Version 2\n\n"
                                            "[Software\\\\Blizzard Entertainment\\\\World of Warcraft] 1700000000\n"
                                            "\"InstallPath\"=\"C:\\\\Games\\\\WoW\\\\\"\n";
    Archive("Data/common.MPQ", {{"Textures\\Minimap\\map01.blp", Blp(1)}, {"Textures\\Minimap\\map02.blp", Blp(2)},
                                {"Interface\\Icons\\icon.blp", Blp(3)}, {"readme.txt", "text"}});
    Archive("Data/patch.MPQ", {{"Textures\\Minimap\\map01.blp", Blp(4)}});
    Archive("Data/patch-4.MPQ", {{"textures\\minimap\\MAP01.blp", Blp(5)}});
    Archive("Data/enUS/locale-enUS.MPQ", {{"Interface\\Glues\\logo.blp", Blp(6)}});
    // A BLP1 file whose shared JPEG header would be larger than the file.
    Blp1File bad;
    bad.compression = 0;
    bad.width = bad.height = 4;
    bad.levels = {"level"};
    std::string badBytes = WriteBlp1(bad);
    PutLe32(badBytes, blp1field::kJpegHeaderSize, 0xFFFFFFFFu);
    Archive("Data/enUS/patch-enUS-4.MPQ", {{"Interface\\Glues\\old.blp", badBytes}});
  }

  // The file of version `v`: an 8 x 8 palette texture with mips.
  static BlpFile File(int v) { return RandomBlp(1, 8, 8, 8, 8, 1, static_cast<std::uint32_t>(v)); }
  static std::string Blp(int v) { return WriteBlp(File(v)); }
  void Archive(const std::string& rel, const std::vector<MpqMember>& members) const {
    WriteMpq(game / rel, members, ListFileOf(members));
  }
  // The PNG files below work/out, relative.
  std::set<std::string> Written() const {
    std::set<std::string> out;
    if (!fs::exists(work / "out")) return out;
    for (const auto& e : fs::recursive_directory_iterator(work / "out")) {
      if (e.is_regular_file()) out.insert(fs::relative(e.path(), work / "out").string());
    }
    return out;
  }
  // Whether out/<name> shows level `level` of version `v`.
  ::testing::AssertionResult Shows(const std::string& name, int v, std::size_t level = 0) const {
    const BlpFile f = File(v);
    const std::uint32_t size = std::max(8u >> level, 1u);
    return PixelsMatch(ExpectedLevel(f, f.levels[level], size, size, DxtRules::Hardware), LoadPng(work / "out" / name));
  }

  TempDir tmp;
  fs::path prefix, game, work;
};

TEST(CommandLine, headless_export_loads_like_the_window_and_writes_the_matching_files) {
  struct Row {
    const char* name;
    std::function<std::vector<std::string>(const TGame&)> args;
    bool registry;
    int status;
    std::set<std::string> files;
    int map01;                // the version map01 shows; 0: not written
    std::string errContains;  // in stderr ("" for an empty stderr)
  };
  const Row rows[] = {
      {"no_list_loads_the_client_order_further_patches_last",
       [](const TGame&) { return std::vector<std::string>{"--export", "*", "--out", "out"}; }, true, 1,
       // patch-4.MPQ spells the path its own way.
       {"textures/minimap/MAP01.png", "Textures/Minimap/map02.png", "Interface/Icons/icon.png", "Interface/Glues/logo.png"},
       0, "VelmoraGL: Interface\\Glues\\old.blp: cannot allocate 4294967295 bytes for the shared JPEG header"},
      {"list_file_and_one_folder",
       [](const TGame& g) {
         std::ofstream(g.work / "mine.txt") << "Data\\common.MPQ\r\nData\\patch.MPQ\r\n";
         return std::vector<std::string>{"--list", "mine.txt", "--export", "TEXTURES\\MINIMAP\\*", "--out", "out"};
       },
       true, 0, {"Textures/Minimap/map01.png", "Textures/Minimap/map02.png"}, 4, ""},
      {"game_dir_without_registry",
       [](const TGame& g) {
         std::ofstream(g.work / "mpqToLoad.txt") << "Data\\common.MPQ\n";
         return std::vector<std::string>{"--game", g.game.string(), "--export", "*icon*", "*MAP02*", "--out", "out"};
       },
       false, 0, {"Interface/Icons/icon.png", "Textures/Minimap/map02.png"}, 0, ""},
      {"archives_named_in_order_the_last_wins",
       [](const TGame& g) {
         return std::vector<std::string>{(g.game / "Data/patch-4.MPQ").string(), (g.game / "Data/patch.MPQ").string(),
                                         "--export", "*", "--out", "out"};
       },
       false, 0, {"Textures/Minimap/map01.png"}, 4, ""},
      {"blp_file_on_disk_under_its_folder_name",
       [](const TGame& g) {
         fs::create_directories(g.work / "loose");
         std::ofstream(g.work / "loose/Mine.blp", std::ios::binary) << TGame::Blp(1);
         return std::vector<std::string>{"loose/Mine.blp", "--export", "*", "--out", "out"};
       },
       true, 0, {"loose/Mine.png"}, 0, ""},
      {"mips_as_name_mipN",
       [](const TGame& g) {
         std::ofstream(g.work / "mpqToLoad.txt") << "Data\\common.MPQ\n";
         return std::vector<std::string>{"--export", "*map01*", "--out", "out", "--mips"};
       },
       true, 0,
       {"Textures/Minimap/map01.png", "Textures/Minimap/map01.mip1.png", "Textures/Minimap/map01.mip2.png",
        "Textures/Minimap/map01.mip3.png"},
       1, ""},
      {"no_registry_key_says_where_it_looked",
       [](const TGame&) { return std::vector<std::string>{"--export", "*", "--out", "out"}; }, false, 1, {}, 0,
       "system.reg"},
      {"two_spellings_of_one_output_file_the_first_in_path_order_wins",
       [](const TGame& g) {
         g.Archive("Data/odd.MPQ", {{"sl\\b.blp", TGame::Blp(2)}, {"sl/b.blp", TGame::Blp(1)}});
         return std::vector<std::string>{(g.game / "Data/odd.MPQ").string(), "--export", "sl*", "--out", "out"};
       },
       false, 1, {"sl/b.png"}, 0, "VelmoraGL: sl\\b.blp: same output file as sl/b.blp\n"},
      {"names_with_control_characters_reach_stderr_escaped",
       [](const TGame& g) {
         std::string truncated = TGame::Blp(1);
         truncated.resize(148 + 1024 + 100);  // into level 0
         g.Archive("Data/odd.MPQ", {{"Bad\x1b]0;title\x07\x1b[2J.blp", truncated}});
         return std::vector<std::string>{(g.game / "Data/odd.MPQ").string(), "--export", "*", "--out", "out"};
       },
       false, 1, {}, 0, "VelmoraGL: Bad\\x1B]0;title\\x07\\x1B[2J.blp: level "},
      {"raw_takes_every_file_a_pattern_matches_and_slash_means_backslash",
       [](const TGame& g) {
         std::ofstream(g.work / "mpqToLoad.txt") << "Data\\common.MPQ\n";
         return std::vector<std::string>{"--export", "readme*", "Interface/Icons/*", "--format", "raw", "--out", "out"};
       },
       true, 0, {"readme.txt", "Interface/Icons/icon.blp"}, 0, ""},
      {"dds_one_file_per_texture",
       [](const TGame& g) {
         std::ofstream(g.work / "mpqToLoad.txt") << "Data\\common.MPQ\n";
         return std::vector<std::string>{"--export", "Textures/*/map02.blp", "--format", "dds", "--out", "out", "--mips"};
       },
       true, 0, {"Textures/Minimap/map02.dds"}, 0, ""},
      {"nothing_matches",
       [](const TGame&) { return std::vector<std::string>{"--export", "*.tga", "--out", "out"}; }, true, 1, {}, 0,
       "VelmoraGL: no BLP file matches '*.tga'\n"},
      {"from_a_file_name_exports_that_archives_version_of_what_it_holds",
       [](const TGame&) { return std::vector<std::string>{"--export", "*", "--out", "out", "--from", "PATCH.mpq"}; },
       true, 0, {"Textures/Minimap/map01.png"}, 4, ""},
      {"from_a_path_as_listed_exports_the_overridden_version",
       [](const TGame& g) {
         std::ofstream(g.work / "mpqToLoad.txt") << "Data\\common.MPQ\r\nData\\patch.MPQ\r\n";
         return std::vector<std::string>{"--export", "*map0*", "--out", "out", "--from", "Data/common.MPQ"};
       },
       true, 0, {"Textures/Minimap/map01.png", "Textures/Minimap/map02.png"}, 1, ""},
      {"from_an_archive_named_on_the_command_line_takes_its_spelling",
       [](const TGame& g) {
         return std::vector<std::string>{(g.game / "Data/patch-4.MPQ").string(), (g.game / "Data/patch.MPQ").string(),
                                         "--export", "*", "--out", "out", "--from",
                                         (g.game / "Data/patch-4.MPQ").string()};
       },
       false, 0, {"textures/minimap/MAP01.png"}, 0, ""},
      {"from_an_archive_not_opened_names_those_that_are",
       [](const TGame& g) {
         std::ofstream(g.work / "mpqToLoad.txt") << "Data\\common.MPQ\r\nData\\patch.MPQ\r\n";
         return std::vector<std::string>{"--export", "*", "--out", "out", "--from", "patch-9.MPQ"};
       },
       true, 1, {}, 0,
       "VelmoraGL: --from patch-9.MPQ: no archive opened has that name (opened: Data\\common.MPQ, Data\\patch.MPQ)\n"},
      {"from_an_archive_that_holds_no_match_says_so",
       [](const TGame&) {
         return std::vector<std::string>{"--export", "*icon*", "--out", "out", "--from", "patch.MPQ"};
       },
       true, 1, {}, 0, "VelmoraGL: no BLP file matches '*icon*' in Data\\patch.MPQ\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TGame g;
    const TRun r = RunProgram(row.args(g), g.work, row.registry ? g.prefix.string() : (g.tmp.path() / "absent").string());
    EXPECT_EQ(r.status, row.status) << r.err;
    EXPECT_EQ(r.out, "");
    if (row.errContains.empty()) {
      // Without a terminal the summary is the only line.
      EXPECT_EQ(r.err, std::to_string(row.files.size()) + " files written, 0 failed, 0 skipped (already there) in out\n");
    } else {
      EXPECT_TRUE(Contains(r.err, row.errContains)) << r.err;
    }
    EXPECT_EQ(g.Written(), row.files);
    if (row.map01 != 0) EXPECT_TRUE(g.Shows("Textures/Minimap/map01.png", row.map01));
    if (row.files.count("textures/minimap/MAP01.png")) EXPECT_TRUE(g.Shows("textures/minimap/MAP01.png", 5));
    if (row.files.count("Textures/Minimap/map01.mip3.png")) EXPECT_TRUE(g.Shows("Textures/Minimap/map01.mip3.png", 1, 3));
    if (row.files.count("loose/Mine.png")) EXPECT_TRUE(g.Shows("loose/Mine.png", 1));
    if (row.files.count("sl/b.png")) EXPECT_TRUE(g.Shows("sl/b.png", 1));
    if (row.files.count("readme.txt")) EXPECT_EQ(ReadText(g.work / "out/readme.txt"), "text");
    if (row.files.count("Interface/Icons/icon.blp")) {
      EXPECT_TRUE(ReadText(g.work / "out/Interface/Icons/icon.blp") == TGame::Blp(3)) << "raw bytes differ";
    }
    if (row.files.count("Textures/Minimap/map02.dds")) {
      EXPECT_EQ(ReadText(g.work / "out/Textures/Minimap/map02.dds").substr(0, 4), "DDS ");
    }
    EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << "a raw ESC reached the terminal";
  }
}


// Smooth B, G, R, A samples for a JPEG level, and the pixels they stand for.
std::vector<std::uint8_t> BgraSamples(std::uint32_t w, std::uint32_t h) {
  std::vector<std::uint8_t> s;
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::uint32_t x = 0; x < w; ++x) {
      s.insert(s.end(), {static_cast<std::uint8_t>(40 + 10 * x), static_cast<std::uint8_t>(200 - 8 * y),
                         static_cast<std::uint8_t>(120), static_cast<std::uint8_t>(90 + 5 * x)});
    }
  }
  return s;
}

RgbaImage FromBgra(const std::vector<std::uint8_t>& s, std::uint32_t w, std::uint32_t h, bool alpha) {
  RgbaImage img{static_cast<int>(w), static_cast<int>(h), {}};
  for (std::size_t p = 0; p + 4 <= s.size(); p += 4) img.pixels.insert(img.pixels.end(), {s[p + 2], s[p + 1], s[p], alpha ? s[p + 3] : std::uint8_t{255}});
  return img;
}

TEST(CommandLine, maps_open_like_archives_and_their_blp1_textures_export) {
  TempDir dir;
  fs::create_directories(dir.path() / "maps");
  // A palette BLP1 with 4-bit alpha and its mip chain, and a JPEG one after a shared header.
  const BlpFile palette = RandomBlp(1, 4, 8, 9, 5, 1, 23);
  Blp1File pal;
  pal.alphaBits = 4;
  pal.width = 9;
  pal.height = 5;
  pal.palette = palette.palette;
  pal.levels = palette.levels;
  const std::string jpeg = EncodeJpeg({16, 8, 4, false, false, 100, std::string(300, 'c')}, BgraSamples(16, 8));
  Blp1File jpg;
  jpg.compression = 0;
  jpg.width = 16;
  jpg.height = 8;
  jpg.pictureSubtype = 0;
  jpg.jpegHeader = jpeg.substr(0, FrameHeaderOffset(jpeg));
  jpg.levels = {jpeg.substr(jpg.jpegHeader.size())};
  const std::vector<MpqMember> members = {{"war3mapMap.blp", WriteBlp1(jpg)}, {"Textures\\Pal.blp", WriteBlp1(pal)}};
  // Letters of the extension in either case.
  WriteMpq(dir.path() / "maps/Made.W3M", members, ListFileOf(members));

  const TRun r = RunProgram({"maps/Made.W3M", "--export", "*", "--out", "out", "--mips"}, dir.path(), "/nonexistent");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "5 files written, 0 failed, 0 skipped (already there) in out\n");
  const fs::path out = dir.path() / "out";
  EXPECT_TRUE(PixelsMatch(FromBgra(BgraSamples(16, 8), 16, 8, true), LoadPng(out / "war3mapMap.png"), 4));
  for (std::size_t i = 0; i < palette.levels.size(); ++i) {
    const std::uint32_t w = std::max(9u >> i, 1u), h = std::max(5u >> i, 1u);
    EXPECT_TRUE(PixelsMatch(ExpectedLevel(palette, palette.levels[i], w, h, DxtRules::Hardware),
                            LoadPng(out / "Textures" / blp::ExportImageName("Pal", i))))
        << "level " << i;
  }
}

TEST(CommandLine, the_real_map_texture_exports_as_another_jpeg_decoder_reads_it) {
  VELMORA_REQUIRE_REALDATA();
  const fs::path map = RealDataDir() / "mpq/normalMap.w3x";
  TempDir dir;
  const TRun r = RunProgram({map.string(), "--export", "*.blp", "--out", "out"}, dir.path(), "/nonexistent");
  EXPECT_EQ(r.status, 0) << r.err;
  const RgbaImage exported = LoadPng(dir.path() / "out/war3mapMap.png");
  ASSERT_EQ(exported.width, 256);

  // The reference: the level's JPEG (shared header and level bytes) read by ImageMagick.
  CreateArchiveIndex();
  TArchiveHandle archive;
  ASSERT_TRUE(OpenMpqArchive(map.string(), archive));
  const MpqHandle h = archive.Get();
  MpqList->Append(std::move(archive));
  ASSERT_TRUE(LoadListFile(h, nullptr));
  std::string bytes;
  {
    TZanthObject object("war3mapMap.blp");
    ASSERT_NE(object.FileHandler(), nullptr);
    bytes.resize(object.FileHandler()->GetSize());
    ASSERT_TRUE(object.FileHandler()->GetDataByOffset(0, static_cast<std::uint32_t>(bytes.size()), bytes.data()));
  }
  FreeArchiveIndex();
  const std::string level = bytes.substr(blp1field::kJpegHeader, GetLe32(bytes, blp1field::kJpegHeaderSize)) +
                            bytes.substr(GetLe32(bytes, blp1field::kOffsets), GetLe32(bytes, blp1field::kSizes));
  std::string why;
  const std::vector<std::uint8_t> samples = ReferenceJpegSamples(level, 4, why);
  ASSERT_FALSE(samples.empty()) << why;
  EXPECT_TRUE(PixelsMatch(FromBgra(samples, 256, 256, false), exported, 2));
}
}  // namespace
}  // namespace velmora::test
