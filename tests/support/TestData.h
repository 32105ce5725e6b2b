// Where the tests find the third-party sample files, and the skip rule when they are absent.
#pragma once

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace velmora::test {

// ../shared/realdata next to the checkout; empty when the folder is absent.
std::filesystem::path RealDataDir();

// A fresh empty directory under the system temp dir, removed when the object dies.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

private:
  std::filesystem::path path_;
};

}  // namespace velmora::test

#define VELMORA_REQUIRE_REALDATA()                                                  \
  do {                                                                              \
    if (::velmora::test::RealDataDir().empty()) GTEST_SKIP() << "no shared/realdata"; \
  } while (0)
