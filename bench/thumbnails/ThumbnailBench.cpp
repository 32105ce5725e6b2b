// The thumbnail grid in the real window: an archive written here with a folder of 2,000 textures of
// 256 x 256 DXT1 with mips (and a smaller folder beside it), opened as from the command line.
// Prints
//  - the time from selecting a folder to the first screen of thumbnails complete: the grid's very
//    first (its reader process starting), the big folder with the cache cold, and again warm;
//  - how long key presses in the tree (stepping between the two folders, each step cancelling and
//    restarting the grid) and in the filter line take to be answered while the grid fills: the
//    time from posting the key to the end of its handling, through the event queue;
//  - the time to scroll through the whole folder page by page (more thumbnails than the cache
//    holds), and the peak resident memory of the whole run above the viewer's before any grid,
//    against the cache bound plus 64 MiB; and the peaks of the archive reader processes.
// Needs an X display (the view is GL): run under Xvfb or xvfb-run. Build it in a Release build.
//
// Usage: thumbnail_bench [files=2000]
#include <malloc.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <QSettings>
#include <QTreeView>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench/BenchProcess.h"
#include "log/LogHandler.h"
#include "support/BlpWriter.h"
#include "support/MpqWriter.h"
#include "ui/FilterLine.h"
#include "ui/ThumbnailGrid.h"
#include "ui/ThumbnailPane.h"
#include "ui/TreeModel.h"
#include "ui/UnitMain.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;
using velmora::bench::StatusKiB;

double MsSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

// Runs events until `done` (false after `ms`).
bool RunUntil(const std::function<bool()>& done, int ms = 60000) {
  const auto start = Clock::now();
  while (!done()) {
    if (MsSince(start) > ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

// Posts `event` to `target` behind whatever waits in the queue and returns the milliseconds until
// it has been handled: a marker posted right after it arrives only once it has.
double Answered(QObject* target, QEvent* event) {
  bool handled = false;
  QObject marker;
  const auto start = Clock::now();
  QCoreApplication::postEvent(target, event);
  QMetaObject::invokeMethod(&marker, [&handled] { handled = true; }, Qt::QueuedConnection);
  while (!handled) QApplication::processEvents(QEventLoop::AllEvents, 5);
  return MsSince(start);
}

QKeyEvent* Key(int key, const QString& text = {}) { return new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier, text); }

// Peak resident memory (VmHWM) of each child process of this one, in KiB: the archive readers.
std::vector<std::pair<int, long>> ChildPeaks() {
  std::vector<std::pair<int, long>> out;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string pid = entry.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream status(entry.path() / "status");
    std::string line;
    long ppid = -1, hwm = -1;
    while (std::getline(status, line)) {
      if (line.rfind("PPid:", 0) == 0) ppid = std::atol(line.c_str() + 5);
      if (line.rfind("VmHWM:", 0) == 0) hwm = std::atol(line.c_str() + 6);
    }
    if (ppid == ::getpid()) out.emplace_back(std::atoi(pid.c_str()), hwm);
  }
  return out;
}

void PrintLatencies(const char* what, std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  std::printf("%-44s %3zu keys: median %6.2f ms, 90%% %6.2f ms, max %6.2f ms\n", what, ms.size(), ms[ms.size() / 2],
              ms[ms.size() * 9 / 10], ms.back());
}

}  // namespace

