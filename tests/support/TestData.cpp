// Locations of test data and scratch directories.
#include "support/TestData.h"

#include <cstdlib>
#include <random>

namespace velmora::test {

std::filesystem::path RealDataDir() {
  std::filesystem::path dir = VELMORA_REALDATA_DIR;
  if (const char* env = std::getenv("VELMORA_REALDATA")) dir = env;
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec)) return {};
  return dir;
}

TempDir::TempDir() {
  std::random_device rd;
  for (;;) {
    auto candidate = std::filesystem::temp_directory_path() /
                     ("velmora-test-" + std::to_string(rd()) + std::to_string(rd()));
    std::error_code ec;
    if (std::filesystem::create_directory(candidate, ec)) {
      path_ = candidate;
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

}  // namespace velmora::test
