// The headless export: loading as the window does, selecting by pattern, exporting with a
// progress line.
#include "app/HeadlessExport.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <stdexcept>

#include "app/CommandLine.h"
#include "archive/PathParts.h"
#include "archive/Zanth.h"
#include "base/Ascii.h"
#include "base/Escape.h"
#include "blp/BlpExport.h"
#include "host/HostPath.h"
#include "host/LoadPlan.h"
#include "host/Registry.h"
#include "log/LogHandler.h"
#include "ui/NamedFiles.h"

namespace velmora {
namespace {

constexpr const char* kProgram = "VelmoraGL";

bool IsBlpPath(std::string_view path) { return EqualNoCase(ExtensionPart(path), ".blp"); }

// The first `bytes` bytes of `s`, less a UTF-8 sequence that would be cut.
std::string CutUtf8(const std::string& s, std::size_t bytes) {
  std::size_t n = std::min(bytes, s.size());
  while (n > 0 && n < s.size() && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return s.substr(0, n);
}

// Messages on stderr; on a terminal, a progress line that each message first clears.
class TTerminalEvents : public blp::TExportEvents {
public:
  TTerminalEvents() : terminal_(::isatty(STDERR_FILENO) == 1) {}

  void Progress(std::size_t done, std::size_t total, const std::string& current) override {
    if (!terminal_) return;
    const auto now = std::chrono::steady_clock::now();
    if (done < total && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    // Column 0, the line cleared to its end: "[done/total] path", cut to fit 80 columns.
    std::string line = "[" + std::to_string(done) + "/" + std::to_string(total) + "] " + EscapeName(current);
    if (line.size() > 79) line = CutUtf8(line, 76) + "...";
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    shown_ = true;
  }
  void Failed(const std::string& path, const std::string& reason) override {
    ClearLine();
    // Names come from archives and listfiles: shown, never obeyed by the terminal.
    std::fprintf(stderr, "%s: %s: %s\n", kProgram, EscapeName(path).c_str(), EscapeName(reason).c_str());
  }
  void ClearLine() {
    if (shown_) std::fputs("\r\033[K", stderr);
    shown_ = false;
  }

private:
  bool terminal_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_{};
};

// Opens what the plan names; the archive paths of every file come back in listfile order, each
// once, and each archive opened with its name (its list line, or its path as named). What did not
// open or lost its file list goes into the report.
std::vector<std::string> LoadArchives(const TLoadPlan& plan, TStartupReport& report,
                                      std::map<MpqHandle, std::string>& names) {
  std::vector<std::string> lines;
  std::string error;
  if (!PlanLines(plan, lines, error)) throw std::runtime_error("cannot read " + plan.listFile + ": " + error);
  if (!plan.listFile.empty()) report.archivesNamed = lines.size();
  // One archive reader for all of them: its sandbox covers the whole list.
  std::vector<std::string> hostPaths;
  for (const std::string& line : lines) hostPaths.push_back(MapWindowsPath(plan.installPath + line, plan.winePrefix));
  TArchiveReader::Instance().ExpectArchives(hostPaths);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const MpqHandle h = OpenArchiveAt(hostPaths[i], lines[i], &report);
    if (h != 0) names[h] = lines[i];
  }
  std::vector<std::string> paths;
  for (MpqHandle h : *MpqList) {
    IngestListFile(
        h, names[h], [&paths](std::string_view path) { paths.emplace_back(path); }, &report);
  }
  return paths;
}

// Every archive that did not open, stopped the reader or lost its file list, on stderr; true when
// there was one (the export then ends with status 1, whatever it wrote).
bool PrintArchiveTroubles(const TStartupReport& report) {
  if (!report.readerProblem.empty()) std::fprintf(stderr, "%s: %s\n", kProgram, report.readerProblem.c_str());
  for (const TArchiveTrouble& t : report.archiveTroubles) {
    std::fprintf(stderr, "%s: %s: %s\n", kProgram, EscapeName(t.archive).c_str(), EscapeName(t.what).c_str());
  }
  return !report.readerProblem.empty() || !report.archiveTroubles.empty();
}

// The archive reader logs its stops while the export runs, and its protections.
struct TStopLog {
  TStopLog() {
    TArchiveReader::Instance().SetStopHook(LogReaderStop);
    TArchiveReader::Instance().SetSandboxHook([](const std::string& line) { WriteLog(line); });
  }
  ~TStopLog() {
    TArchiveReader::Instance().SetStopHook({});
    TArchiveReader::Instance().SetSandboxHook({});
  }
  TStopLog(const TStopLog&) = delete;
  TStopLog& operator=(const TStopLog&) = delete;
};

struct TArchiveIndex {
  TArchiveIndex() { CreateArchiveIndex(); }
  ~TArchiveIndex() { FreeArchiveIndex(); }
  TArchiveIndex(const TArchiveIndex&) = delete;
  TArchiveIndex& operator=(const TArchiveIndex&) = delete;
};

bool IsSlash(char c) { return c == '/' || c == '\\'; }

// Names of archives compare with '/' and '\' alike and letters a-z in either case.
bool SameArchiveName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperAsciiChar(a[i]) != UpperAsciiChar(b[i]) && !(IsSlash(a[i]) && IsSlash(b[i]))) return false;
  }
  return true;
}

