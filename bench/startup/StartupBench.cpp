// Startup at client scale: every archive's listfile into the file index and the file tree
// inside one update bracket, one sort, then the clear of shutdown; beside the straightforward
// version. Each measurement runs in a child process of its own, so that peak resident memory
// and the allocator's state start clean. Prints milliseconds per million listfile lines.
//
// Usage: startup_bench [lines=1000000] [repetitions=3] [velmora|baseline|index|tree]
// The last argument makes one run of that kind, in this process, for profilers; "tree" times
// AddNode and SortTree alone over the paths the index reports new.
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QTreeView>

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
#include "base/Lines.h"
#include "bench/startup/StartupBaseline.h"
#include "bench/startup/StartupList.h"
#include "support/MpqWriter.h"
#include "ui/FileTree.h"
#include "ui/TreeModel.h"
#include "bench/BenchProcess.h"

namespace {

using velmora::bench::CpuMs;
using velmora::bench::ReaderFigures;
using velmora::bench::ResetPeak;
using velmora::bench::StatusKiB;
using velmora::bench::TReaderFigures;

using Clock = std::chrono::steady_clock;
constexpr std::size_t kArchives = 12;

double Ms(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

;
struct TResult {
  double ingestMs = 0, sortMs = 0, clearMs = 0;
  double ingestCpu = 0, sortCpu = 0, clearCpu = 0;
  long peakGrowthKiB = 0;
  double readerCpu = 0;  // included in ingestCpu
  long readerGrowthKiB = 0;  // included in peakGrowthKiB
  std::size_t indexCount = 0, nodeCount = 0;
  bool ok = false;
};

// Runs `fn` in a child process and returns what it wrote back.
template <typename T, typename Fn>
T InChild(Fn fn) {
  int fds[2];
  if (::pipe(fds) != 0) std::exit(1);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    const T r = fn();
    const bool written = ::write(fds[1], &r, sizeof r) == static_cast<ssize_t>(sizeof r);
    ::_exit(written ? 0 : 1);
  }
  ::close(fds[1]);
  T r{};
  const bool read = ::read(fds[0], &r, sizeof r) == static_cast<ssize_t>(sizeof r);
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!read || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "measurement child failed\n");
    std::exit(1);
  }
  return r;
}

void OpenArchives(const std::vector<std::filesystem::path>& paths) {
  velmora::CreateArchiveIndex();
  // Announced as the window announces its list: one archive reader, confined to all of them.
  std::vector<std::string> announced;
  for (const auto& p : paths) announced.push_back(p.string());
  velmora::TArchiveReader::Instance().ExpectArchives(announced);
  for (const auto& p : paths) {
    velmora::TArchiveHandle archive;
    if (!velmora::OpenMpqArchive(p.string(), archive)) {
      std::fprintf(stderr, "cannot open %s\n", p.c_str());
      std::exit(1);
    }
    velmora::MpqList->Append(std::move(archive));
  }
}

// withTree false: the file index alone (no onNewPath hook), to tell the two costs apart.
TResult RunVelmora(const std::vector<std::filesystem::path>& paths, bool withTree) {
  using namespace velmora;
  OpenArchives(paths);
  TTreeModel model(FileTreeEvents());
  CreateRootNodes(model);
  const TNewPathHook hook = withTree ? TNewPathHook(AddNode) : TNewPathHook();
  TResult r;
  ResetPeak();
  const TReaderFigures reader0 = ReaderFigures(true);
  const long rss0 = StatusKiB("VmRSS");
  const auto t0 = Clock::now();
  const double c0 = CpuMs();
  model.BeginUpdate();
  for (MpqHandle h : *MpqList) LoadListFile(h, hook);
  const auto t1 = Clock::now();
  const TReaderFigures reader1 = ReaderFigures(false);
  r.readerCpu = reader1.cpuMs - reader0.cpuMs;
  r.readerGrowthKiB = reader1.peakKiB - reader0.rssKiB;
  const double c1 = CpuMs() + r.readerCpu;
  model.SortTree(0, Qt::AscendingOrder);
  model.EndUpdate();
  const auto t2 = Clock::now();
  const double c2 = CpuMs() + r.readerCpu;
  r.peakGrowthKiB = StatusKiB("VmHWM") - rss0 + r.readerGrowthKiB;
  r.indexCount = FileIndex->Count();
  r.nodeCount = model.NodeCount();
  ClearFileList();
  const auto t3 = Clock::now();
  const double c3 = CpuMs() + r.readerCpu;
  DestroyRootNodes();
  FreeArchiveIndex();
  r.ingestMs = Ms(t0, t1);
  r.sortMs = Ms(t1, t2);
  r.clearMs = Ms(t2, t3);
  r.ingestCpu = c1 - c0;
  r.sortCpu = c2 - c1;
  r.clearCpu = c3 - c2;
  r.ok = true;
  return r;
}

