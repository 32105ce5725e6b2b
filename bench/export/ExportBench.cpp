// The export on the demo install: first the reading alone, a file per trip to the archive reader
// and many to a trip as the export reads; every BLP file of its archives as PNG (level 0 alone and
// with all mip levels, with one converting thread and with one per core), as DDS and as raw
// files; then the DXT textures alone in each format, the ones for which DDS and raw decode
// nothing, with how many times faster than PNG they run (the median of three PNG runs of level 0
// against the median of five DDS and five raw runs),
// and their reading alone, the floor. Prints files and MB per second (MB of BLP files read, and
// of files written). Last the same comparison on DXT textures of the sizes games use.
//
// Usage: export_bench [DEMO_DIR [OUT_DIR]]
// Without DEMO_DIR the demo generator writes a fresh demo into a scratch folder first. The files
// go below OUT_DIR (default: that scratch folder); on ext4 creating thousands of small files
// costs more than decoding them, so /dev/shm shows what the export itself costs.
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "archive/PathParts.h"
#include "archive/Zanth.h"
#include "blp/BlpExport.h"
#include "host/MpqToLoad.h"
#include "bench/BenchProcess.h"
#include "support/MpqWriter.h"

namespace fs = std::filesystem;

namespace {

using velmora::bench::CpuMs;

using Clock = std::chrono::steady_clock;

class TCount : public velmora::blp::TExportEvents {
public:
  void Failed(const std::string& path, const std::string& reason) override {
    if (++failed <= 3) std::printf("  failed: %s: %s\n", path.c_str(), reason.c_str());
  }
  std::size_t failed = 0;
};

}  // namespace

