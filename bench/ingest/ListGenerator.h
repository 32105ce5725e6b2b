// A deterministic, client-like set of listfiles for the ingestion benchmark.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace velmora::bench {

struct TGeneratedSet {
  std::vector<std::string> listfiles;  // one per archive, in loading order
  std::size_t lines = 0;               // lines in all listfiles, blank ones included
  std::size_t repeatedLines = 0;       // lines whose path an earlier archive already listed
  std::size_t otherCaseRepeats = 0;    // of those, written in another letter case
  std::size_t blpLines = 0;
  std::size_t paddedLines = 0;
  std::size_t blankLines = 0;
};

// 12 archives, `totalLines` lines in all: about 30% of the paths repeat ones of earlier
// archives (some in another letter case), about 40% end in .blp, folders 2 to 6 deep, CR LF and
// LF files, a few padded and blank lines; each file sorted like the client's own listfiles.
TGeneratedSet GenerateListFiles(std::size_t totalLines);

}  // namespace velmora::bench
