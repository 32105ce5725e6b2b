// Listfile ingestion benchmark: writes 12 client-like archives holding 1,000,000 listfile lines,
// then times LoadListFile over all of them and, in the same run, a straightforward index built
// on std::unordered_map<std::string, record>. Each measurement runs in a fresh process of this
// program so that peak resident memory belongs to that variant alone. The archive reader process
// that makes the StormLib calls counts too: its CPU time and its memory growth are added in.
//
//   bench_ingest [--lines N] [--runs R] [--dir D]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "archive/PathParts.h"
#include "archive/Zanth.h"
#include "base/Lines.h"
#include "support/MpqWriter.h"
#include "bench/ingest/ListGenerator.h"
#include "bench/BenchProcess.h"

namespace fs = std::filesystem;
using namespace velmora;

namespace {

using velmora::bench::ReaderFigures;
using velmora::bench::StatusKiB;
using velmora::bench::TReaderFigures;

constexpr std::size_t kArchives = 12;

fs::path ArchivePath(const fs::path& dir, std::size_t i) { return dir / ("bench" + std::to_string(i) + ".mpq"); }

// User plus system CPU time of this process in milliseconds.
double CpuMs() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  const auto ms = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3; };
  return ms(u.ru_utime) + ms(u.ru_stime);
}

// What both variants hand to the tree: count and bytes, so no call can be optimised away.
struct THookSink {
  std::size_t calls = 0;
  std::size_t bytes = 0;
};

// The straightforward index: owned strings as keys and in the record, one map.
struct TPlainRec {
  MpqHandle mpqh = 0;
  std::string dir;
  std::string full_name;
};

std::size_t IngestPlain(const std::vector<MpqHandle>& archives, THookSink& sink,
                        std::unordered_map<std::string, TPlainRec>& index) {
  for (MpqHandle mpqh : archives) {
    // The listfile's bytes come from the archive reader, as the index's do.
    TArchiveReader& reader = TArchiveReader::Instance();
    const TArchiveReader::TFileOpen open = reader.OpenFile(mpqh, "(listfile)");
    if (open.handle == 0) continue;
    const TArchiveFileHandle file(open.handle);
    std::string text(static_cast<std::uint32_t>(open.size), '\0');
    if (!text.empty() &&
        reader.Read(file.Get(), 0, static_cast<std::uint32_t>(text.size()), text.data()).complete) {
      ForEachLine(text, [&](std::size_t begin, std::size_t end) {
        const std::string line = text.substr(begin, end - begin);
        const std::string trimmed(TrimBlanks(line));
        std::string key = UpperAscii(trimmed);
        const std::string dir(DirectoryPart(key));
        const auto [it, inserted] = index.try_emplace(std::move(key));
        if (inserted) {
          ++sink.calls;
          sink.bytes += trimmed.size();
        }
        it->second = TPlainRec{mpqh, dir, line};
      });
    }
  }
  return index.size();
}

;
// One measurement in this process, the archive reader's share included; prints "ms cpuMs keys
// calls bytes rssBeforeKiB peakKiB readerCpuMs readerGrowthKiB".
int RunVariant(const std::string& variant, const fs::path& dir) {
  CreateArchiveIndex();
  std::vector<MpqHandle> archives;
  for (std::size_t i = 0; i < kArchives; ++i) {
    TArchiveHandle archive;
    if (!OpenMpqArchive(ArchivePath(dir, i).string(), archive)) {
      std::fprintf(stderr, "cannot open %s\n", ArchivePath(dir, i).c_str());
      return 1;
    }
    const MpqHandle h = archive.Get();
    MpqList->Append(std::move(archive));
    archives.push_back(h);
  }
  THookSink sink;
  const long rssBefore = StatusKiB("VmRSS");
  const TReaderFigures readerBefore = ReaderFigures(true);
  std::size_t keys = 0;
  auto plain = std::make_unique<std::unordered_map<std::string, TPlainRec>>();
  const double cpuStart = CpuMs();
  const auto start = std::chrono::steady_clock::now();
  if (variant == "index") {
    for (MpqHandle h : archives) {
      LoadListFile(h, [&](std::string_view path) {
        ++sink.calls;
        sink.bytes += path.size();
      });
    }
    keys = FileIndex->Count();
  } else {
    keys = IngestPlain(archives, sink, *plain);
  }
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  const TReaderFigures readerAfter = ReaderFigures(false);
  const double readerCpu = readerAfter.cpuMs - readerBefore.cpuMs;
  const double cpu = CpuMs() - cpuStart + readerCpu;
  const long peak = StatusKiB("VmHWM") + readerAfter.peakKiB;
  std::printf("%.3f %.3f %zu %zu %zu %ld %ld %.3f %ld\n", ms, cpu, keys, sink.calls, sink.bytes,
              rssBefore + readerBefore.rssKiB, peak, readerCpu, readerAfter.peakKiB - readerBefore.rssKiB);
  plain.reset();
  FreeArchiveIndex();
  return 0;
}

struct TResult {
  double ms = 0;
  double cpuMs = 0;
  std::size_t keys = 0;
  std::size_t calls = 0;
  long rssBefore = 0;
  long peak = 0;
  double readerCpuMs = 0;
  long readerGrowth = 0;
};