int main(int argc, char** argv) {
  using namespace velmora;
  fs::path demo;
  fs::path scratch = fs::temp_directory_path() / ("velmora-export-bench-" + std::to_string(::getpid()));
  if (argc > 1) {
    demo = argv[1];
  } else {
#ifdef VELMORA_DEMO_PROGRAM
    demo = scratch / "demo";
    fs::create_directories(scratch);
    const std::string command = std::string(VELMORA_DEMO_PROGRAM) + " '" + demo.string() + "' > /dev/null";
    if (std::system(command.c_str()) != 0) {
      std::fprintf(stderr, "export_bench: the demo generator failed\n");
      return 1;
    }
#else
    std::fprintf(stderr, "usage: export_bench DEMO_DIR (the demo generator was not built)\n");
    return 2;
#endif
  }
  const fs::path install = demo / "prefix/drive_c/Program Files (x86)/World of Warcraft";
  std::ifstream in(demo / "work/mpqToLoad.txt", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();

  CreateArchiveIndex();
  // Announced as the window and the export announce their list: one archive reader for all.
  std::vector<std::string> archivePaths;
  for (std::string line : DecodeMpqToLoad(text.str())) {
    for (char& c : line)
      if (c == '\\') c = '/';
    archivePaths.push_back((install / line).string());
  }
  TArchiveReader::Instance().ExpectArchives(archivePaths);
  for (const std::string& path : archivePaths) {
    TArchiveHandle h;
    if (OpenMpqArchive(path, h)) MpqList->Append(std::move(h));
  }
  std::vector<blp::TExportItem> items;
  for (MpqHandle h : *MpqList) {
    LoadListFile(h, [&items](std::string_view p) {
      if (EqualNoCase(ExtensionPart(p), ".blp")) items.push_back({std::string(p), {}});
    });
  }
  std::printf("export: %zu archives, %zu BLP files, %u processors\n", MpqList->Count(), items.size(),
              std::thread::hardware_concurrency());
  std::printf("%-30s %9s %9s %10s %12s %12s %9s\n", "run", "wall ms", "cpu ms", "files/s", "read MB/s", "write MB/s",
              "files");
  // The reading alone, which one thread does whatever the number of workers: the export's floor.
  {
    const double c0 = CpuMs();
    const auto t0 = Clock::now();
    std::uint64_t bytes = 0;
    std::vector<char> buffer;
    for (const blp::TExportItem& item : items) {
      const auto file = TZanthObject::OpenFileHandler(item.path);
      if (!file) continue;
      buffer.resize(static_cast<std::size_t>(file->GetSize()));
      if (file->GetDataByOffset(0, static_cast<std::uint32_t>(buffer.size()), buffer.data())) bytes += buffer.size();
    }
    const double wall = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    std::printf("%-30s %9.0f %9.0f %10.0f %12.1f\n", "reading, a file per trip", wall, CpuMs() - c0,
                static_cast<double>(items.size()) / wall * 1e3, static_cast<double>(bytes) / 1048576.0 / wall * 1e3);
  }
  // The same as the export reads: each archive's files many to a trip. What every format of the
  // export pays before it writes anything: the floor of DDS and raw.
  auto readRuns = [](const std::string& name, const std::vector<blp::TExportItem>& what) {
    const double c0 = CpuMs();
    const auto t0 = Clock::now();
    std::uint64_t bytes = 0;
    for (std::size_t i = 0; i < what.size();) {
      const TFileMpqRec* first = FileIndex->Find(UpperAscii(what[i].path));
      std::vector<std::string> members;
      for (; i < what.size() && members.size() < 64; ++i) {
        const TFileMpqRec* rec = FileIndex->Find(UpperAscii(what[i].path));
        if (rec == nullptr || first == nullptr || rec->mpqh != first->mpqh) break;
        members.emplace_back(rec->full_name);
      }
      if (members.empty()) {
        ++i;
        continue;
      }
      std::vector<std::string> read;
      ReadArchiveFiles(first->mpqh, members, std::uint64_t{256} << 10, false, read);
      for (const std::string& r : read) bytes += r.size();
    }
    const double wall = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    std::printf("%-30s %9.0f %9.0f %10.0f %12.1f\n", name.c_str(), wall, CpuMs() - c0,
                static_cast<double>(what.size()) / wall * 1e3, static_cast<double>(bytes) / 1048576.0 / wall * 1e3);
  };
  readRuns("reading, many to a trip", items);
  // The DXT textures: byte 8 of a BLP2 header is the encoding, 2 for DXT blocks.
  std::vector<blp::TExportItem> dxt;
  for (const blp::TExportItem& item : items) {
    const auto file = TZanthObject::OpenFileHandler(item.path);
    unsigned char header[12] = {};
    if (file && file->GetHeader(header, sizeof header) && header[8] == 2) dxt.push_back(item);
  }

  // Each run writes into a folder of its own, removed only at the end: file systems make new
  // files slowly among many just deleted (ext4 scans for recently freed inodes), which a user's
  // export does not meet.
  const fs::path outRoot = argc > 2 ? fs::path(argv[2]) : scratch;
  std::vector<fs::path> outs;
  int run = 0;
  // Runs one export `repeat` times and prints the row of the run of median wall time; returns
  // that run's wall time in ms, and the fastest and slowest in `range`. Exports of small files
  // take tens of milliseconds, where one run swings by a fifth on this machine.
  auto measure = [&](const std::string& name, const std::vector<blp::TExportItem>& what, blp::TExportFormat format,
                     bool mips, unsigned workers, int repeat = 1, std::pair<double, double>* range = nullptr) {
    struct TRow {
      double wall, cpu;
      blp::TExportSummary s;
    };
    std::vector<TRow> rows;
    for (int k = 0; k < repeat; ++k) {
      const fs::path out =
          outRoot / ("velmora-export-bench-" + std::to_string(::getpid()) + "-" + std::to_string(run++));
      outs.push_back(out);
      blp::TExportOptions options;
      options.outDir = out.string();
      options.format = format;
      options.mips = mips;
      options.workers = workers;
      TCount events;
      const double c0 = CpuMs();
      const auto t0 = Clock::now();
      const blp::TExportSummary s = blp::ExportBlpFiles(what, options, events);
      rows.push_back({std::chrono::duration<double, std::milli>(Clock::now() - t0).count(), CpuMs() - c0, s});
    }
    std::sort(rows.begin(), rows.end(), [](const TRow& a, const TRow& b) { return a.wall < b.wall; });
    if (range) *range = {rows.front().wall, rows.back().wall};
    const TRow& r = rows[rows.size() / 2];
    const std::string label = repeat > 1 ? name + ", median of " + std::to_string(repeat) : name;
    std::printf("%-30s %9.0f %9.0f %10.0f %12.1f %12.1f %9zu\n", label.c_str(), r.wall, r.cpu,
                static_cast<double>(r.s.written + r.s.failed) / r.wall * 1e3,
                static_cast<double>(r.s.bytesRead) / 1048576.0 / r.wall * 1e3,
                static_cast<double>(r.s.bytesWritten) / 1048576.0 / r.wall * 1e3, r.s.outputs);
    return r.wall;
  };
  for (const bool mips : {false, true}) {
    for (const unsigned workers : {1u, 0u}) {
      measure(std::string(mips ? "PNG all levels" : "PNG level 0") + ", " + (workers == 1 ? "1 worker" : "1 per core"),
              items, blp::TExportFormat::kPng, mips, workers);
    }
  }
  measure("DDS, 1 per core", items, blp::TExportFormat::kDds, false, 0);
  measure("raw, 1 per core", items, blp::TExportFormat::kRaw, false, 0);

  std::printf("\nDXT textures alone: %zu files\n", dxt.size());
  auto compare = [&](const std::string& prefix, const std::vector<blp::TExportItem>& what) {
    readRuns(prefix + "reading alone", what);
    const double png0 = measure(prefix + "PNG level 0", what, blp::TExportFormat::kPng, false, 0, 3);
    const double pngAll = measure(prefix + "PNG all levels", what, blp::TExportFormat::kPng, true, 0);
    std::pair<double, double> ddsRange, rawRange;
    const double dds = measure(prefix + "DDS", what, blp::TExportFormat::kDds, false, 0, 5, &ddsRange);
    const double raw = measure(prefix + "raw", what, blp::TExportFormat::kRaw, false, 0, 5, &rawRange);
    std::printf("%sDDS %.1fx and raw %.1fx as fast as PNG level 0 (each of their runs: %.1fx to %.1fx and %.1fx to "
                "%.1fx); %.1fx and %.1fx as PNG with all levels\n",
                prefix.c_str(), png0 / dds, png0 / raw, png0 / ddsRange.second, png0 / ddsRange.first,
                png0 / rawRange.second, png0 / rawRange.first, pngAll / dds, pngAll / raw);
  };
  compare("DXT: ", dxt);

  // The demo's DXT textures are mostly a few hundred bytes, where reading a file from the archive
  // reader costs as much as anything else. Game textures are tens to hundreds of KB: the real
  // DXT samples of ../shared/realdata (or $VELMORA_REALDATA) and the demo's DXT textures of 16 KB
  // to 1 MB, copied into one archive until it holds kSizedFiles files.
  std::vector<std::string> sized;
  const char* realEnv = std::getenv("VELMORA_REALDATA");
  const fs::path real = fs::path(realEnv ? realEnv : VELMORA_REALDATA_DIR) / "blp";
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(real, ec)) {
    if (e.path().extension() != ".blp") continue;
    std::ifstream file(e.path(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), {});
    if (bytes.size() > 148 && bytes.compare(0, 4, "BLP2") == 0 && bytes[8] == 2) sized.push_back(std::move(bytes));
  }
  const std::size_t realCount = sized.size();
  for (const blp::TExportItem& item : dxt) {
    const auto file = TZanthObject::OpenFileHandler(item.path);
    if (!file || file->GetSize() < 16384 || file->GetSize() > 1048576) continue;
    std::string bytes(static_cast<std::size_t>(file->GetSize()), '\0');
    if (file->GetDataByOffset(0, static_cast<std::uint32_t>(bytes.size()), bytes.data())) sized.push_back(std::move(bytes));
  }
  FreeArchiveIndex();
  if (sized.empty()) {
    std::printf("\nno DXT texture of 16 KB to 1 MB\n");
  } else {
    constexpr std::size_t kSizedFiles = 400;
    std::vector<test::MpqMember> members;
    std::uint64_t bytes = 0;
    for (std::size_t i = 0; i < kSizedFiles; ++i) {
      members.push_back({"Sized\\t" + std::to_string(i) + ".blp", sized[i % sized.size()]});
      bytes += members.back().data.size();
    }
    fs::create_directories(scratch);
    const fs::path archive = scratch / "sized.MPQ";
    test::WriteMpq(archive, members, test::ListFileOf(members));
    CreateArchiveIndex();
    TArchiveHandle h;
    if (OpenMpqArchive(archive.string(), h)) MpqList->Append(std::move(h));
    std::vector<blp::TExportItem> sizedItems;
    for (MpqHandle m : *MpqList) {
      LoadListFile(m, [&sizedItems](std::string_view p) { sizedItems.push_back({std::string(p), {}, {}}); });
    }
    std::printf("\nDXT textures of game size: %zu files, %.1f MB, copies of %zu real samples and %zu demo textures\n",
                sizedItems.size(), static_cast<double>(bytes) / 1048576.0, realCount, sized.size() - realCount);
    compare("sized DXT: ", sizedItems);
  }
  FreeArchiveIndex();
  for (const fs::path& out : outs) fs::remove_all(out);
  fs::remove_all(scratch);
  return 0;
}
