// The program's command line, GNU style, read with QCommandLineParser before any application
// object exists: --help, --version, usage errors and the headless export never need a display.
//
//   VelmoraGL [--game DIR] [--list FILE] [FILE.mpq|FILE.blp...]
//   VelmoraGL [--game DIR] [--list FILE] [FILE...] --export PATTERN... --out DIR
//             [--format png|dds|raw] [--mips] [--overwrite] [--from ARCHIVE]
//
// The arguments after --export up to the next option are its patterns. Qt's own window options
// (-platform, -display, -style, ...) are let through to the application object.
#pragma once

#include <QStringList>

#include <string>
#include <vector>

#include "blp/BlpExport.h"
#include "host/LoadPlan.h"

namespace velmora {

struct TCommandLine {
  enum class TAction { kWindow, kExport, kHelp, kVersion, kUsageError };
  TAction action = TAction::kWindow;
  // kHelp: the usage text; kVersion: the version line and the archive reader's protections; kUsageError: what is wrong. Each ends in a
  // line break.
  std::string text;
  TStartupOptions startup;
  std::vector<std::string> patterns;  // --export, as UTF-8
  std::string outDir;                 // --out
  blp::TExportFormat format = blp::TExportFormat::kPng;  // --format
  bool mips = false;                  // --mips
  bool overwrite = false;             // --overwrite
  // --from: the archive whose versions are exported, named by its path as the list or the command
  // line gives it, or by its file name; empty: the supplier of each file.
  std::string fromArchive;
};

// The program's arguments, its name first, decoded as file names are.
QStringList ProgramArguments(int argc, char** argv);

// Reads the arguments. Files named must exist and end in .mpq or .blp (any case); --list FILE
// must exist; --export needs patterns and --out, which go only with it, as --format, --mips,
// --overwrite and --from do.
TCommandLine ParseCommandLine(const QStringList& arguments);

// The exit status of each action: 0 for help and version, 2 for a usage error.
inline constexpr int kExitUsage = 2;

}  // namespace velmora
