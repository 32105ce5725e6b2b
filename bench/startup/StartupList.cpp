// Client-like listfiles from a fixed seed.
#include "bench/startup/StartupList.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <string_view>

namespace velmora::bench {

namespace {

// splitmix64: the same sequence with every compiler and standard library.
class TRandom {
public:
  explicit TRandom(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::size_t Below(std::size_t n) { return static_cast<std::size_t>(Next() % n); }
  bool Percent(unsigned p) { return Below(100) < p; }

private:
  std::uint64_t state_;
};

constexpr std::array<std::string_view, 14> kRoots = {
    "World", "Textures", "Character", "Creature", "Item", "Interface", "Sound",
    "Spells", "Environments", "Dungeons", "Tileset", "XTextures", "Particles", "Cameras"};
constexpr std::array<std::string_view, 32> kSyllables = {
    "Az", "er", "oth", "Kal", "im", "dor", "Nor", "thr", "end", "Ele", "wyn", "Fo", "rest",
    "Dun", "Mor", "ogh", "Blood", "Elf", "Tau", "ren", "Gob", "lin", "Stor", "mwind", "Ice",
    "crown", "Shad", "ow", "moon", "Drak", "tha", "ron"};
constexpr std::array<std::string_view, 13> kOtherExtensions = {
    ".m2", ".skin", ".wmo", ".adt", ".wav", ".mp3", ".anim", ".mdx", ".dbc", ".lua", ".xml", ".wdt", ".wdl"};

std::string Word(TRandom& rnd) {
  std::string w;
  const std::size_t n = 1 + rnd.Below(3);
  for (std::size_t i = 0; i < n; ++i) w += kSyllables[rnd.Below(kSyllables.size())];
  return w;
}

// Folders 1 to 5 deep (so paths are 2 to 6 components), a few of them very large, as minimap
// and icon folders are.
std::vector<std::string> MakeFolders(TRandom& rnd, std::size_t count) {
  std::vector<std::string> folders;
  folders.reserve(count);
  for (auto root : kRoots) folders.emplace_back(root);
  while (folders.size() < count) {
    // Children hang under an existing folder of depth < 5.
    const std::string& parent = folders[rnd.Below(folders.size())];
    if (std::count(parent.begin(), parent.end(), '\\') >= 4) continue;
    std::string name = Word(rnd);
    if (rnd.Percent(30)) name += "_" + std::to_string(rnd.Below(100));
    folders.push_back(parent + "\\" + name);
  }
  return folders;
}

std::string FileName(TRandom& rnd) {
  std::string name = Word(rnd);
  if (rnd.Percent(60)) name += "_" + std::to_string(rnd.Below(64)) + "_" + std::to_string(rnd.Below(64));
  else if (rnd.Percent(50)) name += std::to_string(rnd.Below(1000));
  name += rnd.Percent(40) ? ".blp" : std::string(kOtherExtensions[rnd.Below(kOtherExtensions.size())]);
  return name;
}

bool LessNoCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::toupper(static_cast<unsigned char>(x)) < std::toupper(static_cast<unsigned char>(y));
  });
}

}  // namespace

std::vector<std::string> MakeStartupListFiles(std::size_t lines, std::size_t archives) {
  TRandom rnd(0x5EED'2026'0001ull);
  const std::vector<std::string> folders = MakeFolders(rnd, 24000);
  std::vector<std::string> earlier;  // every path of the archives made so far
  earlier.reserve(lines);
  std::vector<std::string> texts;
  for (std::size_t a = 0; a < archives; ++a) {
    const std::size_t count = a + 1 < archives ? lines / archives : lines - (lines / archives) * (archives - 1);
    std::vector<std::string> paths;
    paths.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
      if (a > 0 && rnd.Percent(33)) {
        std::string p = earlier[rnd.Below(earlier.size())];
        if (rnd.Percent(33)) {
          const bool upper = rnd.Percent(50);
          for (char& c : p) c = static_cast<char>(upper ? std::toupper(static_cast<unsigned char>(c))
                                                        : std::tolower(static_cast<unsigned char>(c)));
        }
        paths.push_back(std::move(p));
        continue;
      }
      // A tenth of the files go to one of a few huge folders.
      const std::size_t folder = rnd.Percent(10) ? rnd.Below(40) * 600 % folders.size() : rnd.Below(folders.size());
      paths.push_back(folders[folder] + "\\" + FileName(rnd));
    }
    earlier.insert(earlier.end(), paths.begin(), paths.end());
    // Half the archives list their files sorted, as archive tools write them; the rest as added.
    if (a % 2 == 0) std::sort(paths.begin(), paths.end(), LessNoCase);

    const std::string_view eol = a % 3 == 2 ? "\n" : "\r\n";
    std::string text;
    text.reserve(count * 48);
    for (std::size_t i = 0; i < paths.size(); ++i) {
      if (i % 997 == 0) text += "  " + paths[i] + " \t";
      else text += paths[i];
      text += eol;
      if (i % 4999 == 0) text += eol;  // a blank line now and then
    }
    texts.push_back(std::move(text));
  }
  return texts;
}

}  // namespace velmora::bench
