// Which files on this host the viewer opens, by the extension of their name (letters in either
// case): archives are ".mpq" and the game's maps, ".w3x" and ".w3m" (MPQ archives behind a
// 512-byte map header, which the archive library skips); textures are ".blp".
#pragma once

#include <array>
#include <string_view>

namespace velmora {

inline constexpr std::array<std::string_view, 3> kArchiveExtensions = {".mpq", ".w3x", ".w3m"};

bool IsArchiveFileName(std::string_view path);
bool IsTextureFileName(std::string_view path);

}  // namespace velmora