TResult RunChild(const std::string& self, const std::string& variant, const fs::path& dir) {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    close(fds[1]);
    execl(self.c_str(), self.c_str(), "--run", variant.c_str(), dir.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string out;
  char buf[256];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  TResult r;
  std::size_t bytes = 0;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
      std::sscanf(out.c_str(), "%lf %lf %zu %zu %zu %ld %ld %lf %ld", &r.ms, &r.cpuMs, &r.keys, &r.calls, &bytes,
                  &r.rssBefore, &r.peak, &r.readerCpuMs, &r.readerGrowth) != 9) {
    throw std::runtime_error("the " + variant + " run failed: " + out);
  }
  return r;
}

std::string SelfPath() {
  std::error_code ec;
  const fs::path p = fs::read_symlink("/proc/self/exe", ec);
  if (ec) throw std::runtime_error("cannot find this program's path");
  return p.string();
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 4 && std::strcmp(argv[1], "--run") == 0) return RunVariant(argv[2], argv[3]);

    std::size_t lines = 1000000;
    int runs = 5;
    fs::path dir;
    for (int i = 1; i + 1 < argc; i += 2) {
      const std::string opt = argv[i];
      if (opt == "--lines") lines = std::strtoull(argv[i + 1], nullptr, 10);
      else if (opt == "--runs") runs = std::max(1, std::atoi(argv[i + 1]));
      else if (opt == "--dir") dir = argv[i + 1];
      else throw std::runtime_error("unknown option " + opt);
    }
    const bool ownDir = dir.empty();
    if (ownDir) dir = fs::temp_directory_path() / ("velmora-ingest-" + std::to_string(getpid()));
    fs::create_directories(dir);

    const auto genStart = std::chrono::steady_clock::now();
    bench::TGeneratedSet set = bench::GenerateListFiles(lines);
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < set.listfiles.size(); ++i) {
      bytes += set.listfiles[i].size();
      test::WriteMpq(ArchivePath(dir, i), {}, set.listfiles[i]);
    }
    set.listfiles.clear();
    const double genMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - genStart).count();
    const auto pct = [&](std::size_t n) { return 100.0 * static_cast<double>(n) / static_cast<double>(set.lines); };
    std::printf("archives: %zu in %s (%.1f MiB of listfiles, written in %.0f ms)\n", kArchives, dir.c_str(),
                static_cast<double>(bytes) / 1048576.0, genMs);
    std::printf("lines: %zu; repeated from earlier archives %.1f%% (%.1f%% in another case); .blp %.1f%%; "
                "padded %zu; blank %zu\n",
                set.lines, pct(set.repeatedLines), pct(set.otherCaseRepeats), pct(set.blpLines), set.paddedLines,
                set.blankLines);

    const std::string self = SelfPath();
    std::vector<TResult> index;
    std::vector<TResult> plain;
    for (int r = 0; r < runs; ++r) {
      index.push_back(RunChild(self, "index", dir));
      plain.push_back(RunChild(self, "plain", dir));
    }
    if (ownDir) fs::remove_all(dir);

    const double millions = static_cast<double>(set.lines) / 1e6;
    const auto report = [&](const char* name, std::vector<TResult> results) {
      std::sort(results.begin(), results.end(), [](const TResult& a, const TResult& b) { return a.ms < b.ms; });
      const TResult& median = results[results.size() / 2];
      long peak = 0;
      long growth = 0;
      for (const TResult& t : results) {
        peak = std::max(peak, t.peak);
        growth = std::max(growth, t.peak - t.rssBefore);
      }
      double cpu = results.front().cpuMs;
      for (const TResult& t : results) cpu = std::min(cpu, t.cpuMs);
      std::printf("%-9s %8.1f ms/M lines wall (median of %zu; best %.1f; least CPU %.1f)  peak RSS %6.1f MiB "
                  "(+%.1f MiB over the open archives)  keys %zu, new paths %zu\n",
                  name, median.ms / millions, results.size(), results.front().ms / millions, cpu / millions,
                  static_cast<double>(peak) / 1024.0, static_cast<double>(growth) / 1024.0, median.keys,
                  median.calls);
      std::printf("          of which the archive reader process: cpu %.1f ms/M lines, +%.1f MiB\n",
                  median.readerCpuMs / millions, static_cast<double>(median.readerGrowth) / 1024.0);
      return std::make_pair(median.ms, growth);
    };
    std::printf("LoadListFile over all %zu archives, wall time per million lines:\n", kArchives);
    const auto [indexMs, indexGrowth] = report("index", index);
    const auto [plainMs, plainGrowth] = report("baseline", plain);
    if (index.front().keys != plain.front().keys || index.front().calls != plain.front().calls) {
      std::printf("MISMATCH: the two variants disagree on keys or new paths\n");
      return 1;
    }
    std::printf("baseline / index: time %.2fx, memory growth %.2fx\n", plainMs / indexMs,
                static_cast<double>(plainGrowth) / static_cast<double>(std::max(1L, indexGrowth)));
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_ingest: %s\n", e.what());
    return 1;
  }
}
