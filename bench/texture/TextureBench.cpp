// Prints the time per TBlpTexture creation for 2048 x 2048 files with all mip levels, one line per
// encoding and DXT path, the palette expansion alone in MPixel/s, and what one redraw of the view
// costs for such a texture zoomed x4 (all a zoom, pan, channel or background change costs: the
// file is neither read nor decoded again), and the texel readout's decode of one block by the GL
// for a texture the GL holds compressed. Run it from a Release build.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <vector>

#include "archive/Zanth.h"
#include "blp/PaletteExpand.h"
#include "blp/ZanthBLP.h"
#include "gl/GlApi.h"
#include "render/GlBlock.h"
#include "render/ViewDraw.h"
#include "support/BlpWriter.h"
#include "support/EglContext.h"
#include "support/MpqWriter.h"
#include "support/TestData.h"

namespace {

using Clock = std::chrono::steady_clock;
using velmora::test::BlpFile;

constexpr std::uint32_t kSide = 2048;

struct Case {
  const char* label;
  const char* member;
  std::uint8_t compression, alphaBits, alphaType;
  bool software;  // DXT decoded by the library instead of GL
};

const Case kCases[] = {
    {"palette, alpha 8", "bench\\palette8.blp", 1, 8, 8, false},
    {"palette, alpha 1", "bench\\palette1.blp", 1, 1, 8, false},
    {"DXT1, GL compressed", "bench\\dxt1.blp", 2, 0, 0, false},
    {"DXT1, software decode", "bench\\dxt1.blp", 2, 0, 0, true},
    {"DXT5, GL compressed", "bench\\dxt5.blp", 2, 8, 7, false},
    {"DXT5, software decode", "bench\\dxt5.blp", 2, 8, 7, true},
    {"uncompressed BGRA", "bench\\bgra.blp", 3, 8, 8, false},
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double MillisecondsPerCreation(const Case& c, bool hasCompression, int runs) {
  velmora::GL_ARB_texture_compression = hasCompression && !c.software;
  std::vector<double> times;
  for (int i = 0; i < runs + 1; ++i) {
    const auto start = Clock::now();
    {
      velmora::TBlpTexture tex(c.member);
      velmora::Gl.Finish();
      if (tex.width != static_cast<std::int32_t>(kSide)) std::fprintf(stderr, "%s did not load\n", c.member);
    }
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (i > 0) times.push_back(ms);  // the first run warms caches and the driver
  }
  return Median(times);
}

void PaletteExpansionFigures() {
  const BlpFile f8 = velmora::test::RandomBlp(1, 8, 8, kSide, kSide, 0, 1);
  const velmora::blp::TPaletteTable table = velmora::blp::BuildPaletteTable(f8.palette.data());
  std::vector<std::uint32_t> out(std::size_t{kSide} * kSide);
  for (const std::uint8_t alphaBits : std::initializer_list<std::uint8_t>{8, 4, 1, 0}) {
    const BlpFile f = velmora::test::RandomBlp(1, alphaBits, 8, kSide, kSide, 0, 2);
    const auto* level = reinterpret_cast<const std::uint8_t*>(f.levels[0].data());
    std::vector<double> rates;
    for (int run = 0; run < 21; ++run) {
      const auto start = Clock::now();
      velmora::blp::ExpandPalette(table, level, out.size(), alphaBits, out.data());
      const double s = std::chrono::duration<double>(Clock::now() - start).count();
      rates.push_back(static_cast<double>(out.size()) / s / 1e6);
    }
    std::printf("palette expansion, alpha %-2u  %8.0f MPixel/s  (2048 x 2048, median of 21, check %08x)\n",
                unsigned{alphaBits}, Median(rates), out[12345]);
  }
}

// The view's drawing of the zoomed texture into a view-sized framebuffer, timed to the end of the
// GPU's work: milliseconds per redraw.
double MillisecondsPerZoomedRedraw(velmora::GLuint texture, velmora::TChannel channel,
                                   velmora::TBackground background, int runs) {
  using namespace velmora;
  constexpr GLsizei kViewW = 1024, kViewH = 768;  // a large view on a desktop
  GLuint target = 0, framebuffer = 0, vertexArray = 0, buffers[2] = {0, 0};
  Gl.GenTextures(1, &target);
  Gl.BindTexture(gl::TEXTURE_2D, target);
  Gl.TexImage2D(gl::TEXTURE_2D, 0, static_cast<GLint>(gl::RGBA8), kViewW, kViewH, 0, gl::RGBA, gl::UNSIGNED_BYTE, nullptr);
  Gl.GenFramebuffers(1, &framebuffer);
  Gl.BindFramebuffer(gl::FRAMEBUFFER, framebuffer);
  Gl.FramebufferTexture2D(gl::FRAMEBUFFER, gl::COLOR_ATTACHMENT0, gl::TEXTURE_2D, target, 0);
  Gl.Viewport(0, 0, kViewW, kViewH);
  Gl.Enable(gl::BLEND);
  Gl.BlendFunc(gl::SRC_ALPHA, gl::ONE_MINUS_SRC_ALPHA);
  // The view's quad: positions in clip space, a triangle strip.
  constexpr GLfloat kPositions[12] = {-1, 1, 0, -1, -1, 0, 1, 1, 0, 1, -1, 0};
  constexpr std::uint16_t kIndices[4] = {0, 1, 2, 3};
  Gl.GenVertexArrays(1, &vertexArray);
  Gl.BindVertexArray(vertexArray);
  Gl.GenBuffers(2, buffers);
  Gl.BindBuffer(gl::ARRAY_BUFFER, buffers[0]);
  Gl.BufferData(gl::ARRAY_BUFFER, sizeof kPositions, kPositions, gl::STATIC_DRAW);
  Gl.BindBuffer(gl::ELEMENT_ARRAY_BUFFER, buffers[1]);
  Gl.BufferData(gl::ELEMENT_ARRAY_BUFFER, sizeof kIndices, kIndices, gl::STATIC_DRAW);

  TViewDrawer drawer;
  TViewFrame frame;
  frame.texture = texture;
  frame.levelWidth = frame.levelHeight = kSide;
  frame.zoom = 4;
  frame.viewportHeight = kViewH;
  frame.channel = channel;
  frame.background = background;
  frame.window = {212, 208, 200};
  std::vector<double> times;
  for (int i = 0; i < runs + 1; ++i) {
    // A pan between frames, as dragging does.
    frame.originX = 4.0 * kSide / 2 + 16 * i;
    frame.originY = 4.0 * kSide / 2 + 8 * i;
    const auto start = Clock::now();
    if (!drawer.Draw({vertexArray, buffers[0], buffers[1]}, frame)) {
      std::fprintf(stderr, "the view's program did not build\n");
      break;
    }
    Gl.Finish();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (i > 0) times.push_back(ms);  // the first draw builds the program
  }
  drawer.Release();
  Gl.BindFramebuffer(gl::FRAMEBUFFER, 0);
  Gl.DeleteFramebuffers(1, &framebuffer);
  Gl.DeleteTextures(1, &target);
  Gl.DeleteBuffers(2, buffers);
  Gl.DeleteVertexArrays(1, &vertexArray);
  return times.empty() ? 0 : Median(times);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
  PaletteExpansionFigures();

  velmora::test::EglContext ctx;
  if (!ctx.ok()) {
    std::printf("no headless OpenGL (%s): texture creation not measured\n", ctx.error().c_str());
    return 0;
  }
  const bool hasCompression = velmora::GL_ARB_texture_compression;
  std::printf("GL: %s, GL_ARB_texture_compression %s\n", ctx.Renderer().c_str(), hasCompression ? "yes" : "no");

  std::vector<velmora::test::MpqMember> members;
  for (const Case& c : kCases) {
    if (std::any_of(members.begin(), members.end(), [&](const auto& m) { return m.name == c.member; })) continue;
    members.push_back({c.member, velmora::test::WriteBlp(velmora::test::RandomBlp(c.compression, c.alphaBits,
                                                                                  c.alphaType, kSide, kSide, 1, 7))});
  }
  velmora::test::TempDir dir;
  const auto path = dir.path() / "bench.mpq";
  velmora::test::WriteMpq(path, members, velmora::test::ListFileOf(members));
  velmora::CreateArchiveIndex();
  velmora::TArchiveHandle archive;
  if (!velmora::OpenMpqArchive(path.string(), archive)) {
    std::printf("cannot open %s\n", path.string().c_str());
    return 1;
  }
  const velmora::MpqHandle h = archive.Get();
  velmora::MpqList->Append(std::move(archive));
  velmora::LoadListFile(h, [](std::string_view) {});

  for (const Case& c : kCases) {
    if (!c.software && c.compression == 2 && !hasCompression) continue;
    std::printf("%-24s %8.2f ms per TBlpTexture (2048 x 2048, 12 levels, median of %d)\n", c.label,
                MillisecondsPerCreation(c, hasCompression, runs), runs);
  }

  struct RedrawCase {
    const char* label;
    const char* member;
    velmora::TChannel channel;
    velmora::TBackground background;
  };
  const RedrawCase redraws[] = {
      {"DXT5, RGBA over window", "bench\\dxt5.blp", velmora::TChannel::kRgba, velmora::TBackground::kWindow},
      {"DXT5, RGBA over checker", "bench\\dxt5.blp", velmora::TChannel::kRgba, velmora::TBackground::kChecker},
      {"DXT5, alpha as grey", "bench\\dxt5.blp", velmora::TChannel::kAlpha, velmora::TBackground::kWindow},
      {"palette, RGBA over window", "bench\\palette8.blp", velmora::TChannel::kRgba, velmora::TBackground::kWindow},
  };
  velmora::GL_ARB_texture_compression = hasCompression;
  for (const RedrawCase& r : redraws) {
    velmora::TBlpTexture tex(r.member);
    std::printf("redraw x4, %-25s %6.2f ms per frame (2048 x 2048 zoomed x4 in a 1024 x 768 view, median of %d)\n",
                r.label, MillisecondsPerZoomedRedraw(tex.id, r.channel, r.background, std::max(runs, 21)),
                std::max(runs, 21));
  }
  // The texel readout on a texture the GL holds compressed: its block decoded by the GL.
  if (hasCompression) {
    const BlpFile file = velmora::test::RandomBlp(2, 8, 7, 4, 4, 0, 7);
    const auto* block = reinterpret_cast<const std::uint8_t*>(file.levels[0].data());
    std::uint8_t pixels[64];
    std::vector<double> times;
    for (int i = 0; i < std::max(runs, 101) + 1; ++i) {
      const auto start = Clock::now();
      velmora::GlDecodeBlock(velmora::blp::TLevelFormat::kDxt5, block, pixels);
      if (i > 0) times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::printf("readout, DXT5 texel decoded by GL %8.1f us per pointer move (one block, median of %d)\n", Median(times),
                std::max(runs, 101));
  }
  velmora::FreeArchiveIndex();
  return 0;
}
