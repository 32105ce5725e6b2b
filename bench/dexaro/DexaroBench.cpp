// Decoder throughput on 4096 x 4096 images: Dexaro (its exports and each instruction-set path)
// against libsquish's DecompressImage on one thread and against a plain loop of 16-byte stores
// over the same destination, the write-bandwidth limit. Run from a Release build.
#include <squish.h>
#include <unistd.h>

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "dexaro/Dexaro.h"
#include "dexaro/DxtDecode.h"

namespace {

constexpr int kSize = 4096;
constexpr double kPixels = double(kSize) * kSize;
constexpr int kRepeats = 15;

namespace dx = velmora::dexaro;

struct Format {
  const char* name;
  dx::DxtFormat format;
  int squishFlags;
  int32_t (*exported)(const void*, int32_t, int32_t, void*);
  std::size_t blockBytes;
};

const Format kFormats[] = {
    {"DXT1", dx::DxtFormat::Dxt1, squish::kDxt1, DDSDecompressDXT1, 8},
    {"DXT3", dx::DxtFormat::Dxt3, squish::kDxt3, DDSDecompressDXT3, 16},
    {"DXT5", dx::DxtFormat::Dxt5, squish::kDxt5, DDSDecompressDXT5, 16},
};

// CPU time of this thread: on a machine shared with other work, time spent preempted is not
// the decoder's.
double ThreadSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Best of kRepeats runs each, in seconds, of the runs given, taken in turn so that every one
// sees the same conditions on a shared machine; the best run is the least disturbed one.
std::vector<double> BestSeconds(const std::vector<std::function<void()>>& runs, int repeats = kRepeats) {
  std::vector<double> best(runs.size(), 1e30);
  for (const auto& run : runs) run();  // warm caches, page tables and branch predictors
  for (int i = 0; i < repeats; ++i) {
    for (std::size_t r = 0; r < runs.size(); ++r) {
      const double t0 = ThreadSeconds();
      runs[r]();
      best[r] = std::min(best[r], ThreadSeconds() - t0);
    }
  }
  return best;
}

double MPixelsPerSecond(double seconds) { return kPixels / seconds / 1e6; }

// Random blocks: both colour modes, equal endpoints and both DXT5 alpha modes frequent.
std::vector<uint8_t> RandomBlocks(const Format& f) {
  std::mt19937 rng(12345);
  const std::size_t blocks = std::size_t(kSize / 4) * (kSize / 4);
  std::vector<uint8_t> out(blocks * f.blockBytes);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  for (std::size_t i = 0; i < blocks; ++i) {
    uint8_t* block = out.data() + i * f.blockBytes;
    uint8_t* colour = block + (f.blockBytes - 8);
    if (rng() % 4 == 0) std::memcpy(colour + 2, colour, 2);
    if (f.format == dx::DxtFormat::Dxt5 && rng() % 4 == 0) block[1] = block[0];
  }
  return out;
}

// A photograph-like image: smooth gradients, soft discs with sharp rims, a little noise, and
// an alpha channel of gradients and cut-outs.
std::vector<uint8_t> RealisticImage() {
  std::vector<uint8_t> rgba(std::size_t(kSize) * kSize * 4);
  std::mt19937 rng(777);
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      const int noise = int(rng() % 9) - 4;
      uint8_t* px = &rgba[(std::size_t(y) * kSize + x) * 4];
      px[0] = uint8_t(std::clamp(128 + int(100 * std::sin(x * 0.003)) + noise, 0, 255));
      px[1] = uint8_t(std::clamp(128 + int(100 * std::cos(y * 0.002)) + noise, 0, 255));
      px[2] = uint8_t(std::clamp((x + y) % 512 / 2 + noise, 0, 255));
      px[3] = (x / 256 + y / 256) % 3 == 0 ? uint8_t(0)
                                            : uint8_t(std::clamp(128 + int(127 * std::sin(x * 0.01 + y * 0.007)), 0, 255));
    }
  }
  for (int i = 0; i < 400; ++i) {
    const int cx = int(rng() % kSize), cy = int(rng() % kSize), radius = 10 + int(rng() % 250);
    const int colour[3] = {int(rng() % 256), int(rng() % 256), int(rng() % 256)};
    for (int y = std::max(0, cy - radius); y < std::min(kSize, cy + radius); ++y) {
      for (int x = std::max(0, cx - radius); x < std::min(kSize, cx + radius); ++x) {
        const double d = std::sqrt(double(x - cx) * (x - cx) + double(y - cy) * (y - cy));
        if (d >= radius) continue;
        const double w = 1.0 - d / radius;
        uint8_t* px = &rgba[(std::size_t(y) * kSize + x) * 4];
        for (int c = 0; c < 3; ++c) px[c] = uint8_t(px[c] + (colour[c] - px[c]) * w);
      }
    }
  }
  return rgba;
}