int main(int argc, char** argv) {
  using namespace velmora;
  const int files = argc > 1 ? std::atoi(argv[1]) : 2000;
  int qargc = 1;
  QApplication app(qargc, argv);
  const fs::path root = fs::temp_directory_path() / ("velmora-thumbnail-bench-" + std::to_string(::getpid()));
  fs::create_directories(root / "work/shader");
  for (const char* name : {"vertex.glsl", "fragment.glsl"}) {
    fs::copy_file(fs::path(VELMORA_SOURCE_DIR) / "shader" / name, root / "work/shader" / name);
  }
  fs::current_path(root / "work");
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString((root / "config").string()));
  InitLogFilesAt((root / "exe").string(), std::time(nullptr));
  CreateLogLock();

  // The archive: the big folder, a smaller one beside it.
  std::vector<test::MpqMember> members;
  for (int i = 0; i < files; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "Interface\\Icons\\icon%04d.blp", i);
    members.push_back({name, test::WriteBlp(test::RandomBlp(2, 0, 0, 256, 256, 1, static_cast<std::uint32_t>(i)))});
  }
  for (int i = 0; i < 200; ++i) {
    members.push_back({"Interface\\Other\\other" + std::to_string(i) + ".blp",
                       test::WriteBlp(test::RandomBlp(2, 0, 0, 256, 256, 1, static_cast<std::uint32_t>(100000 + i)))});
  }
  const std::string archive = (root / "bench.MPQ").string();
  test::WriteMpq(archive, members, test::ListFileOf(members));
  // The textures' bytes go before the viewer is measured, and with them the heap they took.
  members = {};
  ::malloc_trim(0);
  std::printf("archive: %d + 200 files of 256 x 256 DXT1 with mips, %.1f MiB\n", files,
              static_cast<double>(fs::file_size(archive)) / (1 << 20));
  std::printf("load average at start: ");
  std::fflush(stdout);
  std::system("cut -d' ' -f1-3 /proc/loadavg");

  int status = 0;
  {
    TForm1 form;
    TStartupOptions options;
    options.archives = {archive};
    form.SetStartupOptions(options);
    form.resize(1200, 900);
    form.show();
    RunUntil([&] { return form.LoadingFinished(); });
    form.activateWindow();
    QApplication::processEvents();
    // The viewer without a grid: what the peak below is measured against.
    const long before = StatusKiB("VmRSS");
    velmora::bench::ResetPeak();
    TThumbnailGrid& grid = *form.Thumbnails()->Grid();
    QTreeView& tree = *form.VirtualStringTreeView;
    TTreeModel& model = *form.VirtualStringTree;
    const QModelIndex interface = model.index(0, 0);
    tree.expand(interface);
    const QModelIndex icons = model.index(0, 0, interface), other = model.index(1, 0, interface);

    // 1. The first screen: the very first (the grid's reader process starts), then the big folder
    // with the cache cold and warm.
    {
      const auto start = Clock::now();
      tree.setCurrentIndex(other);
      if (!RunUntil([&] { return !grid.VisibleRows().empty() && grid.VisibleComplete(); })) status = 1;
      std::printf("first screen, the grid's first (its reader starting): %3zu thumbnails in %7.1f ms\n",
                  grid.VisibleRows().size(), MsSince(start));
    }
    for (const char* pass : {"cold cache", "warm cache"}) {
      tree.setCurrentIndex(other);
      RunUntil([&] { return grid.VisibleComplete(); });
      const auto start = Clock::now();
      tree.setCurrentIndex(icons);
      if (!RunUntil([&] { return !grid.VisibleRows().empty() && grid.VisibleComplete(); })) status = 1;
      std::printf("first screen, %-10s: %3zu thumbnails of %d in %7.1f ms\n", pass, grid.VisibleRows().size(), files,
                  MsSince(start));
    }

    // 2. Keys while the grid fills: each step between the folders cancels and restarts it.
    grid.ClearCache();
    tree.setFocus();
    tree.setCurrentIndex(icons);
    std::vector<double> treeKeys;
    for (int i = 0; i < 40; ++i) {
      treeKeys.push_back(Answered(&tree, Key(i % 2 == 0 ? Qt::Key_Down : Qt::Key_Up)));
      // Half a screen's worth of filling between keys.
      const auto until = Clock::now() + std::chrono::milliseconds(40);
      while (Clock::now() < until) QApplication::processEvents(QEventLoop::AllEvents, 5);
      if (i % 8 == 7) grid.ClearCache();
    }
    PrintLatencies("tree keys between folders while filling", treeKeys);

    tree.setCurrentIndex(icons);
    grid.ClearCache();
    form.FilterLine()->Open();
    std::vector<double> lineKeys;
    const QString typed = QStringLiteral("icons icon1");
    for (int round = 0; round < 3; ++round) {
      for (const QChar c : typed) lineKeys.push_back(Answered(form.FilterLine(), Key(c.unicode(), QString(c))));
      for (int i = 0; i < typed.size(); ++i) lineKeys.push_back(Answered(form.FilterLine(), Key(Qt::Key_Backspace)));
      grid.ClearCache();
    }
    PrintLatencies("filter line keys while filling", lineKeys);
    form.FilterLine()->Close();

    // 3. Scrolling through every thumbnail, more than the cache holds.
    tree.setCurrentIndex(icons);
    RunUntil([&] { return grid.VisibleComplete(); });
    grid.ClearCache();
    const auto start = Clock::now();
    QScrollBar* bar = grid.verticalScrollBar();
    for (;;) {
      RunUntil([&] { return grid.VisibleComplete(); });
      if (bar->value() >= bar->maximum()) break;
      bar->setValue(bar->value() + bar->pageStep());
    }
    const double scrollMs = MsSince(start);
    const long peak = StatusKiB("VmHWM");
    const double boundMiB = static_cast<double>(grid.Cache().MaxBytes()) / (1 << 20);
    const double aboveMiB = static_cast<double>(peak - before) / 1024;
    std::printf("scrolled through %d thumbnails in %.0f ms; cache %zu thumbnails, %.1f MiB of %.0f MiB\n", files,
                scrollMs, grid.Cache().Count(), static_cast<double>(grid.Cache().Bytes()) / (1 << 20), boundMiB);
    std::printf("viewer peak over the whole run %.1f MiB above the %.1f MiB before any grid: %s the cache bound\n"
                "  + 64 MiB (%.0f MiB)\n",
                aboveMiB, static_cast<double>(before) / 1024, aboveMiB <= boundMiB + 64 ? "within" : "BEYOND",
                boundMiB + 64);
    for (const auto& [pid, kib] : ChildPeaks()) {
      std::printf("archive reader process %d: peak %.1f MiB\n", pid, static_cast<double>(kib) / 1024);
    }
    std::printf("thumbnails made %llu, given up when no longer wanted %llu\n",
                static_cast<unsigned long long>(grid.Loader().Made()),
                static_cast<unsigned long long>(grid.Loader().Cancelled()));
    if (aboveMiB > boundMiB + 64) status = 1;
  }
  DestroyLogLock();
  fs::current_path(root.parent_path());
  fs::remove_all(root);
  return status;
}
