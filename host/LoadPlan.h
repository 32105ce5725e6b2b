// What the start-up loading opens, decided from the command line, the registry, the archive list
// and the game folder; and, when it ends with nothing to show, the words that say why. Shared by
// the window and the headless export; plain C++, the caller opens the archives and writes the log.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// What the command line asks of the loading.
struct TStartupOptions {
  std::optional<std::string> gameDir;   // --game DIR: the installation directory, a host path
  std::optional<std::string> listFile;  // --list FILE: the archive list in place of ./mpqToLoad.txt
  std::vector<std::string> archives;    // .mpq files named: opened in this order, nothing else
  std::vector<std::string> blpFiles;    // .blp files named: shown under their directory's name

  // Files were named and neither --game nor --list: the registry and the list are left alone.
  bool FilesOnly() const { return !archives.empty() || (!blpFiles.empty() && !gameDir && !listFile); }
};

enum class TStartupProblem {
  kNone,
  kNoRegistryKey,    // the registry (the Wine prefix's system.reg) has no key of the game
  kNoInstallDir,     // the installation directory does not exist
  kNoListFile,       // no archive list, and no game folder to take the client's order from
  kNoArchiveOpened,  // archives were named or looked for, none opened
  kNoTextures,       // archives opened, and none lists a BLP file
};

// An archive that did not open, or whose file list was lost: what the log and the notice say
// ("<archive> skipped: the archive reader stopped (crash)") and the same in two parts, for
// "<archive>: <what>" on stderr.
struct TArchiveTrouble {
  std::string archive;  // the name the log gives the archive: its list line or its path
  std::string what;     // "skipped: the archive reader stopped (crash)", "not opened: ...", ...
  std::string line;     // the log's and the notice's line
};

struct TStartupReport {
  TStartupProblem problem = TStartupProblem::kNone;
  std::string hivePath;        // the system.reg that was read; empty with --game or files named
  std::string registryReason;  // why the key was not found there
  std::string installDir;      // the installation directory as named (registry value or --game)
  std::string hostDir;         // where that is on this host
  bool installDirMissing = false;
  std::string listFile;        // the archive list read or looked for, as a host path
  bool fromCommandLine = false;  // the archives were named on the command line
  bool clientOrder = false;      // no list: the client's own order of the game folder
  std::string locale;            // the locale folder the client's order used
  std::size_t archivesNamed = 0;
  std::size_t archivesOpened = 0;
  // Each archive left out because it stopped the archive reader (at its open or while its file
  // list was read), could not be opened (for another reason than not being there), or whose file
  // list was refused, cut or could not be read; in loading order.
  std::vector<TArchiveTrouble> archiveTroubles;
  // Why the archive reader cannot run, where it was looked for; empty when it can.
  std::string readerProblem;
};

// The notice's lines about the archives: the reader that cannot run, then each trouble.
std::vector<std::string> ArchiveTroubleLines(const TStartupReport& report);

struct TLoadPlan {
  bool load = false;               // archives are to be opened
  std::string installPath;         // joined before each line, without a separator
  std::string winePrefix;          // maps Windows paths onto this host
  std::string listFile;            // non-empty: the lines are read from this file
  std::vector<std::string> lines;  // otherwise these
  std::vector<std::string> log;    // log lines, in order ("World of Warcraft registry key not found", ...)
  std::string error;               // an "InstallPath" that is no string: an error for the user
  TStartupReport report;
};

// The registry is read only when neither files nor --game are given; "mpqToLoad.txt" in the
// working directory only without --list. Without a list, a game folder that exists gives the
// client's own order (host/ClientOrder.h). Missing key, missing directory and missing list each
// add their log line.
TLoadPlan PlanStartupLoading(const TStartupOptions& options, const std::string& winePrefix);

// The plan's archive lines: those of its list file (decoded as "mpqToLoad.txt"), or its own
// lines when it names no file. False, with the reason in `error`, when the file cannot be read.
bool PlanLines(const TLoadPlan& plan, std::vector<std::string>& lines, std::string& error);

// Settles the report once the archives are open: `opened` archives, `textures` files shown.
void FinishStartupReport(TStartupReport& report, std::size_t opened, std::size_t textures);

// A few lines saying what was looked for and where, what to do next, and where to read more
// (the manual page, the log file); empty without a problem.
std::string DescribeStartupProblem(const TStartupReport& report, const std::string& logFile);

}  // namespace velmora
