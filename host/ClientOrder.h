// The order in which a 3.3.x client opens its own archives, for a game folder that comes without
// an "mpqToLoad.txt": base archives, then the locale's, then the patches, each later one
// overriding the earlier ones.
#pragma once

#include <string>
#include <vector>

namespace velmora {

struct TClientArchives {
  std::string locale;               // the Data/<locale>/ folder found, e.g. "enUS"; empty: none
  std::vector<std::string> lines;   // archives that exist, relative to the game folder, with '\'
};

// The archives of the game folder `hostDir` (a path on this host) that the client would open,
// in its order:
//   Data\common.MPQ, Data\common-2.MPQ, Data\expansion.MPQ, Data\lichking.MPQ,
//   Data\<loc>\locale-<loc>.MPQ, speech-<loc>, expansion-locale-<loc>, lichking-locale-<loc>,
//   expansion-speech-<loc>, lichking-speech-<loc>,
//   Data\patch.MPQ, Data\patch-2.MPQ, Data\patch-3.MPQ,
//   Data\<loc>\patch-<loc>.MPQ, patch-<loc>-2, patch-<loc>-3,
// then any further Data\patch-N.MPQ and Data\<loc>\patch-<loc>-N.MPQ (N >= 4, N a number) in
// number order, those of Data first. Only archives that exist appear, spelt as on disk (names
// match ignoring ASCII case, as Wine does). The locale is the folder of Data whose name has two
// letters and two more (enUS, deDE, ...); when several have, the first that holds its
// locale-<loc>.MPQ in byte order, else the first in byte order.
TClientArchives ClientArchiveOrder(const std::string& hostDir);

}  // namespace velmora
