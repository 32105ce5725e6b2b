// Deterministic client-like listfiles for the startup benchmark: a dozen archives of paths
// 2 to 6 components deep, about 40% of them .blp, later archives repeating about 30% of the
// earlier paths (a third of those in another letter case), CR LF and LF files, a few padded
// and blank lines.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace velmora::bench {

// `archives` listfile texts holding `lines` lines together.
std::vector<std::string> MakeStartupListFiles(std::size_t lines, std::size_t archives);

}  // namespace velmora::bench