TResult RunBaseline(const std::vector<std::filesystem::path>& paths) {
  using namespace velmora;
  OpenArchives(paths);
  TResult r;
  {
    bench::TBaselineStartup b;
    ResetPeak();
    const TReaderFigures reader0 = ReaderFigures(true);
    const long rss0 = StatusKiB("VmRSS");
    const auto t0 = Clock::now();
    const double c0 = CpuMs();
    for (MpqHandle h : *MpqList) b.LoadListFile(h);
    const auto t1 = Clock::now();
    const TReaderFigures reader1 = ReaderFigures(false);
    r.readerCpu = reader1.cpuMs - reader0.cpuMs;
    r.readerGrowthKiB = reader1.peakKiB - reader0.rssKiB;
    const double c1 = CpuMs() + r.readerCpu;
    b.SortTree();
    const auto t2 = Clock::now();
    const double c2 = CpuMs() + r.readerCpu;
    r.peakGrowthKiB = StatusKiB("VmHWM") - rss0 + r.readerGrowthKiB;
    r.indexCount = b.IndexCount();
    r.nodeCount = b.NodeCount();
    b.Clear();
    const auto t3 = Clock::now();
    const double c3 = CpuMs() + r.readerCpu;
    r.ingestMs = Ms(t0, t1);
    r.sortMs = Ms(t1, t2);
    r.clearMs = Ms(t2, t3);
    r.ingestCpu = c1 - c0;
    r.sortCpu = c2 - c1;
    r.clearCpu = c3 - c2;
  }
  FreeArchiveIndex();
  r.ok = true;
  return r;
}

struct TExpandResult {
  double expandMs = 0;
  std::size_t texts = 0;
};

// Counts the display texts a view asks for.
class TCountingModel : public velmora::TTreeModel {
public:
  TCountingModel() : TTreeModel(velmora::FileTreeEvents()) {}
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override {
    if (role == Qt::DisplayRole) ++texts;
    return TTreeModel::data(index, role);
  }
  mutable std::size_t texts = 0;
};

// One folder of 100,000 files in a QTreeView on the offscreen platform: expand and paint.
TExpandResult RunExpand() {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int argc = 1;
  char name[] = "startup_bench";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  TCountingModel model;
  velmora::CreateRootNodes(model);
  model.BeginUpdate();
  for (int i = 0; i < 100000; ++i) velmora::AddNode("Textures\\Minimap\\map" + std::to_string(i) + ".blp");
  model.SortTree(0, Qt::AscendingOrder);
  model.EndUpdate();
  QTreeView view;
  model.AttachView(&view);
  view.resize(196, 540);
  view.show();
  QApplication::processEvents();
  const QModelIndex textures = model.index(0, 0);
  view.expand(textures);
  view.repaint();
  QApplication::processEvents();
  const QModelIndex minimap = model.index(0, 0, textures);
  model.texts = 0;
  const auto t0 = Clock::now();
  view.expand(minimap);
  view.repaint();
  QApplication::processEvents();
  const auto t1 = Clock::now();
  TExpandResult r{Ms(t0, t1), model.texts};
  velmora::ClearFileList();
  velmora::DestroyRootNodes();
  return r;
}