// The write-bandwidth limit: 16-byte stores over the whole destination, nothing else. The
// stored value changes each time so that the loop stays a loop of stores, not a memset call.
void PlainStores(uint8_t* dst, std::size_t bytes) {
  __m128i v = _mm_setzero_si128();
  const __m128i one = _mm_set1_epi32(1);
  for (std::size_t i = 0; i < bytes; i += 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), v);
    v = _mm_add_epi32(v, one);
  }
  asm volatile("" : : "r"(dst) : "memory");
}

}  // namespace

int main(int argc, char** argv) {
  // libsquish's DecompressImage runs on OpenMP threads; the run time reads OMP_NUM_THREADS
  // when it is loaded, before main, so the process starts itself again with it set.
  const char* omp = std::getenv("OMP_NUM_THREADS");
  if (omp == nullptr || std::string(omp) != "1") {
    setenv("OMP_NUM_THREADS", "1", 1);
    execv("/proc/self/exe", argv);
    std::perror("execv /proc/self/exe");
    return 1;
  }
  (void)argc;

  const std::size_t dstBytes = std::size_t(kSize) * kSize * 4;
  std::vector<uint8_t> dst(dstBytes, 1);
  std::vector<uint8_t> check(dstBytes, 0);
  const auto stores = [&] { PlainStores(dst.data(), dstBytes); };

  std::printf("dexaro_bench: %d x %d images, best of %d runs in thread CPU time, one thread (OMP_NUM_THREADS=%s)\n", kSize, kSize,
              kRepeats, std::getenv("OMP_NUM_THREADS"));
  std::printf("fastest Dexaro path on this CPU: %s\n", dx::PathName(dx::BestPath()));
  std::fprintf(stderr, "generating the realistic image and compressing it with libsquish...\n");
  const std::vector<uint8_t> image = RealisticImage();

  std::printf("\n%-5s %-10s %-8s %10s %10s %10s %9s %9s\n", "fmt", "blocks", "decoder", "MPixel/s", "squish",
              "stores", "x squish", "% stores");
  bool allExact = true;
  for (const Format& f : kFormats) {
    std::vector<uint8_t> realistic(std::size_t(squish::GetStorageRequirements(kSize, kSize, f.squishFlags)));
    squish::CompressImage(image.data(), kSize, kSize, realistic.data(), f.squishFlags | squish::kColourRangeFit);
    const std::pair<const char*, std::vector<uint8_t>> sets[] = {{"random", RandomBlocks(f)},
                                                                 {"realistic", std::move(realistic)}};
    for (const auto& [setName, blocks] : sets) {
      const auto squishRun = [&] { squish::DecompressImage(dst.data(), kSize, kSize, blocks.data(), f.squishFlags); };
      const auto exportRun = [&] { f.exported(blocks.data(), kSize, kSize, dst.data()); };
      const double squishRate = MPixelsPerSecond(BestSeconds({squishRun}, 3)[0]);
      const auto row = [&](const char* decoder, double rate, double storeRate) {
        std::printf("%-5s %-10s %-8s %10.0f %10.0f %10.0f %8.1fx %8.0f%%\n", f.name, setName, decoder, rate,
                    squishRate, storeRate, rate / squishRate, 100.0 * rate / storeRate);
      };
      const auto exportTimes = BestSeconds({stores, exportRun});
      row("Dexaro", MPixelsPerSecond(exportTimes[1]), MPixelsPerSecond(exportTimes[0]));
      // The exports' bytes, kept to check each path against.
      f.exported(blocks.data(), kSize, kSize, check.data());
      for (const dx::DxtPath path : dx::kAllPaths) {
        if (!dx::PathAvailable(path)) continue;
        const auto pathRun = [&] { dx::DecodeImage(path, f.format, blocks.data(), kSize, kSize, dst.data()); };
        const auto times = BestSeconds({stores, pathRun}, path == dx::DxtPath::Scalar ? 3 : kRepeats);
        row(dx::PathName(path), MPixelsPerSecond(times[1]), MPixelsPerSecond(times[0]));
        if (dst != check) {
          std::printf("  the %s path's bytes differ from the exports'\n", dx::PathName(path));
          allExact = false;
        }
      }
    }
  }
  std::printf("\nMPixel/s = 4096 x 4096 pixels / best time. \"squish\": squish::DecompressImage on one thread.\n"
              "\"stores\": a plain loop of 16-byte stores over the same 64 MiB destination, timed in turn with\n"
              "the decoder on that row (the write-bandwidth limit).\n");
  return allExact ? 0 : 1;
}
