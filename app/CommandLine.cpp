// Reading the command line.
#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "archive/SandboxSupport.h"
#include "base/Ascii.h"
#include "host/FileKinds.h"

namespace velmora {
namespace {

constexpr const char* kProgram = "VelmoraGL";

const char* const kHelp =
    "Usage: VelmoraGL [--game DIR] [--list FILE] [FILE.mpq|FILE.blp...]\n"
    "  or:  VelmoraGL [--game DIR] [--list FILE] [FILE...] --export PATTERN... --out DIR\n"
    "                 [--format png|dds|raw] [--mips] [--overwrite] [--from ARCHIVE]\n"
    "Show the BLP2 textures inside the MPQ archives of a World of Warcraft installation, or\n"
    "write them as PNG images, DDS files or the files themselves without a window.\n"
    "\n"
    "  --game DIR           use DIR as the game's installation directory instead of the\n"
    "                       one the registry (the Wine prefix's system.reg) names\n"
    "  --list FILE          read the archive list from FILE instead of ./mpqToLoad.txt\n"
    "  FILE.mpq...          open these archives, in this order, instead of the list; maps\n"
    "                       (FILE.w3x, FILE.w3m) are archives too\n"
    "  FILE.blp...          show these texture files from the disk, each under a folder\n"
    "                       named after its directory\n"
    "  --export PATTERN...  write every BLP file whose path matches a PATTERN and exit:\n"
    "                       '*' matches any characters, '\\' included, '?' one character,\n"
    "                       letters in either case, '/' means '\\'; no display is needed\n"
    "  --out DIR            the folder the files go to, each at its path in the archives\n"
    "  --format FORMAT      png (the default): NAME.png, RGB when the texture has no alpha;\n"
    "                       dds: NAME.dds with every mip level, DXT blocks as stored;\n"
    "                       raw: the file as the archive holds it, for every file a\n"
    "                       PATTERN matches, not only BLP files\n"
    "  --mips               with png, also write each mip level N >= 1 as NAME.mipN.png\n"
    "  --overwrite          replace files already there (else they are skipped)\n"
    "  --from ARCHIVE       export each file's version in ARCHIVE instead of the one that\n"
    "                       overrides it; ARCHIVE is an archive's path as the list or the\n"
    "                       command line names it, or its file name\n"
    "  -h, --help           print this help and exit\n"
    "  -v, --version        print the version and exit\n"
    "\n"
    "Without --list and without ./mpqToLoad.txt, the archives of the game folder load in the\n"
    "client's own order. The export ends with the line \"N files written, M failed, K skipped\n"
    "(already there)\" on stderr. Exit status: 0 success, 1 when a file could not be exported\n"
    "or nothing could be loaded, 2 for a usage error.\n"
    "\n"
    "Example: VelmoraGL --game ~/Games/WoW --export 'Interface\\Icons\\*' --out icons\n";

// Qt's options for a window program (QGuiApplication, QApplication): taken here only so that they
// are no usage error; the application object reads them from argv.
const char* const kQtValueOptions[] = {"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
                                       "qwindowicon", "qwindowtitle", "display", "geometry", "style", "stylesheet",
                                       "session", "name", "title", "visual", "qmljsdebugger"};
const char* const kQtFlagOptions[] = {"reverse", "widgetcount", "sync", "nograb", "dograb"};

std::string Utf8(const QString& s) { return s.toUtf8().toStdString(); }
std::string FileName(const QString& s) { return QFile::encodeName(s).toStdString(); }

// Empty when `path` is a file that can be opened for reading; else why not.
std::string FileProblem(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return "is a folder";
  if (::access(path.c_str(), R_OK) != 0) return std::strerror(errno);
  return {};
}

TCommandLine UsageError(const std::string& what) {
  TCommandLine c;
  c.action = TCommandLine::TAction::kUsageError;
  c.text = std::string(kProgram) + ": " + what + "\nTry '" + kProgram + " --help' for more information.\n";
  return c;
}

}  // namespace

QStringList ProgramArguments(int argc, char** argv) {
  QStringList args;
  for (int i = 0; i < argc; ++i) args << QFile::decodeName(argv[i]);
  return args;
}

TCommandLine ParseCommandLine(const QStringList& arguments) {
  // The patterns of --export: every argument after it up to the next option (or "--").
  QStringList rest;
  std::vector<std::string> patterns;
  bool exportSeen = false;
  bool inPatterns = false;
  bool endOfOptions = false;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    if (i > 0 && !endOfOptions) {
      if (a == QLatin1String("--")) {
        endOfOptions = true;
        inPatterns = false;
      } else if (a == QLatin1String("--export") || a == QLatin1String("-export")) {
        exportSeen = inPatterns = true;
        continue;
      } else if (a.startsWith(QLatin1String("--export="))) {
        exportSeen = inPatterns = true;
        patterns.push_back(Utf8(a.mid(9)));
        continue;
      } else if (a.startsWith(QLatin1Char('-')) && a.size() > 1) {
        inPatterns = false;
      } else if (inPatterns) {
        patterns.push_back(Utf8(a));
        continue;
      }
    }
    rest << a;
  }

