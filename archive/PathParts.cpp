// Archive path rules shared by the file index and the file tree.
#include "archive/PathParts.h"

namespace velmora {

std::string_view TrimBlanks(std::string_view s) {
  std::size_t begin = 0;
  std::size_t end = s.size();
  while (begin < end && static_cast<unsigned char>(s[begin]) <= 0x20) ++begin;
  while (end > begin && static_cast<unsigned char>(s[end - 1]) <= 0x20) --end;
  return s.substr(begin, end - begin);
}

std::string MakeKey(std::string_view path) { return UpperAscii(TrimBlanks(path)); }

namespace {
std::size_t LastSeparator(std::string_view path) {
  for (std::size_t i = path.size(); i > 0; --i) {
    if (IsPathSeparator(path[i - 1])) return i - 1;
  }
  return std::string_view::npos;
}
}  // namespace

std::string_view FileNamePart(std::string_view path) {
  const std::size_t sep = LastSeparator(path);
  return sep == std::string_view::npos ? path : path.substr(sep + 1);
}

std::string_view ExtensionPart(std::string_view path) {
  const std::string_view name = FileNamePart(path);
  const std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string_view{} : name.substr(dot);
}

std::string_view DirectoryPart(std::string_view path) {
  const std::size_t sep = LastSeparator(path);
  if (sep == std::string_view::npos) return {};
  const bool keepSeparator = path[sep] == ':' || sep == 0 || IsPathSeparator(path[sep - 1]);
  return path.substr(0, keepSeparator ? sep + 1 : sep);
}

}  // namespace velmora
