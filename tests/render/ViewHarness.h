// What the view tests share: a QGuiApplication on the X server named by DISPLAY, panels shown
// on screen, screen grabs of a panel, BLP textures built at test time inside a real archive,
// and a working directory with the project's shader files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "render/View.h"
#include "support/ImageCompare.h"
#include "support/TestData.h"

namespace velmora::test {

// Runs the view tests: keeps the Mesa driver loaded, starts the application when an X display
// is named (the tests skip otherwise) and runs every test.
int RunViewTests(int argc, char** argv);

// True when RunViewTests could start the application.
bool HaveDisplay();

// Shows `panel` at `pos` (screen coordinates), w x h, and waits until the window system has
// exposed it. False when it is not exposed within a few seconds.
bool ShowPanel(TRenderPanel& panel, int x, int y, int w, int h);

// Processes pending window-system events for a short while (resizes, exposes).
void SettleEvents();

// The panel's pixels as they are on screen now.
RgbaImage GrabPanel(const TRenderPanel& panel);

// w x h pixels of one colour.
RgbaImage Filled(int w, int h, std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a = 255);

// Writes uncompressed BLP2 files (B, G, R, A texels, no mips) of the given RGBA images into one
// archive, opens it and indexes its list file, so that TBlpTexture can load them by name.
class TTextureArchive {
public:
  TTextureArchive();
  ~TTextureArchive();
  TTextureArchive(const TTextureArchive&) = delete;
  TTextureArchive& operator=(const TTextureArchive&) = delete;

  // Call for every texture before Open.
  void Add(const std::string& name, const RgbaImage& image);
  void Open();

private:
  TempDir dir_;
  std::vector<std::pair<std::string, std::string>> files_;
};

// Changes the working directory for its lifetime.
class TWorkingDir {
public:
  explicit TWorkingDir(const std::filesystem::path& dir);
  ~TWorkingDir();
  TWorkingDir(const TWorkingDir&) = delete;
  TWorkingDir& operator=(const TWorkingDir&) = delete;

private:
  std::filesystem::path old_;
};

// The source tree, whose shader/ folder holds the program's GLSL files.
std::filesystem::path SourceDir();

}  // namespace velmora::test
