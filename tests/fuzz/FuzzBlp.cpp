// Fuzz target: the bytes of one file, stored as a member of a scratch archive, loaded by
// TBlpTexture on the real code path with the GL calls going to the recording table, once with
// texture compression and once without. The table's upload stubs copy exactly the bytes each
// call reads (w x h x 4 for glTexImage2D, imageSize for glCompressedTexImage2DARB), so an upload
// whose buffer is shorter than its sizes say is an AddressSanitizer report.
//
// Every upload is then compared with a plain model of the format written here: which levels the
// header's chain holds, their sizes, and their pixels (palette expansion, DXT through the
// reference decoder, uncompressed bytes as stored); the allocation error may come only from a
// size beyond the GL limit, a level size of 2^31 bytes or more, or a load larger than the file
// justifies (64 bytes per file byte and 64 MiB), and then before any upload.
//
// BLP1 files go on to the BLP1 load the window runs for them, with a model of their own below.
//
// GL_MAX_TEXTURE_SIZE is a real GPU's 16384: the file-size bound alone keeps every input's
// buffers small, and -rss_limit_mb fails any input that balloons all the same.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/Zanth.h"
#include "blp/ZanthBLP.h"
#include "fuzz/FuzzArchive.h"
#include "gl/GlApi.h"
#include "support/BlpWriter.h"
#include "support/DxtOracle.h"
#include "support/RecordingGl.h"

using namespace velmora;

namespace {

constexpr GLint kMaxTextureSize = 16384;
constexpr char kName[] = "fuzz\\input.blp";

[[noreturn]] void Fail(const char* what, int level = -1) {
  std::fprintf(stderr, "fuzz_blp: %s (level %d)\n", what, level);
  std::abort();
}

std::uint32_t Le32(const std::string& b, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t i = 4; i-- > 0;) v = v << 8 | (at + i < b.size() ? static_cast<unsigned char>(b[at + i]) : 0u);
  return v;
}

std::uint8_t Byte(const std::string& b, std::size_t at) { return at < b.size() ? static_cast<std::uint8_t>(b[at]) : 0; }

// Level i as the loader must see it: sizes[i] bytes at offsets[i], cut at the end of the file
// and at what the level needs, the rest zero.
std::string LevelBytes(const std::string& file, std::uint32_t offset, std::uint32_t size, std::size_t needed) {
  const std::size_t available = file.size() > offset ? file.size() - offset : 0;
  const std::size_t n = std::min<std::size_t>({size, available, needed});
  std::string out = n ? file.substr(offset, n) : std::string();
  out.resize(needed, '\0');
  return out;
}

// The palette lies at 148 in BLP2 files and at 156 in BLP1 files.
std::string ExpectPalette(const std::string& file, const std::string& level, std::size_t pixels, std::uint8_t alphaBits,
                          std::size_t paletteAt = 148) {
  std::string out(pixels * 4, '\0');
  for (std::size_t p = 0; p < pixels; ++p) {
    const std::size_t entry = paletteAt + 4 * static_cast<unsigned char>(level[p]);  // stored B, G, R, A
    std::uint8_t a = 255;
    const auto plane = [&](std::size_t at) { return static_cast<std::uint8_t>(level[pixels + at]); };
    if (alphaBits == 1) a = (plane(p / 8) >> (p % 8)) & 1 ? 255 : 0;
    if (alphaBits == 4) a = static_cast<std::uint8_t>(((plane(p / 2) >> (p % 2 ? 4 : 0)) & 0xF) * 17);
    if (alphaBits == 8) a = plane(p);
    out[4 * p + 0] = static_cast<char>(Byte(file, entry + 2));
    out[4 * p + 1] = static_cast<char>(Byte(file, entry + 1));
    out[4 * p + 2] = static_cast<char>(Byte(file, entry + 0));
    out[4 * p + 3] = static_cast<char>(a);
  }
  return out;
}

// DXT levels decode over whole blocks, then the rows are cut to the level's width.
std::string ExpectDxt(test::DxtKind kind, const std::string& blocks, std::uint32_t w, std::uint32_t h) {
  const std::uint32_t pw = (w + 3) & ~3u;
  const std::uint32_t ph = (h + 3) & ~3u;
  std::vector<std::uint8_t> padded(std::size_t{pw} * ph * 4, 0);
  test::OracleDecodeImage(kind, reinterpret_cast<const std::uint8_t*>(blocks.data()), static_cast<std::int32_t>(pw),
                          static_cast<std::int32_t>(ph), padded.data());
  std::string out(std::size_t{w} * h * 4, '\0');
  for (std::size_t y = 0; y < h; ++y) std::memcpy(&out[y * w * 4], &padded[y * pw * 4], std::size_t{w} * 4);
  return out;
}

