// The real BLP1 files: the minimap texture war3mapMap.blp found by name, through its listfile,
// in the map archive normalMap.w3x, and the two BLP1 samples. Every level the texture uploads is
// compared with ImageMagick's reading of that level's JPEG (shared header + level bytes, cut out
// of the file here), which may differ by a little: at most 2 per channel, neither swapped nor
// inverted, and the picture is not grey.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>

#include "BlpTestSupport.h"
#include "archive/Zanth.h"
#include "blp/ZanthBLP.h"
#include "support/Blp1Writer.h"
#include "support/EglContext.h"
#include "support/JpegReference.h"

namespace velmora::test {
namespace {

constexpr int kOtherDecoder = 2;

struct RealRow {
  const char* fault;
  const char* archive;  // below realdata; empty: the file itself is on disk
  const char* file;     // the member name, or the file below realdata
  std::uint32_t width, height;
  int levels;
  bool alpha;
};

void PrintTo(const RealRow& row, std::ostream* os) { *os << row.fault; }

// The archive opened and its listfile read into a fresh index, as the window opens a named map.
class RealArchive {
public:
  explicit RealArchive(const std::filesystem::path& path) {
    CreateArchiveIndex();
    TArchiveHandle archive;
    if (!OpenMpqArchive(path.string(), archive)) return;
    const MpqHandle h = archive.Get();
    MpqList->Append(std::move(archive));
    ok_ = LoadListFile(h, [](std::string_view) {});
  }
  ~RealArchive() { FreeArchiveIndex(); }
  RealArchive(const RealArchive&) = delete;
  RealArchive& operator=(const RealArchive&) = delete;
  bool ok() const { return ok_; }

private:
  bool ok_ = false;
};

std::string Whole(TZanthFileHandler& file) {
  std::string bytes(file.GetSize(), '\0');
  return file.GetDataByOffset(0, static_cast<std::uint32_t>(bytes.size()), bytes.data()) ? bytes : std::string();
}

// The stored components B, G, R, A as the R, G, B, A a viewer shows.
RgbaImage FromBgra(const std::vector<std::uint8_t>& s, std::uint32_t w, std::uint32_t h, bool alpha) {
  RgbaImage img{static_cast<int>(w), static_cast<int>(h), {}};
  for (std::size_t p = 0; p + 4 <= s.size(); p += 4) img.pixels.insert(img.pixels.end(), {s[p + 2], s[p + 1], s[p], alpha ? s[p + 3] : std::uint8_t{255}});
  return img;
}

RgbaImage Transformed(RgbaImage img, bool swap, bool invert) {
  for (std::size_t p = 0; p + 4 <= img.pixels.size(); p += 4) {
    if (swap) std::swap(img.pixels[p], img.pixels[p + 2]);
    for (std::size_t c = 0; c < 3 && invert; ++c) img.pixels[p + c] = static_cast<std::uint8_t>(255 - img.pixels[p + c]);
  }
  return img;
}

int LargestChroma(const RgbaImage& img) {
  int most = 0;
  for (std::size_t p = 0; p + 4 <= img.pixels.size(); p += 4) {
    const int r = img.pixels[p], g = img.pixels[p + 1], b = img.pixels[p + 2];
    most = std::max({most, std::abs(r - g), std::abs(g - b), std::abs(r - b)});
  }
  return most;
}

class Blp1RealData : public ::testing::TestWithParam<RealRow> {};

TEST_P(Blp1RealData, every_level_shows_as_another_jpeg_decoder_reads_it) {
  VELMORA_REQUIRE_REALDATA();
  VELMORA_REQUIRE_EGL(ctx);
  const RealRow& row = GetParam();
  std::optional<RealArchive> archive;
  std::optional<TBlpTexture> tex;
  std::string bytes;
  if (*row.archive != '\0') {
    archive.emplace(RealDataDir() / row.archive);
    ASSERT_TRUE(archive->ok());
    ASSERT_TRUE(FileIndex->Contains("WAR3MAPMAP.BLP")) << "the map's listfile does not name its minimap texture";
    tex.emplace(row.file);
    ASSERT_NE(tex->FileHandler(), nullptr);
    bytes = Whole(*tex->FileHandler());
    tex->LoadBlp1();
  } else {
    std::ifstream in(RealDataDir() / row.file, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
    ASSERT_FALSE(bytes.empty()) << row.file;
    blp::TMemorySource source(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    tex.emplace(row.file, source);
    tex->LoadBlp1From(source);
  }
  ASSERT_TRUE(tex->Blp1Header());
  ASSERT_FALSE(tex->HeaderProblem()) << tex->HeaderProblem()->message;
  EXPECT_EQ(tex->width, static_cast<int>(row.width));
  EXPECT_EQ(tex->height, static_cast<int>(row.height));
  ASSERT_EQ(UploadedLevelCount(tex->id), row.levels);
  EXPECT_EQ(tex->Levels().stopped, "");

  const std::string shared = bytes.substr(blp1field::kJpegHeader, GetLe32(bytes, blp1field::kJpegHeaderSize));
  for (int i = 0; i < row.levels; ++i) {
    SCOPED_TRACE("level " + std::to_string(i));
    const std::size_t at = 4 * static_cast<std::size_t>(i);
    const std::string jpeg = shared + bytes.substr(GetLe32(bytes, blp1field::kOffsets + at), GetLe32(bytes, blp1field::kSizes + at));
    std::string why;
    const std::vector<std::uint8_t> samples = ReferenceJpegSamples(jpeg, 4, why);
    ASSERT_FALSE(samples.empty()) << why;
    const RgbaImage shown = ReadLevel(tex->id, i);
    const RgbaImage reference =
        FromBgra(samples, static_cast<std::uint32_t>(shown.width), static_cast<std::uint32_t>(shown.height), row.alpha);
    EXPECT_TRUE(PixelsMatch(reference, shown, kOtherDecoder));
    if (i > 0) continue;
    // The picture's own colours make a swap or an inversion show.
    EXPECT_FALSE(PixelsMatch(Transformed(reference, true, false), shown, kOtherDecoder, 0)) << "red and blue swapped";
    EXPECT_FALSE(PixelsMatch(Transformed(reference, false, true), shown, kOtherDecoder, 0)) << "inverted";
    EXPECT_GT(LargestChroma(shown), 32) << "grey";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Samples, Blp1RealData,
    ::testing::Values(RealRow{"map_minimap_from_a_w3x_by_its_listfile_name", "mpq/normalMap.w3x", "war3mapMap.blp", 256, 256, 1, false},
                      RealRow{"one_level_after_a_624_byte_shared_header", "", "blp/blp1_jpeg.blp", 256, 256, 1, false},
                      RealRow{"eight_levels_with_8_bit_alpha", "", "blp/colorJpg75Mip8Blp1.blp", 128, 128, 8, true}),
    [](const auto& info) { return std::string(info.param.fault); });

}  // namespace
}  // namespace velmora::test
