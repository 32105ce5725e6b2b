// JPEG encoding through libjpeg, for tests.
#include "support/JpegTools.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include <jpeglib.h>

namespace velmora::test {

std::string EncodeJpeg(const JpegSettings& settings, const std::vector<std::uint8_t>& samples) {
  const std::size_t rowBytes = std::size_t{settings.width} * static_cast<std::size_t>(settings.components);
  if (samples.size() != rowBytes * settings.height) throw std::invalid_argument("EncodeJpeg: samples do not fit the size");
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);  // a test's own valid input: libjpeg's exit on error fails the test
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = settings.width;
  cinfo.image_height = settings.height;
  cinfo.input_components = settings.components;
  cinfo.in_color_space = settings.components == 4   ? JCS_CMYK
                         : settings.components == 3 ? JCS_RGB
                         : settings.components == 1 ? JCS_GRAYSCALE
                                                : JCS_UNKNOWN;
  jpeg_set_defaults(&cinfo);
  if (settings.components == 4) {
    jpeg_set_colorspace(&cinfo, JCS_CMYK);
    cinfo.write_Adobe_marker = FALSE;
  } else if (settings.components == 3 && !settings.ycc) {
    jpeg_set_colorspace(&cinfo, JCS_RGB);  // with an Adobe marker, transform 0
  }
  for (int c = 0; c < cinfo.num_components; ++c) {
    cinfo.comp_info[c].h_samp_factor = 1;
    cinfo.comp_info[c].v_samp_factor = 1;
  }
  jpeg_set_quality(&cinfo, settings.quality, TRUE);
  if (settings.progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  if (!settings.comment.empty()) {
    jpeg_write_marker(&cinfo, JPEG_COM, reinterpret_cast<const JOCTET*>(settings.comment.data()),
                      static_cast<unsigned>(settings.comment.size()));
  }
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(samples.data() + cinfo.next_scanline * rowBytes);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::string out(reinterpret_cast<const char*>(buffer), size);
  std::free(buffer);
  return out;
}

std::size_t FrameHeaderOffset(const std::string& jpeg) {
  for (std::size_t i = 0; i + 1 < jpeg.size(); ++i) {
    const auto marker = static_cast<unsigned char>(jpeg[i + 1]);
    if (static_cast<unsigned char>(jpeg[i]) == 0xFF && (marker == 0xC0 || marker == 0xC2)) return i;
  }
  throw std::invalid_argument("FrameHeaderOffset: no SOF0 or SOF2 marker");
}

}  // namespace velmora::test