bool Same(const std::vector<std::uint8_t>& data, const std::string& expected) {
  return data.size() == expected.size() && std::memcmp(data.data(), expected.data(), data.size()) == 0;
}

void CheckLoad(const std::string& file, bool compressedPath) {
  test::RecordingGl& gl = *test::RecordingGl::Current();
  GL_ARB_texture_compression = compressedPath;
  gl.calls.clear();

  const std::uint32_t sign = Le32(file, 0);
  const std::uint32_t texType = Le32(file, 4);
  const std::uint8_t compression = Byte(file, 8);
  const std::uint8_t alphaBits = Byte(file, 9);
  const std::uint8_t alphaType = Byte(file, 10);
  const bool mips = Byte(file, 11) != 0;
  const std::uint32_t width = Le32(file, 12);
  const std::uint32_t height = Le32(file, 16);
  const auto offset = [&](int i) { return Le32(file, 20 + 4 * static_cast<std::size_t>(i)); };
  const auto size = [&](int i) { return Le32(file, 84 + 4 * static_cast<std::size_t>(i)); };
  const bool accepted = sign == 0x32504C42u && texType == 1;
  const bool known = compression >= 1 && compression <= 3;

  // The chain: level sizes with 0 taken as 1, up to the first level without offset or size.
  struct Level {
    std::uint32_t w, h;
  };
  std::vector<Level> chain;
  {
    std::uint32_t w = width, h = height;
    const int levels = test::BlpLevelCount(width, height, mips);
    for (int i = 0; i < levels; ++i) {
      w = std::max<std::uint32_t>(w, 1);
      h = std::max<std::uint32_t>(h, 1);
      if (offset(i) == 0 || size(i) == 0) break;
      chain.push_back({w, h});
      w >>= 1;
      h >>= 1;
    }
  }
  const bool beyondLimit = std::max(width, 1u) > kMaxTextureSize || std::max(height, 1u) > kMaxTextureSize;
  const bool noPalette = compression == 1 && file.size() < 148 + 1024;
  std::size_t uploads = chain.size();
  bool error = false;
  if (accepted && known && beyondLimit) {
    error = true;
    uploads = 0;
  } else if (!accepted || !known) {
    uploads = 0;
  } else {
    // The header alone decides these, so they come before the palette is read. Per level: its
    // buffer, its RGBA expansion or decode, and GL's copy, each at most RGBA of whole blocks.
    std::uint64_t loadBytes = 0;
    for (std::size_t i = 0; i < chain.size(); ++i) {
      if (size(static_cast<int>(i)) > 0x7FFFFFFFu) error = true;
      loadBytes += 3 * 4 * ((std::uint64_t{chain[i].w} + 3) / 4 * 4) * ((std::uint64_t{chain[i].h} + 3) / 4 * 4);
    }
    if (loadBytes > 64 * std::uint64_t{file.size()} + (std::uint64_t{64} << 20)) error = true;
    if (error || noPalette) uploads = 0;
  }

  bool raised = false;
  try {
    TBlpTexture tex(kName);
    if (tex.hdr.sign != sign || tex.hdr.width != width || tex.hdr.height != height) Fail("header fields");
    if (tex.width != static_cast<std::int32_t>(accepted ? width : 0)) Fail("width");
    if (tex.height != static_cast<std::int32_t>(accepted ? height : 0)) Fail("height");
  } catch (const TAllocationError& e) {
    raised = true;
    if (std::strncmp(e.what(), "cannot allocate ", 16) != 0) Fail("allocation error message");
  }
  if (raised != error) Fail(error ? "no allocation error" : "unexpected allocation error");

  const bool parameters = accepted && !error && !noPalette;
  if (gl.Calls("glTexParameteri").size() != (parameters ? 4u : 0u)) Fail("texture parameters");
  if (gl.Calls("glDeleteTextures").size() != 1) Fail("texture name not deleted");

  const auto plain = gl.Calls("glTexImage2D");
  const auto packed = gl.Calls("glCompressedTexImage2DARB");
  const bool dxtPacked = compression == 2 && compressedPath;
  if ((dxtPacked ? packed : plain).size() != uploads || (dxtPacked ? plain : packed).size() != 0) Fail("upload count");

  const int version = test::DxtVersion(alphaBits, alphaType);
  const test::DxtKind kind = version == 1 ? test::DxtKind::Dxt1 : version == 3 ? test::DxtKind::Dxt3 : test::DxtKind::Dxt5;
  for (std::size_t i = 0; i < uploads; ++i) {
    const int level = static_cast<int>(i);
    const Level& l = chain[i];
    const test::GlCall& c = dxtPacked ? packed[i] : plain[i];
    if (c.args.at(0) != gl::TEXTURE_2D || c.args.at(1) != level || c.args.at(3) != l.w || c.args.at(4) != l.h) {
      Fail("upload target, level or size", level);
    }
    const std::size_t needed = test::BlpLevelBytes(compression, alphaBits, alphaType, l.w, l.h);
    const std::string bytes = LevelBytes(file, offset(level), size(level), needed);
    std::string expected;
    if (dxtPacked) {
      const GLenum format = version == 1 ? gl::COMPRESSED_RGBA_S3TC_DXT1_EXT
                            : version == 3 ? gl::COMPRESSED_RGBA_S3TC_DXT3_EXT
                                           : gl::COMPRESSED_RGBA_S3TC_DXT5_EXT;
      if (c.args.at(2) != format || c.args.at(6) != static_cast<std::int64_t>(needed)) Fail("compressed format or size", level);
      expected = bytes;
    } else {
      const GLenum format = compression == 3 ? gl::BGRA : gl::RGBA;
      if (c.args.at(2) != gl::RGBA8 || c.args.at(6) != format || c.args.at(7) != gl::UNSIGNED_BYTE) Fail("pixel format", level);
      if (compression == 1) expected = ExpectPalette(file, bytes, std::size_t{l.w} * l.h, alphaBits);
      if (compression == 2) expected = ExpectDxt(kind, bytes, l.w, l.h);
      if (compression == 3) expected = bytes;
    }
    if (!Same(c.data, expected)) Fail("uploaded bytes differ from the model", level);
  }
}

