// The tree filter at client scale: a million listfile lines (about 700,000 paths) in the file
// tree behind a real QTreeView on the offscreen platform, then keystrokes into the filter line,
// each timed from the text change to the repainted view. Prints milliseconds per keystroke (wall
// and CPU) with the files matched, and the memory the filter adds.
//
// Usage: filter_bench [lines=1000000]
#include <time.h>

#include <QApplication>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/Zanth.h"
#include "bench/startup/StartupList.h"
#include "support/MpqWriter.h"
#include "ui/FileTree.h"
#include "ui/FilterLine.h"
#include "ui/TreeModel.h"
#include "bench/BenchProcess.h"

namespace {

using velmora::bench::CpuMs;
using velmora::bench::StatusKiB;

using Clock = std::chrono::steady_clock;

struct TStroke {
  std::string text;
  double wallMs = 0, cpuMs = 0;
  std::size_t matches = 0;
};

}  // namespace

int main(int argc, char** argv) {
  using namespace velmora;
  const std::size_t lines = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000000;
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qargc = 1;
  char name[] = "filter_bench";
  char* qargv[] = {name, nullptr};
  QApplication app(qargc, qargv);

  // The listfiles of the startup benchmark, as archives, into the index and the tree.
  char tmpl[] = "/tmp/velmora-filter-XXXXXX";
  if (!::mkdtemp(tmpl)) return 1;
  const std::filesystem::path dir = tmpl;
  constexpr std::size_t kArchives = 12;
  CreateArchiveIndex();
  {
    const auto texts = bench::MakeStartupListFiles(lines, kArchives);
    for (std::size_t i = 0; i < texts.size(); ++i) {
      const auto path = dir / ("archive" + std::to_string(i) + ".MPQ");
      test::WriteMpq(path, {{"stub", "x"}}, texts[i]);
      TArchiveHandle h;
      if (!OpenMpqArchive(path.string(), h)) return 1;
      MpqList->Append(std::move(h));
    }
  }
  TTreeModel model(FileTreeEvents());
  CreateRootNodes(model);
  model.BeginUpdate();
  for (MpqHandle h : *MpqList) LoadListFile(h, AddNode);
  model.SortTree(0, Qt::AscendingOrder);
  model.EndUpdate();
  std::size_t files = 0;
  for (std::size_t i = 0; i < model.TopLevelCount(); ++i) {
    std::vector<const TVirtualNode*> stack{model.TopLevelNode(i)};
    while (!stack.empty()) {
      const TVirtualNode* n = stack.back();
      stack.pop_back();
      files += n->data.isFile;
      for (std::size_t k = 0; k < n->ChildCount(); ++k) stack.push_back(n->Child(k));
    }
  }

  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* view = new QTreeView;
  layout->addWidget(view);
  model.AttachView(view);
  TFilterLine line(model, *view, &window);
  window.resize(196, 552);
  window.show();
  line.Open();
  QApplication::processEvents();

  const long rss0 = StatusKiB("VmRSS");
  bench::ResetPeak();  // the peak starts again here
  std::vector<TStroke> strokes;
  std::size_t maxFilterBytes = 0;
  auto type = [&](const std::string& text) {
    const double c0 = CpuMs();
    const auto t0 = Clock::now();
    line.setText(QString::fromStdString(text));
    view->viewport()->repaint();
    QApplication::processEvents();
    const auto t1 = Clock::now();
    strokes.push_back({text, std::chrono::duration<double, std::milli>(t1 - t0).count(), CpuMs() - c0, line.Matches()});
    maxFilterBytes = std::max(maxFilterBytes, model.FilterBytes());
  };
  // Typing a character at a time, then deleting them again; words that match nearly every file
  // (".blp", a single letter) are the heaviest.
  auto typeAndDelete = [&](const std::string& text) {
    for (std::size_t i = 1; i <= text.size(); ++i) type(text.substr(0, i));
    for (std::size_t i = text.size(); i-- > 0;) type(text.substr(0, i));
  };
  typeAndDelete("textures azeroth");
  typeAndDelete(".blp");
  typeAndDelete("e");
  typeAndDelete("storm 12_3");
  const long peak = StatusKiB("VmHWM");

  std::printf("filter: %zu listfile lines, %zu tree nodes, %zu files; %zu keystrokes\n", lines, model.NodeCount(), files,
              strokes.size());
  std::printf("%-20s %10s %10s %10s\n", "text", "wall ms", "cpu ms", "matches");
  for (const TStroke& s : strokes) {
    if (s.text.empty()) continue;
    std::printf("%-20s %10.1f %10.1f %10zu\n", ("\"" + s.text + "\"").c_str(), s.wallMs, s.cpuMs, s.matches);
  }
  std::vector<double> wall;
  for (const TStroke& s : strokes) wall.push_back(s.wallMs);
  std::sort(wall.begin(), wall.end());
  std::printf("per keystroke: median %.1f ms, max %.1f ms (target 100)\n", wall[wall.size() / 2], wall.back());
  std::printf("filter memory: lists and marks at most %.1f MiB (%.1f bytes per node); resident peak growth %.1f MiB\n",
              static_cast<double>(maxFilterBytes) / 1048576.0,
              static_cast<double>(maxFilterBytes) / static_cast<double>(model.NodeCount()),
              static_cast<double>(peak - rss0) / 1024.0);

  view->setModel(nullptr);
  ClearFileList();
  DestroyRootNodes();
  FreeArchiveIndex();
  std::filesystem::remove_all(dir);
  return 0;
}
