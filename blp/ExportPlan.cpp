// Output clashes between the sources of one export.
#include "blp/ExportPlan.h"

#include <algorithm>
#include <numeric>
#include <unordered_map>
#include <unordered_set>

#include "base/Ascii.h"
#include "blp/BlpExport.h"
#include "blp/BlpHeader.h"

namespace velmora::blp {

std::vector<std::string> FindOutputClashes(const std::vector<TPlannedSource>& sources,
                                           const std::function<std::size_t(std::size_t)>& levelCount) {
  std::vector<std::string> refusals(sources.size());
  std::vector<std::size_t> order(sources.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  // Archive-path order: letter case aside first, so the winner does not depend on which
  // archive's listfile spelt it how; byte order settles the rest.
  std::vector<std::string> keys(sources.size());
  for (std::size_t i = 0; i < sources.size(); ++i) keys[i] = UpperAscii(sources[i].path);
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return keys[a] != keys[b] ? keys[a] < keys[b] : sources[a].path < sources[b].path;
  });

  // Level names matter only where another source's level 0 could meet one of them: the level-0
  // names are gathered only when some source has level names.
  std::unordered_set<std::string> firsts;
  if (std::any_of(sources.begin(), sources.end(), [](const TPlannedSource& s) { return !s.mipBase.empty(); })) {
    for (const TPlannedSource& s : sources) firsts.insert(UpperAscii(s.first));
  }

  std::unordered_map<std::string, std::size_t> files;    // upper-cased output file -> its source
  std::unordered_map<std::string, std::size_t> folders;  // upper-cased output folder -> a source in it
  std::vector<std::string> names;
  std::vector<std::string> nameKeys;
  for (const std::size_t i : order) {
    const TPlannedSource& s = sources[i];
    names.assign(1, s.first);
    if (!s.mipBase.empty()) {
      bool meets = false;
      for (int n = 1; n < kMaxLevels && !meets; ++n) {
        meets = firsts.count(UpperAscii(ExportImageName(s.mipBase, static_cast<std::size_t>(n)))) > 0;
      }
      if (meets) {
        const std::size_t levels = std::min<std::size_t>(levelCount(i), kMaxLevels);
        for (std::size_t n = 1; n < levels; ++n) names.push_back(ExportImageName(s.mipBase, n));
      }
    }
    nameKeys.clear();
    for (const std::string& name : names) nameKeys.push_back(UpperAscii(name));
    std::string& reason = refusals[i];
    for (std::size_t k = 0; k < names.size() && reason.empty(); ++k) {
      const std::string& key = nameKeys[k];
      const std::string& name = names[k];
      if (const auto it = files.find(key); it != files.end()) {
        reason = "same output file as " + sources[it->second].path;
      } else if (const auto f = folders.find(key); f != folders.end()) {
        reason = "output file " + name + " is a folder of " + sources[f->second].path + "'s output";
      } else if (const std::size_t last = key.rfind('/'); last != std::string::npos && !folders.count(key.substr(0, last))) {
        // A folder already claimed is no file, and neither is any folder above it (a file at
        // one of those names would have been refused): only a new folder needs its path checked.
        for (std::size_t slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1)) {
          if (const auto p = files.find(key.substr(0, slash)); p != files.end()) {
            reason = "output folder " + name.substr(0, slash) + " is the output file of " + sources[p->second].path;
            break;
          }
        }
      }
    }
    if (!reason.empty()) continue;
    for (const std::string& key : nameKeys) {
      files.emplace(key, i);
      // Deepest folder first: one already claimed has every folder above it claimed too.
      for (std::size_t slash = key.rfind('/'); slash != std::string::npos && slash > 0;
           slash = key.rfind('/', slash - 1)) {
        if (!folders.emplace(key.substr(0, slash), i).second) break;
      }
    }
  }
  return refusals;
}

}  // namespace velmora::blp
