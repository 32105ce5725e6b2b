// Writing PNG files: row filters, the zlib stream, chunks with their CRC.
#include "blp/PngWrite.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "base/UniqueFd.h"
#include "blp/ExportFolder.h"

namespace velmora::blp {
namespace {

constexpr std::array<std::uint8_t, 8> kSignature = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr std::size_t kMaxIdatBytes = std::size_t{1} << 20;
constexpr std::uint32_t kMaxDimension = 0x7FFFFFFF;  // PNG's limit for width and height

void PutBe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v >> 24));
  out.push_back(static_cast<std::uint8_t>(v >> 16));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}

void PutChunk(std::vector<std::uint8_t>& out, const char type[5], const std::uint8_t* data, std::size_t size) {
  PutBe32(out, static_cast<std::uint32_t>(size));
  const std::size_t typeAt = out.size();
  out.insert(out.end(), type, type + 4);
  if (size > 0) out.insert(out.end(), data, data + size);
  // The CRC covers the type and the data, not the length.
  const uLong crc = crc32(0L, out.data() + typeAt, static_cast<uInt>(4 + size));
  PutBe32(out, static_cast<std::uint32_t>(crc));
}

// Paeth predictor: of left a, above b and upper left c, the one closest to a + b - c (ties: a, b, c).
std::uint8_t Paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return static_cast<std::uint8_t>(a);
  if (pb <= pc) return static_cast<std::uint8_t>(b);
  return static_cast<std::uint8_t>(c);
}

// Filters `row` against `prior` (zeros for the first row) with filter type `type` into out[1..].
// a is the byte one pixel (`pixelBytes`) to the left, b the one above, c the one above a; a and c
// are 0 in the first pixel. One loop per type, so each can be vectorised.
void FilterRow(int type, const std::uint8_t* row, const std::uint8_t* prior, std::size_t n, std::size_t pixelBytes,
               std::uint8_t* out) {
  out[0] = static_cast<std::uint8_t>(type);
  std::uint8_t* f = out + 1;
  const std::size_t bpp = std::min(pixelBytes, n);
  switch (type) {
    case 0:  // None
      std::memcpy(f, row, n);
      break;
    case 1:  // Sub: x - a
      std::memcpy(f, row, bpp);
      for (std::size_t i = bpp; i < n; ++i) f[i] = static_cast<std::uint8_t>(row[i] - row[i - bpp]);
      break;
    case 2:  // Up: x - b
      for (std::size_t i = 0; i < n; ++i) f[i] = static_cast<std::uint8_t>(row[i] - prior[i]);
      break;
    case 3:  // Average: x - floor((a + b) / 2)
      for (std::size_t i = 0; i < bpp; ++i) f[i] = static_cast<std::uint8_t>(row[i] - prior[i] / 2);
      for (std::size_t i = bpp; i < n; ++i) f[i] = static_cast<std::uint8_t>(row[i] - (row[i - bpp] + prior[i]) / 2);
      break;
    default:  // Paeth: x - Paeth(a, b, c)
      for (std::size_t i = 0; i < bpp; ++i) f[i] = static_cast<std::uint8_t>(row[i] - prior[i]);
      for (std::size_t i = bpp; i < n; ++i) {
        f[i] = static_cast<std::uint8_t>(row[i] - Paeth(row[i - bpp], prior[i], prior[i - bpp]));
      }
      break;
  }
}

// The usual heuristic: the filter whose output, read as signed bytes, has the smallest sum of
// magnitudes.
std::uint64_t Cost(const std::uint8_t* f, std::size_t n) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < n; ++i) sum += static_cast<std::uint64_t>(std::abs(static_cast<int>(static_cast<std::int8_t>(f[i]))));
  return sum;
}

class TDeflater {
public:
  TDeflater() {
    if (deflateInit(&z_, Z_DEFAULT_COMPRESSION) != Z_OK) throw std::runtime_error("zlib: deflateInit failed");
  }
  ~TDeflater() { deflateEnd(&z_); }
  TDeflater(const TDeflater&) = delete;
  TDeflater& operator=(const TDeflater&) = delete;