  QCommandLineParser parser;
  // Qt's window options are single-dash words; GNU long options work either way.
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  const QCommandLineOption help({"h", "?", "help"}, "help");
  const QCommandLineOption version({"v", "version"}, "version");
  const QCommandLineOption game("game", "game", "DIR");
  const QCommandLineOption list("list", "list", "FILE");
  const QCommandLineOption out("out", "out", "DIR");
  const QCommandLineOption mips("mips", "mips");
  const QCommandLineOption format("format", "format", "FORMAT");
  const QCommandLineOption overwrite("overwrite", "overwrite");
  const QCommandLineOption from("from", "from", "ARCHIVE");
  for (const auto* o : {&help, &version, &game, &list, &out, &mips, &format, &overwrite, &from}) parser.addOption(*o);
  for (const char* name : kQtValueOptions) {
    QCommandLineOption o(QString::fromLatin1(name), QString(), QStringLiteral("value"));
    o.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(o);
  }
  for (const char* name : kQtFlagOptions) {
    QCommandLineOption o(QString::fromLatin1(name), QString());
    o.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(o);
  }
  if (!parser.parse(rest)) return UsageError(Utf8(parser.errorText()));

  TCommandLine c;
  if (parser.isSet(help)) {
    c.action = TCommandLine::TAction::kHelp;
    c.text = kHelp;
    return c;
  }
  if (parser.isSet(version)) {
    c.action = TCommandLine::TAction::kVersion;
    // The version, then which protections an archive reader started now would have.
    std::string sandbox = DescribeSandbox(ProbeSandbox());
    sandbox[0] = UpperAsciiChar(sandbox[0]);
    c.text = std::string(kProgram) + " " + VELMORA_VERSION + "\n" + sandbox + "\n";
    return c;
  }

  if (parser.isSet(game)) c.startup.gameDir = FileName(parser.value(game));
  if (parser.isSet(list)) {
    const std::string file = FileName(parser.value(list));
    if (const std::string why = FileProblem(file); !why.empty()) return UsageError("cannot read '" + file + "': " + why);
    c.startup.listFile = file;
  }
  for (const QString& arg : parser.positionalArguments()) {
    const std::string file = FileName(arg);
    const bool archive = IsArchiveFileName(file);
    if (!archive && !IsTextureFileName(file)) {
      return UsageError("'" + file + "' is neither an archive (.mpq, .w3x, .w3m) nor a texture (.blp)");
    }
    if (const std::string why = FileProblem(file); !why.empty()) return UsageError("cannot open '" + file + "': " + why);
    (archive ? c.startup.archives : c.startup.blpFiles).push_back(file);
  }

  if (!exportSeen) {
    if (parser.isSet(out) || parser.isSet(mips) || parser.isSet(format) || parser.isSet(overwrite)) {
      return UsageError("--out, --format, --mips and --overwrite go with --export");
    }
    if (parser.isSet(from)) return UsageError("--from goes with --export");
    return c;
  }
  if (patterns.empty()) return UsageError("--export needs at least one PATTERN");
  if (!parser.isSet(out) || parser.value(out).isEmpty()) return UsageError("--export needs --out DIR");
  c.action = TCommandLine::TAction::kExport;
  c.patterns = std::move(patterns);
  c.outDir = FileName(parser.value(out));
  c.mips = parser.isSet(mips);
  c.overwrite = parser.isSet(overwrite);
  if (parser.isSet(from)) {
    if (parser.value(from).isEmpty()) return UsageError("--from needs an ARCHIVE");
    c.fromArchive = FileName(parser.value(from));
  }
  if (parser.isSet(format)) {
    const std::optional<blp::TExportFormat> f = blp::ExportFormatFromName(Utf8(parser.value(format)));
    if (!f) return UsageError("--format takes png, dds or raw, not '" + Utf8(parser.value(format)) + "'");
    c.format = *f;
  }
  return c;
}

}  // namespace velmora
