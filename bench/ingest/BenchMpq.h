// The smallest MPQ the benchmark needs: format version 1 with one plainly stored "(listfile)"
// member. StormLib refuses to store a listfile of the caller's choosing, and the benchmark needs
// exact bytes (LF and CR LF files, padded and blank lines).
#pragma once

#include <filesystem>
#include <string>

namespace velmora::bench {

// Throws std::runtime_error when the file cannot be written.
void WriteListFileArchive(const std::filesystem::path& path, const std::string& listfile);

}  // namespace velmora::bench
