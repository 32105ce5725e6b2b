// The view's notice for BLP1 files loaded as the window loads them (the texture, then its BLP1
// load, on headless GL): why the picture or some of its levels cannot be shown, in the words
// the user reads above the view.
#include <gtest/gtest.h>

#include <functional>
#include <span>
#include <string>

#include "blp/ZanthBLP.h"
#include "render/ViewNotice.h"
#include "support/Blp1Writer.h"
#include "support/BlpWriter.h"
#include "support/EglContext.h"
#include "support/JpegTools.h"

namespace velmora {
namespace {

std::string Jpeg(std::uint32_t size) {
  return test::EncodeJpeg({size, size}, std::vector<std::uint8_t>(std::size_t{size} * size * 4, 77));
}

// 16 x 16 with its chain of whole JPEGs (or palette levels), edited.
std::string Blp1(std::uint32_t compression, const std::function<void(test::Blp1File&)>& edit = {}) {
  test::Blp1File file;
  file.compression = compression;
  file.width = file.height = 16;
  for (std::uint32_t s = 16; s >= 1; s /= 2) file.levels.push_back(compression == 0 ? Jpeg(s) : std::string(2 * s * s, '\x05'));
  if (edit) edit(file);
  return test::WriteBlp1(file);
}

TEST(ViewNotice, blp1_files_say_why_the_picture_or_some_levels_cannot_be_shown) {
  VELMORA_REQUIRE_EGL(ctx);
  const std::string honest = Blp1(0);
  struct Row {
    const char* fault;
    std::string bytes;
    std::string notice;
  } rows[] = {
      {"honest_jpeg_file_shows_whole", honest, ""},
      {"honest_palette_file_shows_whole", Blp1(1), ""},
      {"jpeg_of_another_size_than_level_0", Blp1(0, [](test::Blp1File& f) { f.levels[0] = Jpeg(32); }),
       "level 0: the JPEG is 32 x 32, the level 16 x 16: nothing to show"},
      {"jpeg_of_another_size_than_level_1", Blp1(0, [](test::Blp1File& f) { f.levels[1] = Jpeg(16); }),
       "level 1: the JPEG is 16 x 16, the level 8 x 8: levels 1 and on are not shown"},
      {"level_bytes_that_are_no_jpeg", Blp1(0, [](test::Blp1File& f) { f.levels[0] = std::string(300, 'x'); }),
       "level 0: the JPEG data cannot be decoded: "},
      {"jpeg_of_two_components",
       Blp1(0, [](test::Blp1File& f) { f.levels[0] = test::EncodeJpeg({16, 16, 2}, std::vector<std::uint8_t>(512, 9)); }),
       "level 0: the JPEG has 2 components (1, 3 or 4 are read): nothing to show"},
      {"frame_header_claiming_60000_square_refused_before_decoding",
       Blp1(0,
            [](test::Blp1File& f) {
              // SOF: length, precision, then height and width.
              const std::size_t sof = test::FrameHeaderOffset(f.levels[0]);
              f.levels[0].replace(sof + 5, 4, "\xEA\x60\xEA\x60");
            }),
       "level 0: cannot allocate 14400000000 bytes to decode a JPEG of 60000 x 60000 with 4 components (limit "},
      {"jpeg_cut_short", honest.substr(0, honest.size() - 10),
       "level 4 lacks 10 bytes of its JPEG data: it is shown as far as the data goes"},
      {"palette_cut_short", Blp1(1).substr(0, 600), "the palette is cut short (file of 600 bytes): nothing to show"},
      {"header_beyond_the_gl_limit",
       [&] {
         std::string b = honest;
         test::PutLe32(b, test::blp1field::kWidth, 70000);
         return b;
       }(),
       "cannot allocate 70000 x 16 RGBA pixels (limit "},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fault);
    blp::TMemorySource source(std::span(reinterpret_cast<const std::uint8_t*>(row.bytes.data()), row.bytes.size()));
    TBlpTexture tex("test.blp", source);
    tex.LoadBlp1From(source);
    const std::string notice = TextureNotice(tex);
    EXPECT_EQ(notice.substr(0, row.notice.size()), row.notice) << notice;
    if (row.notice.empty()) EXPECT_EQ(notice, "");
  }
}

}  // namespace
}  // namespace velmora
