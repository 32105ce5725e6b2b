// Windows-style paths on the host file system, as Wine maps them.
#pragma once

#include <string>
#include <string_view>

namespace velmora {

// Maps a Windows-style path onto the host file system:
//   - "X:..." goes through <winePrefix>/dosdevices/x: (Wine keeps a link there per drive,
//     usually c: -> ../drive_c); the rest of the path is taken from that drive's root;
//   - a path that starts with '/' is taken as a host path; any other path is relative to the
//     current directory;
//   - every backslash becomes '/';
//   - when the resulting path does not exist, each component that does not exist as spelt is
//     replaced by the first directory entry that matches it ignoring ASCII letter case
//     (archives on disk are often spelt Data/common.MPQ while lists say Data\Common.mpq);
//     components without a match stay as they are.
// The empty path stays empty. Only looks at the file system; never creates anything.
std::string MapWindowsPath(std::string_view winPath, std::string_view winePrefix);

}  // namespace velmora
