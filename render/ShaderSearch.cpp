// The shader folder search: candidates in order, the first complete one wins.
#include "render/ShaderSearch.h"

#include <filesystem>
#include <system_error>

#include "base/FileRead.h"
#include "base/Paths.h"
#include "log/LogHandler.h"
#include "render/GlCommon.h"

namespace velmora {

std::string ShaderBaseDir;

namespace {

namespace fs = std::filesystem;

bool SameDir(const std::string& a, const std::string& b) {
  std::error_code ec;
  return fs::equivalent(a, b, ec) && !ec;
}

// The candidate's own path of a table file, whatever folder the search chose before.
fs::path Under(const std::string& baseDir, const std::string& filename) {
  const fs::path relative = ShaderRelativePath(filename);
  return baseDir.empty() ? relative : fs::path(baseDir) / relative;
}

}  // namespace

std::vector<std::string> ShaderBaseDirCandidates(const std::string& exeDir, const std::string& dataFromBin,
                                                 const std::string& buildProgramDir,
                                                 const std::string& sourceDir) {
  std::vector<std::string> candidates{""};
  if (!exeDir.empty() && !dataFromBin.empty()) candidates.push_back((fs::path(exeDir) / dataFromBin).string());
  if (!exeDir.empty() && !buildProgramDir.empty() && !sourceDir.empty() && SameDir(exeDir, buildProgramDir)) {
    candidates.push_back(sourceDir);
  }
  return candidates;
}

std::optional<std::string> FindShaderBaseDir(const TShaderInfo* list, const std::vector<std::string>& candidates) {
  if (list == nullptr) return std::nullopt;
  for (const std::string& baseDir : candidates) {
    bool complete = true;
    for (const TShaderInfo* entry = list; entry->stype != 0 && complete; ++entry) {
      complete = FileExists(Under(baseDir, entry->filename).string());
    }
    if (complete) return baseDir;
  }
  return std::nullopt;
}

std::string ShaderFolderOf(const TShaderInfo* list, const std::string& baseDir) {
  if (list == nullptr || list->stype == 0) return baseDir;
  std::error_code ec;
  fs::path folder = Under(baseDir, list->filename).parent_path();
  const fs::path absolute = fs::absolute(folder, ec);
  return (ec ? folder : absolute).lexically_normal().string();
}

void UseShaderBaseDir(const TShaderInfo* list, const std::vector<std::string>& candidates) {
  const std::optional<std::string> found = FindShaderBaseDir(list, candidates);
  ShaderBaseDir = found.value_or("");
  if (!found) return;
  // A folder passed over for holding only some of the files says which it lacks.
  for (const std::string& baseDir : candidates) {
    if (baseDir == *found) break;
    std::string missing;
    bool any = false;
    for (const TShaderInfo* entry = list; entry->stype != 0; ++entry) {
      if (FileExists(Under(baseDir, entry->filename).string())) {
        any = true;
      } else {
        missing += (missing.empty() ? "" : " and ") + Under(baseDir, entry->filename).filename().string();
      }
    }
    if (any) {
      WriteLog(ShaderFolderOf(list, baseDir) + ": " + missing + " missing, shaders from " + ShaderFolderOf(list, *found));
    }
  }
  if (!found->empty()) WriteLog("Shaders from " + ShaderFolderOf(list, *found));
}

void SelectShaderBaseDir(const TShaderInfo* list) {
  const std::string exeDir = ExecutableDir();
  // Compiled in by the build: the data folder relative to the installed program's folder, the
  // folder the program is built into, and the source tree.
  UseShaderBaseDir(list, ShaderBaseDirCandidates(exeDir, DataDirFromProgramDir(), VELMORA_BUILD_PROGRAM_DIR,
                                                 VELMORA_SOURCE_DIR));
}

}  // namespace velmora
