// velmora_demo: writes a demo game install for the viewer, laid out as under Wine:
//   <out>/prefix/system.reg                     64-bit prefix, the game's key under Wow6432Node
//   <out>/prefix/dosdevices/c: -> ../drive_c
//   <out>/prefix/drive_c/Program Files (x86)/World of Warcraft/Data/...MPQ   16 archives
//   <out>/work/mpqToLoad.txt                    the archives in loading order
//   <out>/work/shader -> <shader dir>           when a shader folder is given
// The archives hold BLP textures of every encoding, a 2048 x 2048 one, non-square ones, a
// texture that a later archive overrides, and some thousands of other paths. Deterministic:
// every run writes the same bytes. The whole tree is written beside <out> and renamed into
// place at the end, so an interrupted run leaves no half demo behind.
#include "archive/Storm.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "BlpEncode.h"
#include "Pictures.h"

namespace fs = std::filesystem;
using namespace velmora::demo;

namespace {

struct TMember {
  std::string name;  // archive path, backslash-separated
  std::string data;
};

struct TArchive {
  std::string line;  // its line in mpqToLoad.txt, relative to the installation directory
  std::vector<TMember> members;
};

constexpr const char* kInstallDir = "Program Files (x86)/World of Warcraft";

void WriteArchive(const fs::path& path, const std::vector<TMember>& members) {
  fs::create_directories(path.parent_path());
  HANDLE mpq = nullptr;
  const auto maxFiles = static_cast<DWORD>(members.size() + 8);
  if (!SFileCreateArchive(path.c_str(), MPQ_CREATE_LISTFILE | MPQ_CREATE_ARCHIVE_V1, maxFiles, &mpq)) {
    throw std::runtime_error("cannot create " + path.string() + ": error " + std::to_string(GetLastError()));
  }
  for (const TMember& m : members) {
    HANDLE file = nullptr;
    const auto size = static_cast<DWORD>(m.data.size());
    if (!SFileCreateFile(mpq, m.name.c_str(), 0, size, 0, MPQ_FILE_COMPRESS | MPQ_FILE_REPLACEEXISTING, &file) ||
        !SFileWriteFile(file, m.data.data(), size, MPQ_COMPRESSION_ZLIB) || !SFileFinishFile(file)) {
      const auto err = GetLastError();
      SFileCloseArchive(mpq);
      throw std::runtime_error("cannot add " + m.name + " to " + path.string() + ": error " + std::to_string(err));
    }
  }
  if (!SFileCloseArchive(mpq)) throw std::runtime_error("cannot finish " + path.string());
}

std::string Two(int v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

// A small texture for one of the many ordinary paths: 16 x 16 or 32 x 32 with mips, palette or
// DXT1, picture chosen by the path.
std::string SmallTexture(const std::string& path) {
  std::uint32_t h = 2166136261u;  // FNV-1a over the path
  for (char c : path) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
  const int size = (h & 1) ? 32 : 16;
  const TImage img = MakePicture(static_cast<TPicture>(Mix(h) % kPictureKinds), size, size, h);
  return (h & 2) ? EncodeBlp2(img, TBlpEncoding::Dxt1, 0, true) : EncodeBlp2(img, TBlpEncoding::Palette, 0, true);
}

void AddTexture(TArchive& a, const std::string& path) { a.members.push_back({path, SmallTexture(path)}); }

// Other files: never shown in the tree, but part of every archive's file list.
void AddOther(TArchive& a, const std::string& path) { a.members.push_back({path, "demo data for " + path}); }

void AddMinimap(TArchive& a, const std::string& map) {
  for (int y = 24; y < 40; ++y)
    for (int x = 24; x < 40; ++x) AddTexture(a, "Textures\\Minimap\\" + map + "\\map" + Two(x) + "_" + Two(y) + ".blp");
}

void AddWorld(TArchive& a, const std::string& continent, const std::vector<std::string>& zones, int perFolder) {
  static const char* kSubs[] = {"Buildings", "Trees", "Rocks", "Terrain"};
  for (const std::string& zone : zones) {
    for (const char* sub : kSubs) {
      const std::string dir = "World\\" + continent + "\\" + zone + "\\" + sub + "\\";
      for (int i = 0; i < perFolder; ++i) AddTexture(a, dir + zone + sub + "_" + Two(i) + ".blp");
      AddOther(a, dir + zone + sub + ".m2");
      AddOther(a, dir + zone + sub + ".wmo");
    }
  }
}

std::vector<std::string> CreatureNames(int first, int count) {
  static const char* kA[] = {"Gar", "Mor", "Thal", "Vex", "Kra", "Zul", "Bro", "Fen", "Dra", "Sil"};
  static const char* kB[] = {"gorn", "wyrm", "lash", "fang", "hide", "claw", "maw", "tusk", "wing", "scale"};
  std::vector<std::string> names;
  for (int i = first; i < first + count; ++i) names.push_back(std::string(kA[i % 10]) + kB[(i / 10) % 10]);
  return names;
}

void AddCreatures(TArchive& a, int first, int count) {
  for (const std::string& n : CreatureNames(first, count)) {
    for (int k = 1; k <= 3; ++k) AddTexture(a, "Creature\\" + n + "\\" + n + "Skin0" + std::to_string(k) + ".blp");
    AddOther(a, "Creature\\" + n + "\\" + n + ".m2");
  }
}

// The showcase: one texture per encoding, made from pictures that show what the encoding does.
void AddShowcase(TArchive& a) {
  const std::string dir = "Textures\\Showcase\\";
  struct TShow {
    const char* name;
    TPicture picture;
    int w, h;
    TBlpEncoding encoding;
    int alphaBits;
  };
  static const TShow kShows[] = {
      {"Palette_Alpha0_Plasma.blp", TPicture::Plasma, 256, 256, TBlpEncoding::Palette, 0},
      {"Palette_Alpha1_Tiles.blp", TPicture::Tiles, 256, 256, TBlpEncoding::Palette, 1},
      {"Palette_Alpha4_Stripes.blp", TPicture::Stripes, 256, 256, TBlpEncoding::Palette, 4},
      {"Palette_Alpha8_Spot.blp", TPicture::Spot, 256, 256, TBlpEncoding::Palette, 8},
      {"Dxt1_Opaque_Rings.blp", TPicture::Rings, 256, 256, TBlpEncoding::Dxt1, 0},
      {"Dxt1_Alpha1_Tiles.blp", TPicture::Tiles, 256, 256, TBlpEncoding::Dxt1, 1},
      {"Dxt3_Gradient.blp", TPicture::Gradient, 256, 256, TBlpEncoding::Dxt3, 8},
      {"Dxt5_Spot_512x256.blp", TPicture::Spot, 512, 256, TBlpEncoding::Dxt5, 8},
      {"Uncompressed_Rings.blp", TPicture::Rings, 256, 256, TBlpEncoding::Uncompressed, 8},
      {"Wide_Dxt3_Stripes_1024x128.blp", TPicture::Stripes, 1024, 128, TBlpEncoding::Dxt3, 8},
      {"Tall_Palette_Gradient_64x512.blp", TPicture::Gradient, 64, 512, TBlpEncoding::Palette, 8},
      {"Wide_Palette_Plasma_256x64.blp", TPicture::Plasma, 256, 64, TBlpEncoding::Palette, 0},
      {"Small_Dxt5_Rings_8x8.blp", TPicture::Rings, 8, 8, TBlpEncoding::Dxt5, 8},
  };
  std::uint32_t seed = 1;
  for (const TShow& s : kShows) {
    a.members.push_back({dir + s.name, EncodeBlp2(MakePicture(s.picture, s.w, s.h, seed++), s.encoding, s.alphaBits, true)});
  }
  a.members.push_back({dir + "Jpeg_Content.blp", EncodeBlp2Jpeg(256, 256)});
  a.members.push_back({dir + "Blp1_Palette.blp", EncodeBlp1(MakePicture(TPicture::Plasma, 128, 128, 77))});
  // Replaced by the copy in patch.MPQ: the viewer shows the tiles, not these rings.
  a.members.push_back({dir + "Overridden_By_Patch.blp",
                       EncodeBlp2(MakePicture(TPicture::Rings, 256, 256, 5), TBlpEncoding::Palette, 0, true)});
}

std::vector<TArchive> PlanArchives() {
  std::vector<TArchive> plan;
  auto add = [&plan](const char* line) -> TArchive& {
    plan.push_back({line, {}});
    return plan.back();
  };

  TArchive& common = add("Data\\common.MPQ");
  AddShowcase(common);
  AddMinimap(common, "Azeroth");
  AddMinimap(common, "Kalimdor");
  AddWorld(common, "Azeroth", {"ElwynnForest", "Duskwood", "Westfall", "Redridge", "Stranglethorn"}, 16);
  static const char* kIconKinds[] = {"Sword", "Axe", "Mace", "Staff", "Shield", "Helmet", "Chest", "Boots",
                                     "Gauntlets", "Belt", "Ring", "Jewelry", "Potion", "Scroll", "Misc", "Gem"};
  for (const char* kind : kIconKinds)
    for (int i = 1; i <= 20; ++i) AddTexture(common, std::string("Interface\\Icons\\INV_") + kind + "_" + Two(i) + ".blp");
  static const char* kRaces[] = {"Human", "Orc", "Dwarf", "NightElf", "Scourge", "Tauren", "Gnome", "Troll"};
  for (const char* race : kRaces)
    for (const char* gender : {"Male", "Female"})
      for (int i = 0; i < 8; ++i)
        AddTexture(common, std::string("Character\\") + race + "\\" + gender + "\\" + race + gender + "Skin00_" + Two(i) + ".blp");
  AddCreatures(common, 0, 50);
  for (int i = 0; i < 40; ++i) AddOther(common, "DBFilesClient\\Table" + Two(i) + ".dbc");
  for (int i = 0; i < 40; ++i) AddOther(common, "Interface\\FrameXML\\Frame" + Two(i) + ".lua");

  TArchive& common2 = add("Data\\common-2.MPQ");
  static const char* kSchools[] = {"Fire", "Frost", "Arcane", "Nature", "Shadow", "Holy", "Nether", "Physical"};
  for (const char* school : kSchools)
    for (int i = 1; i <= 25; ++i) AddTexture(common2, std::string("Interface\\Icons\\Spell_") + school + "_" + Two(i) + ".blp");
  AddCreatures(common2, 50, 50);

  TArchive& expansion = add("Data\\expansion.MPQ");
  AddMinimap(expansion, "Expansion01");
  AddWorld(expansion, "Expansion01", {"HellfirePeninsula", "Zangarmarsh", "Nagrand", "Netherstorm"}, 12);

  TArchive& lichking = add("Data\\lichking.MPQ");
  AddMinimap(lichking, "Northrend");
  AddWorld(lichking, "Northrend", {"BoreanTundra", "HowlingFjord", "Dragonblight", "GrizzlyHills", "Icecrown"}, 14);
  lichking.members.push_back({"Textures\\Showcase\\Large_Dxt1_Tiles_2048x2048.blp",
                              EncodeBlp2(MakePicture(TPicture::Tiles, 2048, 2048, 9), TBlpEncoding::Dxt1, 0, true)});

  auto localeArchive = [&](const char* line, const char* screens, int count) {
    TArchive& a = add(line);
    for (int i = 0; i < count; ++i) AddTexture(a, std::string("Interface\\Glues\\") + screens + "\\Screen" + Two(i) + ".blp");
    for (int i = 0; i < 10; ++i) AddOther(a, std::string("Interface\\Glues\\") + screens + "\\Text" + Two(i) + ".xml");
  };
  auto speechArchive = [&](const char* line, const char* voice) {
    TArchive& a = add(line);
    for (int i = 0; i < 30; ++i) AddOther(a, std::string("Sound\\Creature\\") + voice + "\\" + voice + Two(i) + ".wav");
  };
  localeArchive("Data\\enUS\\locale-enUS.MPQ", "LoadingScreens", 30);
  speechArchive("Data\\enUS\\speech-enUS.MPQ", "Guard");
  localeArchive("Data\\enUS\\expansion-locale-enUS.MPQ", "Expansion01", 12);
  localeArchive("Data\\enUS\\lichking-locale-enUS.MPQ", "Northrend", 12);
  speechArchive("Data\\enUS\\expansion-speech-enUS.MPQ", "Draenei");
  speechArchive("Data\\enUS\\lichking-speech-enUS.MPQ", "Vrykul");

  TArchive& patch = add("Data\\patch.MPQ");
  patch.members.push_back({"Textures\\Showcase\\Overridden_By_Patch.blp",
                           EncodeBlp2(MakePicture(TPicture::Tiles, 256, 256, 6), TBlpEncoding::Palette, 0, true)});
  for (int i = 21; i <= 30; ++i) AddTexture(patch, "Interface\\Icons\\INV_Sword_" + Two(i) + ".blp");
  TArchive& patch2 = add("Data\\patch-2.MPQ");
  AddCreatures(patch2, 100, 20);
  TArchive& patch3 = add("Data\\patch-3.MPQ");
  AddWorld(patch3, "Northrend", {"Icecrown", "Wintergrasp"}, 6);
  localeArchive("Data\\enUS\\patch-enUS.MPQ", "LoadingScreens", 5);
  localeArchive("Data\\enUS\\patch-enUS-2.MPQ", "Credits", 8);
  localeArchive("Data\\enUS\\patch-enUS-3.MPQ", "Credits", 4);
  return plan;
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

void WriteDemo(const fs::path& root, const fs::path& shaderDir) {
  const fs::path prefix = root / "prefix";
  const fs::path install = prefix / "drive_c" / kInstallDir;
  fs::create_directories(install / "Data");
  fs::create_directories(prefix / "dosdevices");
  fs::create_directory_symlink("../drive_c", prefix / "dosdevices/c:");
  WriteText(prefix / "system.reg",
            "WINE REGISTRY Version 2\n"
            ";; All keys relative to \\\\Machine\n\n"
            "#arch=win64\n\n"
            "[Software\\\\Wow6432Node\\\\Blizzard Entertainment\\\\World of Warcraft] 1700000000\n"
            "#time=1da0c8e8a5b1e00\n"
            "\"GamePath\"=\"C:\\\\Program Files (x86)\\\\World of Warcraft\\\\Wow.exe\"\n"
            "\"InstallPath\"=\"C:\\\\Program Files (x86)\\\\World of Warcraft\\\\\"\n");

  std::string list;
  std::size_t files = 0;
  for (const TArchive& a : PlanArchives()) {
    std::string rel = a.line;
    for (char& c : rel)
      if (c == '\\') c = '/';
    WriteArchive(install / rel, a.members);
    list += a.line + "\r\n";
    files += a.members.size();
    std::printf("  %-40s %5zu files\n", a.line.c_str(), a.members.size());
  }
  fs::create_directories(root / "work");
  WriteText(root / "work/mpqToLoad.txt", list);
  if (!shaderDir.empty()) fs::create_directory_symlink(fs::absolute(shaderDir), root / "work/shader");
  std::printf("  %zu files in all\n", files);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIR [SHADER_DIR]\n", argv[0]);
    return 2;
  }
  const fs::path out = fs::absolute(argv[1]);
  const fs::path shaderDir = argc > 2 ? fs::path(argv[2]) : fs::path();
  fs::path partial = out;
  partial += ".partial";
  try {
    if (fs::exists(out)) throw std::runtime_error(out.string() + " exists already");
    fs::remove_all(partial);
    std::printf("writing the demo install into %s\n", out.c_str());
    WriteDemo(partial, shaderDir);
    fs::rename(partial, out);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "velmora_demo: %s\n", e.what());
    return 1;
  }
  return 0;
}
