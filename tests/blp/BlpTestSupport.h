// Shared pieces of the texture loader tests: an indexed test archive, level read-back from GL,
// and the level bytes the loader is expected to see for a given file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gl/GlApi.h"
#include "support/BlpWriter.h"
#include "support/ImageCompare.h"
#include "support/MpqWriter.h"
#include "support/TestData.h"

namespace velmora::test {

// Writes the members into a fresh MPQ archive with a listfile, opens it and fills FileIndex;
// the destructor frees the index and closes the archive. ok() is false when any step failed.
class IndexedArchive {
public:
  explicit IndexedArchive(const std::vector<MpqMember>& members);
  ~IndexedArchive();
  IndexedArchive(const IndexedArchive&) = delete;
  IndexedArchive& operator=(const IndexedArchive&) = delete;
  bool ok() const { return ok_; }

private:
  TempDir dir_;
  bool ok_ = false;
};

// Number of levels with a non-zero width (GL answers 0 for undefined levels).
int UploadedLevelCount(GLuint texture);
// Level `level` of the texture read back as RGBA bytes.
RgbaImage ReadLevel(GLuint texture, int level);

// The bytes of level i as the loader takes them from `fileBytes` (header fields as stored there):
// `sizes[i]` bytes at `offsets[i]`, cut at the end of the file and at what the level needs,
// missing bytes zero; exactly `needed` bytes long.
std::string LevelAsLoaded(const std::string& fileBytes, int level, std::size_t needed);

}  // namespace velmora::test
