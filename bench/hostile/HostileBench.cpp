// Hostile listfile benchmark: each listfile is written into an archive, then LoadListFile with
// AddNode as its hook fills the index and the tree, the tree is sorted, and ClearFileList empties
// both, as the window does. Prints the best of three runs per list, in ms per million lines and
// ms per MB, with a client-like listfile first as the measure of normal per-line cost. Lists of
// one long line are measured per unit of work instead: a unit is one line or one tree node made,
// so a deep path counts each folder it makes.
//
//   bench_hostile [--runs R]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/Zanth.h"
#include "support/MpqWriter.h"
#include "support/TestData.h"
#include "ui/FileTree.h"
#include "ui/TreeModel.h"

using namespace velmora;

namespace {

struct List {
  const char* name;
  std::string text;
};

std::size_t CountLines(const std::string& s) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\n' || (s[i] == '\r' && (i + 1 == s.size() || s[i + 1] != '\n'))) ++n;
  }
  return n + (!s.empty() && s.back() != '\n' && s.back() != '\r');
}

// Client-like paths: map tiles, creature and item textures, interface files, one in five not BLP.
std::string ClientLike(std::size_t lines) {
  const char* tops[] = {"World\\Maps\\", "Creature\\", "Item\\ObjectComponents\\", "Interface\\", "Textures\\"};
  const char* exts[] = {".blp", ".blp", ".blp", ".blp", ".m2"};
  std::string s;
  std::uint32_t x = 12345;
  for (std::size_t i = 0; i < lines; ++i) {
    x = x * 1103515245u + 12345u;
    const std::size_t t = (x >> 8) % 5;
    s += tops[t];
    s += "Zone" + std::to_string((x >> 12) % 97) + "\\Sub" + std::to_string((x >> 20) % 13) + "\\file_" +
         std::to_string(i) + exts[(x >> 4) % 5] + "\r\n";
  }
  return s;
}

std::string Repeat(const std::string& s, std::size_t n) {
  std::string out;
  out.reserve(s.size() * n);
  for (std::size_t i = 0; i < n; ++i) out += s;
  return out;
}

std::string DeepPath(std::size_t components, const std::string& file) {
  std::string s = "c0";
  for (std::size_t i = 1; i < components; ++i) s += "\\c" + std::to_string(i);
  return s + "\\" + file;
}

double Ms(std::chrono::steady_clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Result {
  double ms;
  std::size_t nodes;  // tree nodes the listfile made
};

// One run: ingestion, sort and clear of the archive's listfile.
Result Run(const std::filesystem::path& archive) {
  CreateArchiveIndex();
  TArchiveHandle owner;
  if (!OpenMpqArchive(archive.string(), owner)) {
    std::fprintf(stderr, "cannot open %s\n", archive.c_str());
    std::exit(1);
  }
  const MpqHandle h = owner.Get();
  MpqList->Append(std::move(owner));
  auto tree = std::make_unique<TTreeModel>(FileTreeEvents());
  CreateRootNodes(*tree);
  const auto start = std::chrono::steady_clock::now();
  tree->BeginUpdate();
  LoadListFile(h, AddNode);
  tree->SortTree(0, Qt::AscendingOrder);
  tree->EndUpdate();
  const std::size_t nodes = tree->NodeCount();
  ClearFileList();
  const auto end = std::chrono::steady_clock::now();
  DestroyRootNodes();
  tree.reset();
  FreeArchiveIndex();
  return {Ms(end - start), nodes};
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 3;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[++i]));
  }
  std::vector<List> lists;
  lists.push_back({"client-like, 1,000,000 lines", ClientLike(1000000)});
  lists.push_back({"1,000,000 identical lines", Repeat("Textures\\Same\\file.blp\r\n", 1000000)});
  lists.push_back({"one 10 MB line", std::string(10 << 20, 'x') + ".blp"});
  lists.push_back({"10 MB of line breaks only", Repeat("\r\n", 5 << 20)});
  lists.push_back({"10 MB of path separators only", Repeat("\\:", 5 << 20)});
  lists.push_back({"one path of 10,000 components", DeepPath(10000, "f.blp") + "\r\n"});
  {
    std::string s;
    for (int i = 0; i < 100; ++i) {
      std::string file = "f";
      file += std::to_string(i);
      s += DeepPath(10000, file + ".blp") + "\r\n";
    }
    lists.push_back({"100 paths of 10,000 components", s});
  }
  lists.push_back({"one path of 100,000 backslashes", std::string(100000, '\\') + "deep.blp\r\n"});

  test::TempDir dir;
  std::printf("%-34s %9s %9s %8s %9s %12s %8s %9s\n", "listfile", "lines", "nodes", "MB", "ms", "ms/M lines",
              "ms/MB", "us/unit");
  for (std::size_t i = 0; i < lists.size(); ++i) {
    const List& l = lists[i];
    const std::filesystem::path archive = dir.path() / ("list" + std::to_string(i) + ".mpq");
    test::WriteMpq(archive, {}, l.text);
    Result best{1e300, 0};
    for (int r = 0; r < runs; ++r) {
      const Result one = Run(archive);
      if (one.ms < best.ms) best = one;
    }
    const double lines = static_cast<double>(CountLines(l.text));
    const double mb = static_cast<double>(l.text.size()) / (1 << 20);
    const double units = lines + static_cast<double>(best.nodes);
    std::printf("%-34s %9.0f %9zu %8.2f %9.1f %12.1f %8.2f %9.3f\n", l.name, lines, best.nodes, mb, best.ms,
                best.ms / lines * 1e6, best.ms / mb, best.ms / units * 1e3);
    std::fflush(stdout);
  }
  return 0;
}
