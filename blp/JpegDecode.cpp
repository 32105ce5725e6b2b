// libjpeg behind an error manager that returns: its default handler prints and calls exit().
// The jump back from libjpeg's errors lands in RunDecode, which holds only C objects, so no
// destructor is skipped; the C++ caller checks and allocates before and converts the result after.
#include "blp/JpegDecode.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

namespace velmora::blp {

namespace {

constexpr std::size_t kMessageBytes = JMSG_LENGTH_MAX + 160;

struct TErrorManager {
  jpeg_error_mgr pub;  // first, so libjpeg's pointer to it is a pointer to this
  std::jmp_buf jump;
  char* message;
};

struct TProgress {
  jpeg_progress_mgr pub;  // first, as above
  int maxScans;
  TErrorManager* err;
};

// Everything RunDecode reads and writes: plain data only.
struct TDecodeJob {
  const std::uint8_t* stream;
  unsigned long streamBytes;
  std::uint32_t width;
  std::uint32_t height;
  bool alpha;
  std::uint64_t memoryLimit;
  int maxScans;
  std::uint8_t* row;  // 4 x width bytes
  std::uint8_t* out;  // 4 x width x height bytes
  char message[kMessageBytes];
};

void OnError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<TErrorManager*>(cinfo->err);
  char text[JMSG_LENGTH_MAX] = {};
  (*cinfo->err->format_message)(cinfo, text);
  std::snprintf(err->message, kMessageBytes, "the JPEG data cannot be decoded: %s", text);
  std::longjmp(err->jump, 1);
}

// Warnings (damaged entropy data, a stream cut short) and trace messages are neither printed nor
// fatal: libjpeg decodes on and fills what it lacks.
void OnMessage(j_common_ptr cinfo, int level) {
  if (level < 0) ++cinfo->err->num_warnings;
}

void OnOutput(j_common_ptr) {}

void OnProgress(j_common_ptr cinfo) {
  auto* progress = reinterpret_cast<TProgress*>(cinfo->progress);
  const int scan = reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number;
  if (scan > progress->maxScans) {
    std::snprintf(progress->err->message, kMessageBytes, "the JPEG has more than %d scans (limit %d)", progress->maxScans,
                  progress->maxScans);
    std::longjmp(progress->err->jump, 1);
  }
}

// The samples of one decoded row to RGBA: components B, G, R, A (or B, G, R; or grey).
void ConvertRow(const std::uint8_t* row, int components, bool alpha, std::uint32_t width, std::uint8_t* out) {
  for (std::uint32_t x = 0; x < width; ++x, out += 4) {
    const std::uint8_t* s = row + static_cast<std::size_t>(x) * static_cast<std::size_t>(components);
    if (components == 1) {
      out[0] = out[1] = out[2] = s[0];
      out[3] = 255;
      continue;
    }
    out[0] = s[2];
    out[1] = s[1];
    out[2] = s[0];
    out[3] = components == 4 && alpha ? s[3] : 255;
  }
}

// The decoder's buffers for a JPEG of this size: the samples of one row and, for a JPEG of
// several scans, every block's coefficients (64 of 2 bytes per 8 x 8 samples and component).
std::uint64_t DecodeBytes(std::uint64_t w, std::uint64_t h, std::uint64_t components, bool multiScan) {
  const std::uint64_t coefficients = multiScan ? ((w + 7) / 8) * ((h + 7) / 8) * 128 * components : 0;
  return w * h * components + coefficients;
}

// Returns 1 when the level was decoded, 0 with job->message set otherwise.
int RunDecode(TDecodeJob* job) {
  jpeg_decompress_struct cinfo;
  TErrorManager err;
  TProgress progress;
  std::memset(&cinfo, 0, sizeof cinfo);
  std::memset(&progress, 0, sizeof progress);
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = OnError;
  err.pub.emit_message = OnMessage;
  err.pub.output_message = OnOutput;
  err.message = job->message;
  if (setjmp(err.jump) != 0) {
    jpeg_destroy_decompress(&cinfo);
    return 0;
  }
  jpeg_create_decompress(&cinfo);
  // Only the whole-image buffers of multi-scan JPEGs are held to this; with no backing store
  // libjpeg refuses a larger request instead of taking it.
  cinfo.mem->max_memory_to_use =
      static_cast<long>(std::min<std::uint64_t>(job->memoryLimit, std::numeric_limits<long>::max()));
  progress.pub.progress_monitor = OnProgress;
  progress.maxScans = job->maxScans;
  progress.err = &err;
  cinfo.progress = &progress.pub;
  jpeg_mem_src(&cinfo, job->stream, job->streamBytes);
  jpeg_read_header(&cinfo, TRUE);

  const int components = cinfo.num_components;
  const std::uint64_t decoded =
      DecodeBytes(cinfo.image_width, cinfo.image_height, static_cast<std::uint64_t>(std::max(components, 0)),
                  jpeg_has_multiple_scans(&cinfo) != 0);
  if (decoded > job->memoryLimit) {
    std::snprintf(job->message, kMessageBytes,
                  "cannot allocate %llu bytes to decode a JPEG of %u x %u with %d components (limit %llu)",
                  static_cast<unsigned long long>(decoded), cinfo.image_width, cinfo.image_height, components,
                  static_cast<unsigned long long>(job->memoryLimit));
    jpeg_destroy_decompress(&cinfo);
    return 0;
  }
  if (components != 1 && components != 3 && components != 4) {
    std::snprintf(job->message, kMessageBytes, "the JPEG has %d components (1, 3 or 4 are read)", components);
    jpeg_destroy_decompress(&cinfo);
    return 0;
  }
  if (cinfo.image_width != job->width || cinfo.image_height != job->height) {
    std::snprintf(job->message, kMessageBytes, "the JPEG is %u x %u, the level %u x %u", cinfo.image_width,
                  cinfo.image_height, job->width, job->height);
    jpeg_destroy_decompress(&cinfo);
    return 0;
  }
  if (components == 4) {
    // The samples as stored, whatever an Adobe marker claims: no YCCK conversion, no inversion.
    cinfo.jpeg_color_space = JCS_CMYK;
    cinfo.out_color_space = JCS_CMYK;
  } else {
    cinfo.out_color_space = components == 3 ? JCS_RGB : JCS_GRAYSCALE;
  }
  jpeg_start_decompress(&cinfo);
  if (cinfo.output_components != components || cinfo.output_width != job->width || cinfo.output_height != job->height) {
    std::snprintf(job->message, kMessageBytes, "the JPEG decoder gives %d components of %u x %u", cinfo.output_components,
                  cinfo.output_width, cinfo.output_height);
    jpeg_destroy_decompress(&cinfo);
    return 0;
  }
  while (cinfo.output_scanline < cinfo.output_height) {
    const std::uint32_t y = cinfo.output_scanline;
    JSAMPROW row = job->row;
    if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) {
      std::snprintf(job->message, kMessageBytes, "the JPEG decoder stopped at row %u", y);
      jpeg_destroy_decompress(&cinfo);
      return 0;
    }
    ConvertRow(job->row, components, job->alpha, job->width,
               job->out + static_cast<std::size_t>(y) * job->width * 4);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return 1;
}

}  // namespace

std::string DecodeJpegLevel(std::span<const std::uint8_t> stream, const TJpegLevelRequest& request, std::uint8_t* out) {
  if (stream.size() > std::numeric_limits<unsigned long>::max()) return "the JPEG stream is too long";
  std::vector<std::uint8_t> row(static_cast<std::size_t>(request.width) * 4);
  // The job is large (the message buffer) and must not move while libjpeg holds pointers into it.
  auto job = std::make_unique<TDecodeJob>();
  job->stream = stream.data();
  job->streamBytes = static_cast<unsigned long>(stream.size());
  job->width = request.width;
  job->height = request.height;
  job->alpha = request.alpha;
  job->memoryLimit = request.memoryLimit;
  job->maxScans = request.maxScans;
  job->row = row.data();
  job->out = out;
  job->message[0] = '\0';
  if (RunDecode(job.get()) == 1) return {};
  return job->message[0] != '\0' ? std::string(job->message) : std::string("the JPEG data cannot be decoded");
}

}  // namespace velmora::blp