  void Add(const std::uint8_t* data, std::size_t size, int flush) {
    z_.next_in = const_cast<Bytef*>(data);
    z_.avail_in = static_cast<uInt>(size);
    std::array<std::uint8_t, 64 * 1024> buf;
    for (;;) {
      z_.next_out = buf.data();
      z_.avail_out = static_cast<uInt>(buf.size());
      const int rc = deflate(&z_, flush);
      if (rc == Z_STREAM_ERROR) throw std::runtime_error("zlib: deflate failed");
      out.insert(out.end(), buf.data(), buf.data() + (buf.size() - z_.avail_out));
      if (flush == Z_FINISH ? rc == Z_STREAM_END : (z_.avail_in == 0 && z_.avail_out != 0)) break;
    }
  }

  std::vector<std::uint8_t> out;

private:
  z_stream z_{};
};

}  // namespace

std::vector<std::uint8_t> EncodePng(std::uint32_t width, std::uint32_t height, const std::uint8_t* rgba, bool alpha) {
  if (width == 0 || height == 0 || width > kMaxDimension || height > kMaxDimension) {
    throw std::invalid_argument("PNG cannot hold an image of " + std::to_string(width) + " x " + std::to_string(height));
  }
  const std::size_t pixelBytes = alpha ? 4 : 3;
  const std::size_t inRowBytes = std::size_t{width} * 4;
  const std::size_t rowBytes = std::size_t{width} * pixelBytes;

  TDeflater z;
  // Without alpha each row is first packed to R, G, B; the previous packed row is kept for Up,
  // Average and Paeth.
  std::array<std::vector<std::uint8_t>, 2> packed;
  if (!alpha) {
    for (auto& p : packed) p.assign(rowBytes, 0);
  }
  std::vector<std::uint8_t> zeros(rowBytes, 0);
  std::array<std::vector<std::uint8_t>, 5> candidates;
  for (auto& c : candidates) c.resize(rowBytes + 1);
  for (std::uint32_t y = 0; y < height; ++y) {
    const std::uint8_t* row = rgba + y * inRowBytes;
    const std::uint8_t* prior = y > 0 ? row - inRowBytes : zeros.data();
    if (!alpha) {
      std::vector<std::uint8_t>& now = packed[y & 1];
      for (std::size_t x = 0; x < width; ++x) std::memcpy(now.data() + 3 * x, row + 4 * x, 3);
      row = now.data();
      prior = y > 0 ? packed[(y + 1) & 1].data() : zeros.data();
    }
    int best = 0;
    std::uint64_t bestCost = UINT64_MAX;
    for (int type = 0; type < 5; ++type) {
      auto& c = candidates[static_cast<std::size_t>(type)];
      FilterRow(type, row, prior, rowBytes, pixelBytes, c.data());
      const std::uint64_t cost = Cost(c.data() + 1, rowBytes);
      if (cost < bestCost) {
        bestCost = cost;
        best = type;
      }
    }
    z.Add(candidates[static_cast<std::size_t>(best)].data(), rowBytes + 1, Z_NO_FLUSH);
  }
  z.Add(nullptr, 0, Z_FINISH);

  std::vector<std::uint8_t> png(kSignature.begin(), kSignature.end());
  png.reserve(z.out.size() + 64 + (z.out.size() / kMaxIdatBytes + 1) * 12);
  std::vector<std::uint8_t> ihdr;
  PutBe32(ihdr, width);
  PutBe32(ihdr, height);
  // depth 8, colour type 6 (RGBA) or 2 (RGB), deflate, adaptive filters, no interlace
  ihdr.insert(ihdr.end(), {8, static_cast<std::uint8_t>(alpha ? 6 : 2), 0, 0, 0});
  PutChunk(png, "IHDR", ihdr.data(), ihdr.size());
  for (std::size_t at = 0; at < z.out.size(); at += kMaxIdatBytes) {
    PutChunk(png, "IDAT", z.out.data() + at, std::min(kMaxIdatBytes, z.out.size() - at));
  }
  PutChunk(png, "IEND", nullptr, 0);
  return png;
}

bool EveryAlphaOpaque(const std::uint8_t* rgba, std::size_t pixels) {
  for (std::size_t i = 0; i < pixels; ++i) {
    if (rgba[4 * i + 3] != 255) return false;
  }
  return true;
}

bool WriteFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string& error) {
  // The folder is the one the user chose, links and all; inside it nothing is followed.
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const TFd dir(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!dir.valid()) {
    error = "cannot open folder " + folder + ": " + std::strerror(errno);
    return false;
  }
  TTempNames temps;
  return WriteFileAt(dir.get(), name, bytes, true, path, temps, error) == TWriteOutcome::kWritten;
}

}  // namespace velmora::blp
