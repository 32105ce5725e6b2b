// Shared pieces of the texture loader tests.
#include "BlpTestSupport.h"

#include <algorithm>

#include "archive/Zanth.h"

namespace velmora::test {

IndexedArchive::IndexedArchive(const std::vector<MpqMember>& members) {
  const std::filesystem::path path = dir_.path() / "textures.mpq";
  WriteMpq(path, members, ListFileOf(members));
  CreateArchiveIndex();
  TArchiveHandle archive;
  if (!OpenMpqArchive(path.string(), archive)) return;
  const MpqHandle h = archive.Get();
  MpqList->Append(std::move(archive));
  ok_ = LoadListFile(h, [](std::string_view) {});
}

IndexedArchive::~IndexedArchive() { FreeArchiveIndex(); }

int UploadedLevelCount(GLuint texture) {
  Gl.BindTexture(gl::TEXTURE_2D, texture);
  int count = 0;
  for (int level = 0; level < 16; ++level) {
    GLint w = 0;
    Gl.GetTexLevelParameteriv(gl::TEXTURE_2D, level, gl::TEXTURE_WIDTH, &w);
    if (w == 0) break;
    ++count;
  }
  return count;
}

RgbaImage ReadLevel(GLuint texture, int level) {
  Gl.BindTexture(gl::TEXTURE_2D, texture);
  RgbaImage img;
  Gl.GetTexLevelParameteriv(gl::TEXTURE_2D, level, gl::TEXTURE_WIDTH, &img.width);
  Gl.GetTexLevelParameteriv(gl::TEXTURE_2D, level, gl::TEXTURE_HEIGHT, &img.height);
  img.pixels.assign(static_cast<std::size_t>(img.width) * static_cast<std::size_t>(img.height) * 4, 0xCD);
  if (img.pixels.empty()) return img;
  Gl.PixelStorei(gl::PACK_ALIGNMENT, 1);
  Gl.GetTexImage(gl::TEXTURE_2D, level, gl::RGBA, gl::UNSIGNED_BYTE, img.pixels.data());
  return img;
}

std::string LevelAsLoaded(const std::string& fileBytes, int level, std::size_t needed) {
  const std::size_t offset = GetLe32(fileBytes, blpfield::kOffsets + 4 * static_cast<std::size_t>(level));
  const std::size_t size = GetLe32(fileBytes, blpfield::kSizes + 4 * static_cast<std::size_t>(level));
  std::string out(needed, '\0');
  if (offset < fileBytes.size()) {
    const std::size_t n = std::min({size, fileBytes.size() - offset, needed});
    std::copy_n(fileBytes.begin() + static_cast<std::ptrdiff_t>(offset), n, out.begin());
  }
  return out;
}

}  // namespace velmora::test