std::string_view LastComponent(std::string_view path) {
  std::size_t cut = path.size();
  while (cut > 0 && !IsSlash(path[cut - 1])) --cut;
  return path.substr(cut);
}

// The archive --from names: the one whose name as listed (or as named on the command line) it is,
// else, for a name without a folder, the one whose file name it is. 0 with the reason in `why`
// when none or several are.
MpqHandle FindFromArchive(const std::string& from, const std::map<MpqHandle, std::string>& names, std::string& why) {
  std::vector<MpqHandle> found;
  for (const auto& [h, name] : names) {
    if (SameArchiveName(name, from)) found.push_back(h);
  }
  if (found.empty() && LastComponent(from).size() == from.size()) {
    for (const auto& [h, name] : names) {
      if (SameArchiveName(LastComponent(name), from)) found.push_back(h);
    }
  }
  if (found.size() == 1) return found.front();
  std::string list;
  for (const auto& [h, name] : names) {
    if (found.empty() || std::find(found.begin(), found.end(), h) != found.end()) list += (list.empty() ? "" : ", ") + name;
  }
  why = "--from " + from + ": " +
        (found.empty() ? "no archive opened has that name (opened: " + (list.empty() ? std::string("none") : list) + ")"
                       : "several archives have that file name (" + list + "): name it by its path");
  return 0;
}

bool Selected(const std::vector<std::string>& patterns, std::string_view path) {
  for (const std::string& p : patterns) {
    if (blp::MatchesExportPattern(p, path)) return true;
  }
  return false;
}

}  // namespace

int RunHeadlessExport(const TCommandLine& cmd) {
  TArchiveIndex index;
  const TStopLog stopLog;
  TLoadPlan plan = PlanStartupLoading(cmd.startup, WinePrefix());
  for (const std::string& line : plan.log) WriteLog(line);
  if (!plan.error.empty()) {
    std::fprintf(stderr, "%s: %s\n", kProgram, plan.error.c_str());
    return 1;
  }
  std::vector<std::string> paths;
  std::map<MpqHandle, std::string> names;
  try {
    if (plan.load) paths = LoadArchives(plan, plan.report, names);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
    return 1;
  }
  // --from: each file's version in that archive, and only the files it holds.
  MpqHandle from = 0;
  if (!cmd.fromArchive.empty()) {
    std::string why;
    from = FindFromArchive(cmd.fromArchive, names, why);
    if (from == 0) {
      PrintArchiveTroubles(plan.report);
      std::fprintf(stderr, "%s: %s\n", kProgram, EscapeName(why).c_str());
      return 1;
    }
  }
  auto heldThere = [&](const std::string& path) {
    if (from == 0) return true;
    for (const TFileMpqRec& rec : FileIndex->Sources(UpperAscii(path))) {
      if (rec.mpqh == from) return true;
    }
    return false;
  };

  // Raw export takes every file of the index; the others take BLP files.
  const bool anyFile = cmd.format == blp::TExportFormat::kRaw;
  std::vector<blp::TExportItem> items;
  std::size_t textures = 0;
  for (const std::string& path : paths) {
    const bool blp = IsBlpPath(path);
    textures += blp ? 1 : 0;
    if ((anyFile || blp) && Selected(cmd.patterns, path) && heldThere(path)) items.push_back({path, {}, {}, from});
  }
  // Files on disk belong to no archive.
  for (const std::string& file : from == 0 ? cmd.startup.blpFiles : std::vector<std::string>{}) {
    const std::string treePath = DiskFileTreePath(file);
    if (Selected(cmd.patterns, treePath)) items.push_back({treePath, file, {}});
  }

  const bool archivesLost = PrintArchiveTroubles(plan.report);
  FinishStartupReport(plan.report, MpqList->Count(), textures + cmd.startup.blpFiles.size());
  if (const std::string problem = DescribeStartupProblem(plan.report, LogFileName); !problem.empty()) {
    std::fprintf(stderr, "%s: %s\n", kProgram, problem.c_str());
    return 1;
  }
  if (items.empty()) {
    std::string list;
    for (const std::string& p : cmd.patterns) list += " '" + p + "'";
    const std::string where = from == 0 ? std::string() : " in " + names[from];
    std::fprintf(stderr, "%s: no %s matches%s%s\n", kProgram, anyFile ? "file" : "BLP file", EscapeName(list).c_str(),
                 EscapeName(where).c_str());
    return 1;
  }

  TTerminalEvents events;
  blp::TExportOptions options;
  options.outDir = cmd.outDir;
  options.format = cmd.format;
  options.mips = cmd.mips;
  options.overwrite = cmd.overwrite;
  const blp::TExportSummary summary = blp::ExportBlpFiles(items, options, events);
  events.ClearLine();
  // After the progress line on a terminal; without one, the only line besides the failures, so
  // that a script's log has the count.
  std::fprintf(stderr, "%s in %s\n", blp::ExportSummaryLine(summary).c_str(), EscapeName(cmd.outDir).c_str());
  return summary.failed == 0 && !archivesLost ? 0 : 1;
}

}  // namespace velmora
