// Getting files out of the archives: BLP2 textures as PNG images or DDS files, or any file as the
// archive holds it. Which archive paths a pattern selects, where each file's output goes below
// the output folder, and the export itself, which reads the files on the calling thread (the
// archive layer is single-threaded) and converts and writes them on worker threads.
// PNG levels are decoded exactly (blp/LevelPixels.h): palette with its alpha plane, uncompressed
// from B, G, R, A, DXT by the hardware's S3TC rules, so an image never depends on a GL path. DDS
// files keep DXT blocks as stored (blp/DdsWrite.h); raw files are the archive's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/ReaderClient.h"
#include "blp/LevelPixels.h"

namespace velmora::blp {

// The level-0 size an exported file may have: GL's usual limit, far beyond any game texture.
constexpr std::uint32_t kExportMaxTextureSize = 16384;
// A file larger than this is not read.
constexpr std::uint64_t kExportMaxFileBytes = std::uint64_t{512} << 20;

// True when `path` matches `pattern` as a whole: '*' matches any run of characters, '\'
// included, and '?' one character (one UTF-8 sequence); letters a-z match either case, and '/'
// and '\' match either separator. So "*" matches everything, and "TEXTURES\MINIMAP\*" and
// "Textures/Minimap/*" everything below that folder.
bool MatchesExportPattern(std::string_view pattern, std::string_view path);

// Where a file's images go below the output folder, without the extension: '\' (and '/', which
// no file name can hold here) become folders, and a final ".blp" in any case is dropped, so
// "Textures\Minimap\map01.blp" gives "Textures/Minimap/map01". nullopt, with the reason in
// `why`, for a path that could leave the folder or name no file: an empty component (a leading,
// doubled or trailing separator), "." or "..".
std::optional<std::string> ExportBaseName(std::string_view path, std::string* why = nullptr);

// The same, keeping the file name whole: where a raw file goes ("Textures\X.blp" gives
// "Textures/X.blp").
std::optional<std::string> ExportRelativePath(std::string_view path, std::string* why = nullptr);

// The image of level `level` of base name `base`: base + ".png" for level 0, base + ".mipN.png"
// for level N.
std::string ExportImageName(const std::string& base, std::size_t level);

// Encodes `pixels` as PNG and writes them to `path` (through a temporary file): RGB when every
// alpha is 255, else RGBA. False with the reason in `error`.
bool WritePngFile(const std::string& path, const TRgbaPixels& pixels, std::string& error);

enum class TExportFormat {
  kPng,  // NAME.png for level 0 (and NAME.mipN.png with mips); RGB when the level has no alpha
  kDds,  // NAME.dds holding every level
  kRaw,  // the file as the archive holds it, at its archive path; any file, not only BLP
};

// "png", "dds", "raw", and back; nullopt for another word.
const char* ExportFormatName(TExportFormat format);
std::optional<TExportFormat> ExportFormatFromName(std::string_view name);

struct TExportItem {
  // The archive path, looked up in the file index (the archive that lists it last supplies it,
  // unless `archive` names another, and its listfile's spelling names the output); or, for a file
  // on disk, its path in the tree.
  std::string path;
  std::string diskPath;  // set for a file on disk
  // Set: the one output file, relative to the output folder, in place of the name the path gives
  // (a "Save as" choice). Only level 0 is written for such an item.
  std::string outName = {};
  // Set: the version of the path in this archive, spelt as its listfile spells it, in place of the
  // supplier's. An archive that does not list the path gives nothing to export.
  MpqHandle archive = 0;
};

struct TExportOptions {
  std::string outDir;
  TExportFormat format = TExportFormat::kPng;
  bool mips = false;       // PNG: also levels 1 and on (a DDS file holds every level anyway)
  bool overwrite = false;  // replace files already there; else they are left alone and counted
  unsigned workers = 0;    // converting threads; 0: one per processor (PNG), one fewer (DDS, raw)
  std::uint32_t maxTextureSize = kExportMaxTextureSize;
};

// Called on the thread that runs the export.
class TExportEvents {
public:
  virtual ~TExportEvents() = default;
  // `done` of `total` files are finished (written or failed); `current` is being read.
  virtual void Progress(std::size_t done, std::size_t total, const std::string& current) {
    (void)done, (void)total, (void)current;
  }
  // A file that could not be read, decoded or written, and why; the export goes on.
  virtual void Failed(const std::string& path, const std::string& reason) { (void)path, (void)reason; }
  // Asked between files; true stops the export: files not read yet are left out, files being
  // decoded are finished.
  virtual bool Cancelled() { return false; }
};

struct TExportSummary {
  std::size_t files = 0;     // items asked for
  std::size_t written = 0;   // items whose output files were all written or already there
  std::size_t failed = 0;    // items that failed, each reported through TExportEvents::Failed
  std::size_t outputs = 0;   // output files written (PNG images, DDS files, raw files)
  std::size_t skipped = 0;   // output files left alone because they were already there
  std::uint64_t bytesRead = 0;
  std::uint64_t bytesWritten = 0;
  bool cancelled = false;
};

// "N files written, M failed, K skipped (already there)": output files written, items failed,
// output files skipped.
std::string ExportSummaryLine(const TExportSummary& summary);

// Writes the output files of every item below options.outDir, creating folders as needed and never
// writing outside it (blp/ExportFolder.h). Before anything is read, items whose output path is
// unsafe and items that would write another item's output file (blp/ExportPlan.h) are reported
// as failed. Needs the file index (archive/Zanth.h) for archive items, and uses it on the
// calling thread only.
TExportSummary ExportBlpFiles(const std::vector<TExportItem>& items, const TExportOptions& options,
                              TExportEvents& events);

}  // namespace velmora::blp
