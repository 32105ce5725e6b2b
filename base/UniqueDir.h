// The owner of an open directory stream: closedir when it goes.
#pragma once

#include <dirent.h>

#include <memory>
#include <string>

namespace velmora {

struct TDirCloser {
  void operator()(DIR* d) const noexcept { ::closedir(d); }
};
using TDir = std::unique_ptr<DIR, TDirCloser>;

inline TDir OpenDir(const std::string& path) { return TDir(::opendir(path.c_str())); }

}  // namespace velmora
