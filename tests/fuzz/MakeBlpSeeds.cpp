// Writes the seed corpus of fuzz_blp: small BLP2 files of every encoding from the test writer,
// minimal damaged cases, and a JPEG and a palette BLP1 file. Run once by hand; its output is kept in tests/fuzz/corpus/blp.
//
//   make_blp_seeds <folder>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/Blp1Writer.h"
#include "support/BlpWriter.h"
#include "support/JpegTools.h"

using namespace velmora::test;

namespace {

void Save(const std::filesystem::path& dir, const std::string& name, const std::string& bytes) {
  std::ofstream(dir / name, std::ios::binary) << bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_blp_seeds <folder>\n");
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::filesystem::create_directories(dir);
  struct Kind {
    const char* name;
    std::uint8_t compression, alphaBits, alphaType;
  };
  const Kind kinds[] = {{"palette_a0", 1, 0, 0}, {"palette_a1", 1, 1, 0}, {"palette_a4", 1, 4, 0},
                        {"palette_a8", 1, 8, 8}, {"dxt1", 2, 0, 0},       {"dxt1_a1", 2, 1, 0},
                        {"dxt3", 2, 8, 1},       {"dxt3_a4", 2, 4, 0},    {"dxt5", 2, 8, 7},
                        {"bgra", 3, 8, 8}};
  std::uint32_t seed = 1;
  for (const Kind& k : kinds) {
    Save(dir, std::string(k.name) + "_8x8_mips", WriteBlp(RandomBlp(k.compression, k.alphaBits, k.alphaType, 8, 8, 1, seed++)));
    Save(dir, std::string(k.name) + "_5x3", WriteBlp(RandomBlp(k.compression, k.alphaBits, k.alphaType, 5, 3, 0, seed++)));
  }
  Save(dir, "dxt5_16x4_mips", WriteBlp(RandomBlp(2, 8, 7, 16, 4, 1, seed++)));
  Save(dir, "palette_a8_1x1", WriteBlp(RandomBlp(1, 8, 8, 1, 1, 1, seed++)));

  // Minimal and damaged cases.
  Save(dir, "empty", "");
  std::string header = WriteBlp(RandomBlp(2, 0, 0, 4, 4, 0, seed++));
  Save(dir, "header_only", header.substr(0, blpfield::kHeaderEnd));
  std::string blp1 = header;
  blp1[3] = '1';
  Save(dir, "magic_blp1", blp1);
  std::string jpeg = header;
  PutLe32(jpeg, blpfield::kTexType, 0);
  Save(dir, "jpeg_content", jpeg);
  std::string huge = header;
  PutLe32(huge, blpfield::kWidth, 65535);
  PutLe32(huge, blpfield::kHeight, 65535);
  Save(dir, "claims_65535_square", huge);
  std::string lying = header;
  PutLe32(lying, blpfield::kOffsets, 0xFFFFFF00u);
  PutLe32(lying, blpfield::kSizes, 0x7FFFFFFFu);
  Save(dir, "level_past_the_end", lying);
  std::string zero = WriteBlp(RandomBlp(3, 8, 8, 2, 2, 1, seed++));
  PutLe32(zero, blpfield::kWidth, 0);
  Save(dir, "width_zero", zero);
  const std::string palette = WriteBlp(RandomBlp(1, 1, 0, 4, 4, 1, seed++));
  Save(dir, "palette_cut_in_palette", palette.substr(0, 600));

  // BLP1: a JPEG file whose levels share the JPEG's first bytes, and a palette file.
  Blp1File jpeg1;
  jpeg1.compression = 0;
  jpeg1.width = jpeg1.height = 8;
  for (std::uint32_t s = 8; s >= 1; s /= 2) {
    std::vector<std::uint8_t> samples(std::size_t{s} * s * 4);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::uint8_t>(i * 29 + s);
    const std::string jpeg = EncodeJpeg({s, s, 4, false, false, 75}, samples);
    if (s == 8) jpeg1.jpegHeader = jpeg.substr(0, FrameHeaderOffset(jpeg));
    jpeg1.levels.push_back(jpeg.substr(jpeg1.jpegHeader.size()));
  }
  Save(dir, "blp1_jpeg_8x8_mips", WriteBlp1(jpeg1));
  const BlpFile source = RandomBlp(1, 8, 8, 8, 8, 1, seed++);
  Blp1File palette1;
  palette1.width = palette1.height = 8;
  palette1.palette = source.palette;
  palette1.levels = source.levels;
  Save(dir, "blp1_palette_a8_8x8_mips", WriteBlp1(palette1));
  return 0;
}