// BLP1: the load above left the file empty; LoadBlp1, as the window runs it, loads it. The model:
// the header's refusal from the bounds BLP2 has (GL size limit, level sizes below 2^31, 64 bytes
// per file byte and 64 MiB) and the shared JPEG header inside the file, before anything is
// uploaded; palette levels by the palette rules with the palette at 156; JPEG levels of the
// chain's sizes as RGBA, fewer only with the reason why.
void CheckBlp1Load(const std::string& file) {
  test::RecordingGl& gl = *test::RecordingGl::Current();
  gl.calls.clear();
  const std::uint32_t compression = Le32(file, 4);
  const std::uint32_t alphaBits = Le32(file, 8);
  const std::uint32_t width = Le32(file, 12);
  const std::uint32_t height = Le32(file, 16);
  const bool mips = Le32(file, 24) != 0;
  const std::uint32_t shared = Le32(file, 156);
  const auto offset = [&](int i) { return Le32(file, 28 + 4 * static_cast<std::size_t>(i)); };
  const auto size = [&](int i) { return Le32(file, 92 + 4 * static_cast<std::size_t>(i)); };
  const bool jpeg = compression == 0;
  const std::uint8_t planeBits = alphaBits == 1 || alphaBits == 4 || alphaBits == 8 ? static_cast<std::uint8_t>(alphaBits) : 0;

  struct Level {
    std::uint32_t w, h;
  };
  std::vector<Level> chain;
  {
    std::uint32_t w = width, h = height;
    const int levels = test::BlpLevelCount(width, height, mips);
    for (int i = 0; i < levels; ++i) {
      w = std::max<std::uint32_t>(w, 1);
      h = std::max<std::uint32_t>(h, 1);
      if (offset(i) == 0 || size(i) == 0) break;
      chain.push_back({w, h});
      w >>= 1;
      h >>= 1;
    }
  }
  const std::uint64_t fileSize = file.size();
  bool refused = compression > 1;
  // Checked in this order: compression, the size limit, the shared JPEG header, level sizes, memory.
  bool tooLarge = !refused && (std::max(width, 1u) > kMaxTextureSize || std::max(height, 1u) > kMaxTextureSize);
  if (!refused && !tooLarge && jpeg && shared > (fileSize > 160 ? fileSize - 160 : 0)) tooLarge = true;
  if (!refused && !tooLarge) {
    std::uint64_t loadBytes = jpeg ? shared : 0, jpegPeak = 0;
    for (std::size_t i = 0; i < chain.size(); ++i) {
      if (size(static_cast<int>(i)) > 0x7FFFFFFFu) tooLarge = true;
      const std::uint64_t w = chain[i].w, h = chain[i].h;
      loadBytes += 8 * w * h;
      if (jpeg) {
        const std::uint64_t stream = shared + std::min<std::uint64_t>(size(static_cast<int>(i)), fileSize);
        jpegPeak = std::max(jpegPeak, stream + ((w + 7) / 8 * 8) * ((h + 7) / 8 * 8) * 8 + w * 4);
      } else {
        loadBytes += test::BlpLevelBytes(1, planeBits, 0, chain[i].w, chain[i].h);
      }
    }
    if (loadBytes + jpegPeak > 64 * fileSize + (std::uint64_t{64} << 20)) tooLarge = true;
  }
  refused = refused || tooLarge;

  TBlpTexture tex(kName);
  tex.LoadBlp1();
  const auto& problem = tex.HeaderProblem();
  if (problem.has_value() != refused) Fail(refused ? "BLP1: no refusal" : "BLP1: unexpected refusal");
  if (tooLarge && problem->message.rfind("cannot allocate ", 0) != 0) Fail("BLP1: refusal message");
  if (tex.width != static_cast<std::int32_t>(refused ? 0 : width)) Fail("BLP1: width");

  const auto uploads = gl.Calls("glTexImage2D");
  const bool noPalette = !jpeg && fileSize < 156 + 1024;
  const std::size_t levels = tex.Levels().levels.size();
  if (uploads.size() != (refused || noPalette ? 0 : levels)) Fail("BLP1: upload count");
  if (gl.Calls("glTexParameteri").size() != (refused || noPalette ? 0u : 4u)) Fail("BLP1: texture parameters");
  if (refused || noPalette) return;
  if (levels > chain.size() || (levels < chain.size() && (!jpeg || tex.Levels().stopped.empty()))) Fail("BLP1: levels");
  for (std::size_t i = 0; i < uploads.size(); ++i) {
    const int level = static_cast<int>(i);
    const test::GlCall& c = uploads[i];
    if (c.args.at(1) != level || c.args.at(3) != chain[i].w || c.args.at(4) != chain[i].h || c.args.at(6) != gl::RGBA) {
      Fail("BLP1: upload level, size or format", level);
    }
    if (jpeg) continue;  // no model of the JPEG decoder here; its output size is the upload's
    const std::size_t pixels = std::size_t{chain[i].w} * chain[i].h;
    const std::string bytes = LevelBytes(file, offset(level), size(level), test::BlpLevelBytes(1, planeBits, 0, chain[i].w, chain[i].h));
    if (!Same(c.data, ExpectPalette(file, bytes, pixels, planeBits, 156))) Fail("BLP1: palette level differs from the model", level);
  }
}

struct TState {
  fuzz::TScratchArchive archive{"blp"};
  test::RecordingGl gl;
};

TState& State() {
  static TState* state = [] {
    CreateArchiveIndex();
    auto* s = new TState;
    s->gl.maxTextureSize = kMaxTextureSize;
    if (!s->gl.Install().empty()) Fail("recording table incomplete");
    return s;
  }();
  return *state;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TState& s = State();
  const std::string file(reinterpret_cast<const char*>(data), size);
  const MpqHandle h = s.archive.Open({{kName, file}}, std::string(kName) + "\r\n");
  if (!LoadListFile(h, nullptr) || !FileIndex->Contains("FUZZ\\INPUT.BLP")) Fail("scratch member not indexed");
  // An empty member has no data to open, and the texture stays empty; anything else opens.
  CheckLoad(file, false);
  CheckLoad(file, true);
  if (Le32(file, 0) == blp::kBlp1Magic) CheckBlp1Load(file);
  FileIndex->Clear();
  s.archive.Close();
  return 0;
}
