// Deciding what the start-up loading opens, and saying why it found nothing.
#include "host/LoadPlan.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "base/FileRead.h"
#include "host/ClientOrder.h"
#include "host/GameInstall.h"
#include "host/MpqToLoad.h"

namespace velmora {
namespace {

constexpr const char* kDefaultList = "mpqToLoad.txt";

std::string CurrentDir() {
  char buf[PATH_MAX];
  return ::getcwd(buf, sizeof buf) != nullptr ? std::string(buf) : std::string(".");
}

std::string Absolute(const std::string& path) {
  if (path.empty() || path.front() == '/') return path;
  return CurrentDir() + "/" + path;
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

TLoadPlan PlanStartupLoading(const TStartupOptions& options, const std::string& winePrefix) {
  TLoadPlan plan;
  TStartupReport& r = plan.report;
  plan.winePrefix = winePrefix;

  // Files named on the command line replace the registry and the list.
  if (options.FilesOnly()) {
    r.fromCommandLine = true;
    plan.lines = options.archives;
    plan.load = !plan.lines.empty();
    r.archivesNamed = plan.lines.size();
    return plan;
  }

  // The game folder: named, or from the registry.
  if (options.gameDir) {
    r.installDir = *options.gameDir;
    r.hostDir = Absolute(*options.gameDir);
    plan.installPath = r.hostDir;
    if (!plan.installPath.empty() && plan.installPath.back() != '/') plan.installPath.push_back('/');
    r.installDirMissing = !IsDirectory(r.hostDir);
  } else {
    const TGameInstall game = FindGameInstall(winePrefix);
    r.hivePath = game.hivePath;
    if (game.status == TGameInstallStatus::kNoRegistryKey) {
      plan.log.push_back("World of Warcraft registry key not found");
      r.problem = TStartupProblem::kNoRegistryKey;
      r.registryReason = game.reason;
      return plan;
    }
    if (game.status == TGameInstallStatus::kInvalidValueType) {
      plan.error = game.reason;
      return plan;
    }
    plan.installPath = game.installPath;
    r.installDir = game.installPath;
    r.hostDir = game.hostDirectory;
    r.installDirMissing = !game.installPath.empty() && !game.directoryExists;
  }
  if (r.installDirMissing) {
    plan.log.push_back("Installation directory " + r.installDir + " not found" +
                       (r.hostDir != r.installDir ? " (" + r.hostDir + ")" : std::string()));
  }

  // The archive list; without one, the client's own order of a game folder that exists.
  const std::string list = options.listFile.value_or(kDefaultList);
  r.listFile = Absolute(list);
  if (FileExists(list)) {
    plan.listFile = list;
    plan.load = true;
    return plan;
  }
  plan.log.push_back(options.listFile ? *options.listFile + " not found" : std::string(kDefaultList) + " not found");
  if (r.hostDir.empty() || r.installDirMissing) {
    r.problem = r.installDirMissing ? TStartupProblem::kNoInstallDir : TStartupProblem::kNoListFile;
    return plan;
  }
  const TClientArchives client = ClientArchiveOrder(r.hostDir);
  r.clientOrder = true;
  r.locale = client.locale;
  r.archivesNamed = client.lines.size();
  // The lines are relative to the folder as found on this host.
  plan.installPath = r.hostDir;
  if (plan.installPath.back() != '/') plan.installPath.push_back('/');
  plan.lines = client.lines;
  plan.load = true;
  plan.log.push_back("Archives in the client's own order from " + r.hostDir +
                     (client.locale.empty() ? std::string(", no locale folder") : ", locale " + client.locale));
  return plan;
}

bool PlanLines(const TLoadPlan& plan, std::vector<std::string>& lines, std::string& error) {
  if (plan.listFile.empty()) {
    lines = plan.lines;
    return true;
  }
  std::string bytes;
  if (!ReadFileBytes(plan.listFile, bytes, error)) return false;
  lines = DecodeMpqToLoad(bytes);
  return true;
}

std::vector<std::string> ArchiveTroubleLines(const TStartupReport& report) {
  std::vector<std::string> lines;
  if (!report.readerProblem.empty()) lines.push_back(report.readerProblem);
  for (const TArchiveTrouble& t : report.archiveTroubles) lines.push_back(t.line);
  return lines;
}

void FinishStartupReport(TStartupReport& report, std::size_t opened, std::size_t textures) {
  report.archivesOpened = opened;
  if (report.problem != TStartupProblem::kNone || textures > 0) return;
  if (opened > 0) {
    report.problem = TStartupProblem::kNoTextures;
  } else if (report.installDirMissing) {
    report.problem = TStartupProblem::kNoInstallDir;
  } else if (report.archivesNamed > 0 || report.clientOrder || (!report.fromCommandLine && !report.listFile.empty())) {
    report.problem = TStartupProblem::kNoArchiveOpened;
  }
}

std::string DescribeStartupProblem(const TStartupReport& r, const std::string& logFile) {
  std::string text;
  switch (r.problem) {
    case TStartupProblem::kNone:
      return {};
    case TStartupProblem::kNoRegistryKey:
      text = "No game found: " + r.registryReason + ".\n"
             "Set WINEPREFIX to the Wine prefix the game runs in, or name the game folder: VelmoraGL --game DIR.";
      break;
    case TStartupProblem::kNoInstallDir:
      text = "No game found: the installation directory " + r.installDir + " does not exist" +
             (r.hostDir != r.installDir ? " (looked for " + r.hostDir + ")" : std::string()) + ".\n" +
             (r.hivePath.empty() ? std::string("Name the game folder with --game DIR.")
                                 : "Name the game folder with --game DIR, or correct InstallPath in " + r.hivePath + ".");
      break;
    case TStartupProblem::kNoListFile:
      text = "No archive list: " + r.listFile +
             " does not exist, and the registry names no installation directory to read the client's archives from.\n"
             "Copy the sample mpqToLoad.txt into the working folder, or start with --list FILE or --game DIR.";
      break;
    case TStartupProblem::kNoArchiveOpened:
      if (!r.readerProblem.empty()) {
        text = "No archive opened: the archive reader, the program that reads them, cannot run (see above).\n"
               "Install the viewer whole (cmake --install), or run it from its build folder.";
      } else if (r.fromCommandLine) {
        text = "No archive opened: none of the " + std::to_string(r.archivesNamed) +
               " archives named on the command line could be opened.";
      } else if (r.clientOrder) {
        text = "No archive opened: " + r.hostDir + " holds no Data folder with the client's archives (common.MPQ, ...).\n"
               "Name the folder that holds Data with --game DIR.";
      } else {
        text = "No archive opened: none of the lines of " + r.listFile + " names an archive under " +
               (r.installDir.empty() ? std::string("the working folder") : r.installDir) + ".\n"
               "Each line continues the installation directory, for example Data\\common.MPQ.";
      }
      break;
    case TStartupProblem::kNoTextures:
      text = r.archivesOpened == 1 ? std::string("The archive opened lists no BLP file.")
                                   : "None of the " + std::to_string(r.archivesOpened) + " archives opened lists a BLP file.";
      break;
  }
  text += "\nSee the manual page (man VelmoraGL); the log: " +
          (logFile.empty() ? std::string("none could be written") : logFile) + ".";
  return text;
}

}  // namespace velmora
