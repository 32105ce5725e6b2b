// Where the view's GLSL files are looked for: the working directory first, then the data
// folder of an installed copy (relative to the executable), then the source tree when the
// program runs from its build folder. The first place that holds every file is used.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace velmora {

struct TShaderInfo;

// The directory the shader table's relative file names are resolved against; empty: the
// working directory. Set by SelectShaderBaseDir, read by ShaderPathOnDisk.
extern std::string ShaderBaseDir;

// The base directories to try, in order: "" (the working directory), exeDir joined with
// `dataFromBin` (where an installed copy keeps its data, e.g. "../share/velmora"), and
// `sourceDir` only when exeDir is `buildProgramDir`, so that a copy installed elsewhere never
// reads the tree it was built from. Empty arguments leave their place out.
std::vector<std::string> ShaderBaseDirCandidates(const std::string& exeDir, const std::string& dataFromBin,
                                                 const std::string& buildProgramDir,
                                                 const std::string& sourceDir);

// The first candidate under which every file of `list` (up to the entry whose stype is 0) is
// a file; a directory of that name does not count. nullopt when no candidate holds them all.
std::optional<std::string> FindShaderBaseDir(const TShaderInfo* list, const std::vector<std::string>& candidates);

// The folder of the first table file under `baseDir`, as the log names it.
std::string ShaderFolderOf(const TShaderInfo* list, const std::string& baseDir);

// Sets ShaderBaseDir to the first of `candidates` that holds the files of `list`. When a place
// other than the working directory is used, logs "Shaders from " + its folder; a place before it
// that holds some of the files logs "<its folder>: fragment.glsl missing, shaders from <folder>"
// first. When none holds the files, the working directory stays, so the loader reports the
// missing file as before.
void UseShaderBaseDir(const TShaderInfo* list, const std::vector<std::string>& candidates);

// UseShaderBaseDir with the running executable's candidates and the places the build knows.
void SelectShaderBaseDir(const TShaderInfo* list);

}  // namespace velmora
