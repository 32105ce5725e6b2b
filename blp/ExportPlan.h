// Which sources of an export would write the same output file, found before anything is written.
// Two archive paths can name one file: "sl/b.blp" and "sl\b.blp" both give "sl/b.png", names
// that differ only in letter case are one file on a case-insensitive disk, level N of "J.blp"
// is "J.mipN.png" as level 0 of "J.mipN.blp" is, and an output file can stand where another
// source needs a folder. The source first in archive-path order is written; the others are not.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace velmora::blp {

struct TPlannedSource {
  std::string path;     // the archive path (or a file's tree path): orders sources, names them
  std::string first;    // the output file of level 0 (or the only one), relative, '/'-separated
  std::string mipBase;  // non-empty: level N >= 1 goes to ExportImageName(mipBase, N)
};

// Per source, why it is not written: "same output file as <path>" (or the folder clash), or ""
// to write it. `levelCount(i)` gives how many levels source i writes; it is asked only for a
// source with a mipBase whose level names another source's first file, and may read its header.
std::vector<std::string> FindOutputClashes(const std::vector<TPlannedSource>& sources,
                                           const std::function<std::size_t(std::size_t)>& levelCount);

}  // namespace velmora::blp
