// Client-like archive paths from a fixed seed: a folder tree shared by many files, names built
// from syllables and numbers, the extension mix of a game client.
#include "bench/ingest/ListGenerator.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "archive/PathParts.h"

namespace velmora::bench {

namespace {

// splitmix64: the same sequence on every platform and standard library.
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
  bool Chance(unsigned perMillion) { return Below(1000000) < perMillion; }

private:
  std::uint64_t state_;
};

constexpr std::array<std::string_view, 16> kRoots = {
    "World", "Textures", "Character", "Creature", "Item", "Interface", "Sound", "Spells",
    "Environments", "Dungeons", "Tileset", "XTextures", "Cameras", "Particles", "DBFilesClient", "Fonts"};

constexpr std::array<std::string_view, 40> kSyllables = {
    "az", "er", "oth", "kal", "im", "dor", "storm", "wind", "iron", "forge", "dun", "mor", "ogh",
    "tel", "dras", "sil", "ver", "moon", "thun", "der", "bluff", "und", "er", "city", "ash",
    "en", "vale", "tan", "aris", "zul", "gur", "ub", "nax", "ram", "as", "kar", "a", "shen", "ti", "rag"};

struct TExtension {
  std::string_view ext;
  unsigned weight;  // percent
};
constexpr std::array<TExtension, 13> kExtensions = {{{".blp", 40}, {".m2", 12}, {".skin", 8}, {".wav", 8},
                                                    {".wmo", 6}, {".adt", 6}, {".anim", 5}, {".mp3", 3},
                                                    {".lua", 3}, {".xml", 3}, {".mdx", 3}, {".dbc", 2},
                                                    {".toc", 1}}};

// Archive sizes of a client: a few large base archives, then smaller locale and patch archives.
constexpr std::array<unsigned, 12> kArchiveShare = {180, 150, 120, 100, 90, 80, 70, 60, 50, 40, 35, 25};

std::string Word(TRandom& rnd) {
  std::string w;
  const std::size_t n = 1 + rnd.Below(3);
  for (std::size_t i = 0; i < n; ++i) w += kSyllables[rnd.Below(kSyllables.size())];
  w[0] = UpperAsciiChar(w[0]);
  return w;
}

std::string FolderName(TRandom& rnd) {
  std::string name = Word(rnd);
  // Appended piece by piece: g++ 12 warns falsely (-Wrestrict) on "literal" + std::string here.
  if (rnd.Chance(300000)) {
    name += '_';
    name += Word(rnd);
  }
  if (rnd.Chance(200000)) name += std::to_string(rnd.Below(100));
  return name;
}

std::string FileName(TRandom& rnd) {
  std::string name = Word(rnd);
  switch (rnd.Below(4)) {
    case 0:
      name += '_';
      name += std::to_string(rnd.Below(64));
      name += '_';
      name += std::to_string(rnd.Below(64));
      break;
    case 1:
      name += '_';
      name += Word(rnd);
      break;
    case 2: name += std::to_string(rnd.Below(1000)); break;
    default: break;
  }
  std::size_t pick = rnd.Below(100);
  for (const auto& e : kExtensions) {
    if (pick < e.weight) return name + std::string(e.ext);
    pick -= e.weight;
  }
  return name + ".blp";
}

// Folders 2 to 6 deep, each level built on folders of the level above, so files share them.
std::vector<std::string> MakeFolders(TRandom& rnd) {
  constexpr std::array<std::size_t, 7> kPerDepth = {0, 0, 400, 3000, 8000, 10000, 8000};
  std::vector<std::vector<std::string>> byDepth(7);
  for (auto root : kRoots) byDepth[1].emplace_back(root);
  for (std::size_t depth = 2; depth <= 6; ++depth) {
    std::unordered_set<std::string> seen;
    while (byDepth[depth].size() < kPerDepth[depth]) {
      const auto& parents = byDepth[depth - 1];
      std::string folder = parents[rnd.Below(parents.size())] + "\\" + FolderName(rnd);
      if (seen.insert(MakeKey(folder)).second) byDepth[depth].push_back(std::move(folder));
    }
  }
  std::vector<std::string> all;
  for (std::size_t depth = 2; depth <= 6; ++depth) all.insert(all.end(), byDepth[depth].begin(), byDepth[depth].end());
  return all;
}

std::string OtherCase(std::string path, TRandom& rnd) {
  switch (rnd.Below(3)) {
    case 0:  // all upper, as old tools wrote it
      for (char& c : path) c = UpperAsciiChar(c);
      break;
    case 1:  // all lower
      for (char& c : path) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
      break;
    default:  // only the file name upper-cased
      for (std::size_t i = path.rfind('\\') + 1; i < path.size(); ++i) path[i] = UpperAsciiChar(path[i]);
      break;
  }
  return path;
}

}  // namespace

TGeneratedSet GenerateListFiles(std::size_t totalLines) {
  TRandom rnd(0x56454C4D4F5241ull);
  const std::vector<std::string> folders = MakeFolders(rnd);
  TGeneratedSet set;

  std::vector<std::string> earlier;  // paths of the archives before the current one
  std::unordered_set<std::string> keys;
  std::size_t shareSum = 0;
  for (unsigned s : kArchiveShare) shareSum += s;
  std::size_t linesLeft = totalLines;

  for (std::size_t a = 0; a < kArchiveShare.size(); ++a) {
    const std::size_t count = a + 1 == kArchiveShare.size() ? linesLeft : totalLines * kArchiveShare[a] / shareSum;
    linesLeft -= count;
    // The first archive holds only new paths; the later ones repeat enough to make about 30%
    // of all lines.
    const unsigned repeatPerMillion = a == 0 ? 0 : 366000;
    std::vector<std::pair<std::string, std::string>> lines;  // sort key, line
    std::vector<std::string> added;
    lines.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
      if (rnd.Chance(200)) {
        lines.emplace_back(std::string(), rnd.Chance(500000) ? std::string() : std::string("  "));
        ++set.blankLines;
        continue;
      }
      std::string path;
      if (!earlier.empty() && rnd.Chance(repeatPerMillion)) {
        path = earlier[rnd.Below(earlier.size())];
        ++set.repeatedLines;
        if (rnd.Chance(150000)) {
          path = OtherCase(std::move(path), rnd);
          ++set.otherCaseRepeats;
        }
      } else {
        do {
          path = folders[rnd.Below(folders.size())] + "\\" + FileName(rnd);
        } while (!keys.insert(MakeKey(path)).second);
        added.push_back(path);
      }
      if (ExtensionPart(path) == ".blp" || ExtensionPart(path) == ".BLP") ++set.blpLines;
      std::string key = MakeKey(path);
      if (rnd.Chance(500)) {
        std::string padded = rnd.Chance(500000) ? " " : "\t ";
        padded += path;
        padded += "  ";
        path = std::move(padded);
        ++set.paddedLines;
      }
      lines.emplace_back(std::move(key), std::move(path));
    }
    earlier.insert(earlier.end(), added.begin(), added.end());
    std::sort(lines.begin(), lines.end());

    const std::string_view eol = a % 2 == 0 ? "\r\n" : "\n";
    std::string text;
    for (const auto& l : lines) {
      text += l.second;
      text += eol;
    }
    set.lines += count;
    set.listfiles.push_back(std::move(text));
  }
  return set;
}

}  // namespace velmora::bench