TResult Median(std::vector<TResult> runs) {
  auto pick = [&](auto member) {
    std::vector<double> v;
    for (const auto& r : runs) v.push_back(static_cast<double>(r.*member));
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  TResult m = runs.front();
  m.ingestMs = pick(&TResult::ingestMs);
  m.sortMs = pick(&TResult::sortMs);
  m.clearMs = pick(&TResult::clearMs);
  m.ingestCpu = pick(&TResult::ingestCpu);
  m.sortCpu = pick(&TResult::sortCpu);
  m.clearCpu = pick(&TResult::clearCpu);
  m.peakGrowthKiB = static_cast<long>(pick(&TResult::peakGrowthKiB));
  m.readerCpu = pick(&TResult::readerCpu);
  m.readerGrowthKiB = static_cast<long>(pick(&TResult::readerGrowthKiB));
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t lines = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000000;
  const int reps = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;

  char tmpl[] = "/tmp/velmora-startup-XXXXXX";
  if (!::mkdtemp(tmpl)) return 1;
  const std::filesystem::path dir = tmpl;
  std::vector<std::filesystem::path> paths;
  for (std::size_t i = 0; i < kArchives; ++i) paths.push_back(dir / ("archive" + std::to_string(i) + ".MPQ"));

  // Generated in a child too, so that its freed memory does not serve the measured runs.
  struct TListInfo {
    std::size_t lines = 0, bytes = 0;
  };
  const TListInfo info = InChild<TListInfo>([&] {
    TListInfo li;
    const auto texts = velmora::bench::MakeStartupListFiles(lines, kArchives);
    for (std::size_t i = 0; i < texts.size(); ++i) {
      velmora::ForEachLine(texts[i], [&](std::size_t, std::size_t) { ++li.lines; });
      li.bytes += texts[i].size();
      velmora::test::WriteMpq(paths[i], {{"stub", "x"}}, texts[i]);
    }
    return li;
  });

  const std::string only = argc > 3 ? argv[3] : "";
  if (only == "tree") {  // the tree alone over the paths the index reports new
    OpenArchives(paths);
    std::vector<std::string> fresh;
    for (velmora::MpqHandle h : *velmora::MpqList) {
      velmora::LoadListFile(h, [&](std::string_view p) { fresh.emplace_back(p); });
    }
    velmora::TTreeModel model(velmora::FileTreeEvents());
    velmora::CreateRootNodes(model);
    const double c0 = CpuMs();
    const auto t0 = Clock::now();
    model.BeginUpdate();
    for (const auto& p : fresh) velmora::AddNode(p);
    const auto t1 = Clock::now();
    const double c1 = CpuMs();
    model.SortTree(0, Qt::AscendingOrder);
    model.EndUpdate();
    const auto t2 = Clock::now();
    const double c2 = CpuMs();
    std::printf("tree alone: %zu paths, %zu nodes: add %.0f ms (cpu %.0f), sort %.0f ms (cpu %.0f)\n", fresh.size(),
                model.NodeCount(), Ms(t0, t1), c1 - c0, Ms(t1, t2), c2 - c1);
    return 0;
  }
  if (!only.empty()) {  // one kind of run, in this process: for profilers
    const TResult r = only == "baseline" ? RunBaseline(paths) : RunVelmora(paths, only == "velmora");
    std::printf("%s: ingest %.0f ms, sort %.0f ms, clear %.0f ms, peak growth %ld KiB\n", only.c_str(), r.ingestMs,
                r.sortMs, r.clearMs, r.peakGrowthKiB);
    std::filesystem::remove_all(dir);
    return 0;
  }
  std::vector<TResult> fast, base, index;
  for (int i = 0; i < reps; ++i) {
    fast.push_back(InChild<TResult>([&] { return RunVelmora(paths, true); }));
    base.push_back(InChild<TResult>([&] { return RunBaseline(paths); }));
    index.push_back(InChild<TResult>([&] { return RunVelmora(paths, false); }));
  }
  const TExpandResult expand = InChild<TExpandResult>(RunExpand);
  std::filesystem::remove_all(dir);

  const TResult f = Median(fast), b = Median(base), x = Median(index);
  const double perM = 1e6 / static_cast<double>(info.lines);
  std::printf("startup: %zu archives, %zu listfile lines (%.1f MiB), %zu index keys, %zu tree nodes; "
              "median of %d runs\n",
              kArchives, info.lines, static_cast<double>(info.bytes) / 1048576.0, f.indexCount, f.nodeCount, reps);
  if (b.indexCount != f.indexCount || b.nodeCount != f.nodeCount) {
    std::printf("  MISMATCH: baseline has %zu index keys, %zu tree nodes\n", b.indexCount, b.nodeCount);
  }
  std::printf("%-12s %22s %22s %22s %22s %16s\n", "wall (cpu)", "ingest ms/M", "sort ms/M",
              "ingest+sort ms/M", "clear ms/M", "peak growth MiB");
  for (const auto& [name, r] : {std::pair{"velmora", f}, std::pair{"baseline", b}, std::pair{"index only", x}}) {
    auto cell = [&](double wall, double cpu) {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.0f (%.0f)", wall * perM, cpu * perM);
      return std::string(buf);
    };
    std::printf("%-12s %22s %22s %22s %22s %16.0f\n", name, cell(r.ingestMs, r.ingestCpu).c_str(),
                cell(r.sortMs, r.sortCpu).c_str(), cell(r.ingestMs + r.sortMs, r.ingestCpu + r.sortCpu).c_str(),
                cell(r.clearMs, r.clearCpu).c_str(), static_cast<double>(r.peakGrowthKiB) / 1024.0);
  }
  std::printf("speed-up ingest+sort: %.2fx wall, %.2fx cpu (target >= 1.7x); velmora ingest+sort %.0f ms wall, "
              "%.0f ms cpu (target <= ~1000), clear %.0f ms (target <= 100), peak growth %.0f MiB (target <= 200)\n",
              (b.ingestMs + b.sortMs) / (f.ingestMs + f.sortMs), (b.ingestCpu + b.sortCpu) / (f.ingestCpu + f.sortCpu),
              f.ingestMs + f.sortMs, f.ingestCpu + f.sortCpu, f.clearMs, static_cast<double>(f.peakGrowthKiB) / 1024.0);
  std::printf("of which the archive reader process (velmora row): ingest cpu %.0f ms/M, peak growth %.0f MiB\n",
              f.readerCpu * perM, static_cast<double>(f.readerGrowthKiB) / 1024.0);
  std::printf("expanding a folder of 100000 files in a QTreeView (offscreen): %.1f ms, %zu texts asked\n",
              expand.expandMs, expand.texts);
  return 0;
}
