// In-memory BLP1 files for tests.
#include "support/Blp1Writer.h"

#include <stdexcept>

#include "support/BlpWriter.h"

namespace velmora::test {

std::string WriteBlp1(const Blp1File& file) {
  if (file.levels.size() > 16) throw std::invalid_argument("a BLP1 file has at most 16 levels");
  std::string out = "BLP1";
  out.resize(blp1field::kHeaderEnd, '\0');
  PutLe32(out, blp1field::kCompression, file.compression);
  PutLe32(out, blp1field::kAlphaBits, file.alphaBits);
  PutLe32(out, blp1field::kWidth, file.width);
  PutLe32(out, blp1field::kHeight, file.height);
  PutLe32(out, blp1field::kPictureType, file.pictureType);
  PutLe32(out, blp1field::kPictureSubtype, file.pictureSubtype);
  if (file.compression == 0) {
    PutLe32(out, blp1field::kJpegHeaderSize, static_cast<std::uint32_t>(file.jpegHeader.size()));
    out += file.jpegHeader;
  } else {
    out.append(reinterpret_cast<const char*>(file.palette.data()), file.palette.size());
  }
  for (std::size_t i = 0; i < file.levels.size(); ++i) {
    PutLe32(out, blp1field::kOffsets + 4 * i, static_cast<std::uint32_t>(out.size()));
    PutLe32(out, blp1field::kSizes + 4 * i, static_cast<std::uint32_t>(file.levels[i].size()));
    out += file.levels[i];
  }
  return out;
}

}  // namespace velmora::test
