// Reference decoding of JPEG files through ImageMagick, for tests.
#include "support/JpegReference.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/TestData.h"

namespace velmora::test {

std::vector<std::uint8_t> ReferenceJpegSamples(const std::string& jpeg, int components, std::string& why) {
  const TempDir dir;
  const std::filesystem::path in = dir.path() / "in.jpg";
  const std::filesystem::path out = dir.path() / "out.raw";
  std::ofstream(in, std::ios::binary) << jpeg;
  const char* format = components == 4 ? "cmyk" : components == 3 ? "rgb" : "gray";
  const std::string command = "/usr/bin/convert '" + in.string() + "' -depth 8 " + format + ":'" + out.string() +
                              "' 2>'" + (dir.path() / "err.txt").string() + "'";
  if (std::system(command.c_str()) != 0) {
    std::ifstream err(dir.path() / "err.txt");
    why = "convert failed: " + std::string(std::istreambuf_iterator<char>(err), {});
    return {};
  }
  std::ifstream raw(out, std::ios::binary);
  std::vector<std::uint8_t> samples((std::istreambuf_iterator<char>(raw)), std::istreambuf_iterator<char>());
  if (components == 4) {
    for (std::uint8_t& v : samples) v = static_cast<std::uint8_t>(255 - v);
  }
  if (samples.empty()) why = "convert wrote nothing";
  return samples;
}

}  // namespace velmora::test
