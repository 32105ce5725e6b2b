// The client's own archive order, found on disk.
#include "host/ClientOrder.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <memory>
#include <string_view>

#include "base/Ascii.h"
#include "base/UniqueDir.h"

namespace velmora {
namespace {


struct TEntry {
  std::string name;
  bool isDir = false;
};

// The entries of `dir` (links followed), sorted by name so that choices never depend on the
// order the file system returns them in.
std::vector<TEntry> ListDir(const std::string& dir) {
  std::vector<TEntry> out;
  const TDir d = OpenDir(dir);
  if (!d) return out;
  while (const dirent* e = ::readdir(d.get())) {
    const std::string_view name(e->d_name);
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (::stat((dir + "/" + std::string(name)).c_str(), &st) != 0) continue;
    out.push_back({std::string(name), S_ISDIR(st.st_mode)});
  }
  std::sort(out.begin(), out.end(), [](const TEntry& a, const TEntry& b) { return a.name < b.name; });
  return out;
}

const TEntry* Find(const std::vector<TEntry>& entries, std::string_view name, bool dir) {
  for (const TEntry& e : entries) {
    if (e.isDir == dir && EqualNoCase(e.name, name)) return &e;
  }
  return nullptr;
}


bool LooksLikeLocale(std::string_view name) {
  return name.size() == 4 && std::all_of(name.begin(), name.end(), IsAsciiLetter);
}

// N of "<prefix>N.MPQ" (ignoring case) when N is a decimal number of at least 4; 0 otherwise.
unsigned FurtherPatchNumber(std::string_view name, std::string_view prefix) {
  constexpr std::string_view kExt = ".MPQ";
  if (name.size() <= prefix.size() + kExt.size() || !StartsWithNoCase(name, prefix) ||
      !EqualNoCase(name.substr(name.size() - kExt.size()), kExt)) {
    return 0;
  }
  const std::string_view digits = name.substr(prefix.size(), name.size() - prefix.size() - kExt.size());
  unsigned n = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
  if (ec != std::errc() || end != digits.data() + digits.size() || n < 4) return 0;
  return n;
}

// Appends to `lines` the further patches of one folder, in number order.
void AddFurtherPatches(const std::vector<TEntry>& entries, std::string_view prefix, const std::string& folder,
                       std::vector<std::string>& lines) {
  std::vector<std::pair<unsigned, std::string>> found;
  for (const TEntry& e : entries) {
    if (e.isDir) continue;
    if (const unsigned n = FurtherPatchNumber(e.name, prefix)) found.emplace_back(n, e.name);
  }
  std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& f : found) lines.push_back(folder + f.second);
}

}  // namespace

TClientArchives ClientArchiveOrder(const std::string& hostDir) {
  TClientArchives out;
  const std::vector<TEntry> top = ListDir(hostDir.empty() ? "." : hostDir);
  const TEntry* data = Find(top, "Data", true);
  if (data == nullptr) return out;
  const std::string dataDir = (hostDir.empty() ? "." : hostDir) + "/" + data->name;
  const std::vector<TEntry> dataEntries = ListDir(dataDir);

  // The locale folder: the first that holds its own locale archive, else the first at all.
  std::vector<TEntry> localeEntries;
  const TEntry* localeDir = nullptr;
  for (const TEntry& e : dataEntries) {
    if (!e.isDir || !LooksLikeLocale(e.name)) continue;
    std::vector<TEntry> entries = ListDir(dataDir + "/" + e.name);
    const bool own = Find(entries, "locale-" + e.name + ".MPQ", false) != nullptr;
    if (localeDir == nullptr || own) {
      localeDir = &e;
      localeEntries = std::move(entries);
      if (own) break;
    }
  }

  const std::string dataLine = data->name + "\\";
  auto base = [&](std::string_view name) {
    if (const TEntry* f = Find(dataEntries, name, false)) out.lines.push_back(dataLine + f->name);
  };
  std::string localeLine;
  auto local = [&](const std::string& pattern) {
    if (localeDir == nullptr) return;
    // "<loc>" in the pattern stands for the locale's name.
    std::string name = pattern;
    for (std::size_t at; (at = name.find("<loc>")) != std::string::npos;) name.replace(at, 5, localeDir->name);
    if (const TEntry* f = Find(localeEntries, name, false)) out.lines.push_back(localeLine + f->name);
  };
  if (localeDir != nullptr) {
    out.locale = localeDir->name;
    localeLine = dataLine + localeDir->name + "\\";
  }

  for (const char* name : {"common.MPQ", "common-2.MPQ", "expansion.MPQ", "lichking.MPQ"}) base(name);
  for (const char* name : {"locale-<loc>.MPQ", "speech-<loc>.MPQ", "expansion-locale-<loc>.MPQ",
                           "lichking-locale-<loc>.MPQ", "expansion-speech-<loc>.MPQ", "lichking-speech-<loc>.MPQ"}) {
    local(name);
  }
  for (const char* name : {"patch.MPQ", "patch-2.MPQ", "patch-3.MPQ"}) base(name);
  for (const char* name : {"patch-<loc>.MPQ", "patch-<loc>-2.MPQ", "patch-<loc>-3.MPQ"}) local(name);
  AddFurtherPatches(dataEntries, "patch-", dataLine, out.lines);
  if (localeDir != nullptr) AddFurtherPatches(localeEntries, "patch-" + localeDir->name + "-", localeLine, out.lines);
  return out;
}

}  // namespace velmora
