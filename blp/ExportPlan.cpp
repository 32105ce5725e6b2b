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

  std::unordered_set<std::string> firsts;
  for (const TPlannedSource& s : sources) firsts.insert(UpperAscii(s.first));

  std::unordered_map<std::string, std::size_t> files;    // upper-cased output file -> its source
  std::unordered_map<std::string, std::size_t> folders;  // upper-cased output folder -> a source in it
  for (const std::size_t i : order) {
    const TPlannedSource& s = sources[i];
    std::vector<std::string> names{s.first};
    if (!s.mipBase.empty()) {
      // Level names are claimed only where another source's level 0 could meet one of them.
      bool meets = false;
      for (int n = 1; n < kMaxLevels && !meets; ++n) {
        meets = firsts.count(UpperAscii(ExportImageName(s.mipBase, static_cast<std::size_t>(n)))) > 0;
      }
      if (meets) {
        const std::size_t levels = std::min<std::size_t>(levelCount(i), kMaxLevels);
        for (std::size_t n = 1; n < levels; ++n) names.push_back(ExportImageName(s.mipBase, n));
      }
    }
    std::string& reason = refusals[i];
    for (const std::string& name : names) {
      const std::string key = UpperAscii(name);
      if (const auto it = files.find(key); it != files.end()) {
        reason = "same output file as " + sources[it->second].path;
      } else if (const auto f = folders.find(key); f != folders.end()) {
        reason = "output file " + name + " is a folder of " + sources[f->second].path + "'s output";
      } else {
        for (std::size_t slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1)) {
          if (const auto p = files.find(key.substr(0, slash)); p != files.end()) {
            reason = "output folder " + name.substr(0, slash) + " is the output file of " + sources[p->second].path;
            break;
          }
        }
      }
      if (!reason.empty()) break;
    }
    if (!reason.empty()) continue;
    for (const std::string& name : names) {
      const std::string key = UpperAscii(name);
      files.emplace(key, i);
      for (std::size_t slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1)) {
        folders.emplace(key.substr(0, slash), i);
      }
    }
  }
  return refusals;
}

}  // namespace velmora::blp
