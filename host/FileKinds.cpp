// Archive and texture file names by their extension.
#include "host/FileKinds.h"

#include "base/Ascii.h"

namespace velmora {

namespace {
// The name has something before the extension: ".mpq" alone is no archive's name.
bool EndsWith(std::string_view path, std::string_view ext) {
  return path.size() > ext.size() && EqualNoCase(path.substr(path.size() - ext.size()), ext);
}
}  // namespace

bool IsArchiveFileName(std::string_view path) {
  for (std::string_view ext : kArchiveExtensions) {
    if (EndsWith(path, ext)) return true;
  }
  return false;
}

bool IsTextureFileName(std::string_view path) { return EndsWith(path, ".blp"); }

}  // namespace velmora
