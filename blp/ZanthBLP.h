// The texture object: one BLP2 file from the archives as one OpenGL 2D texture with all its mip
// levels. The file is decoded to levels in memory (blp/BlpDecode.h); this class only uploads.
// The constructors load BLP2 only and leave a BLP1 file empty; LoadBlp1 then loads it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "archive/Zanth.h"
#include "blp/Blp1Header.h"
#include "blp/BlpDecode.h"
#include "blp/BlpErrors.h"
#include "blp/BlpHeader.h"

namespace velmora {

// One BLP2 file loaded into one GL texture. Needs a current GL context whose entry points are
// resolved in velmora::Gl. A file that cannot be found or read gives an empty texture; only a
// buffer that cannot be allocated raises (TAllocationError), and then the texture name is
// deleted and the archive file closed before the error leaves the constructor.
class TBlpTexture : public TZanthObject {
public:
  explicit TBlpTexture(const std::string& fName);
  // Another archive's version of a path: the member `memberName` of `archive`, loaded the same
  // way; fname() is `fName`.
  TBlpTexture(const std::string& fName, MpqHandle archive, const std::string& memberName);
  // A BLP file that is not in the archives (one on disk): the same load from `source`'s bytes.
  // `fName` is what fname() reports; it is not looked up.
  TBlpTexture(const std::string& fName, blp::TBlpSource& source);
  ~TBlpTexture() override;

  std::int32_t width = 0;   // hdr.width once the header is accepted; 0 otherwise
  std::int32_t height = 0;  // hdr.height once the header is accepted; 0 otherwise
  std::uint32_t id = 0;     // the GL texture name
  TBLP2Header hdr;          // as read from the file; all zero without a file

  // The file's levels as decoded for the upload: palette expanded to RGBA, DXT as blocks,
  // uncompressed as B, G, R, A. Empty when the load stopped before reading them.
  const blp::TBlpLevels& Levels() const { return FLevels; }
  // Why the header was not loaded as it stands (not BLP2, JPEG content, unknown encoding; for
  // BLP1 before LoadBlp1 "not supported", after it the BLP1 check's refusal), or none.
  const std::optional<blp::THeaderProblem>& HeaderProblem() const { return FHeaderProblem; }
  // A texture whose file is BLP1 (hdr.sign is "BLP1") and that has not loaded it yet: decodes
  // the file's levels (palette or JPEG, blp/Blp1Decode.h) from the archive file the texture holds,
  // or from `source` for a file on disk, and uploads them as RGBA levels with the parameters a
  // BLP2 texture gets. width and height then take the header's values. A header the BLP1 check
  // refuses (beyond the GL size limit or the memory bound, a shared JPEG header past the end of
  // the file) becomes HeaderProblem() and nothing is uploaded: it is shown, not raised. Any other
  // texture is left as it is. Throws TAllocationError only when memory runs out.
  void LoadBlp1();
  void LoadBlp1From(blp::TBlpSource& source);
  // The BLP1 header once LoadBlp1 has read it; none otherwise.
  const std::optional<TBLP1Header>& Blp1Header() const { return FBlp1Header; }

  // Whether the load had bytes to read (an archive file or a file on disk), and how many.
  bool HasSource() const { return FHasSource; }
  std::uint64_t SourceSize() const { return FSourceSize; }
  // True when DXT levels went to GL decoded by Dexaro (the GL takes no compressed textures), so
  // the texels on screen are the library's decode rather than the GL's.
  bool DxtDecodedByLibrary() const { return FDxtByLibrary; }

  // Levels of a full mip chain down to 1 x 1: 256 x 64 has 9.
  static int MipLevelCount(std::uint32_t w, std::uint32_t h);
  // Reverses the four bytes of v.
  static std::uint32_t SwapBytes(std::uint32_t v);
  // Decodes the whole 4x4 blocks of a DXT1/3/5 image (GL formats 0x83F1/0x83F2/0x83F3) into
  // w x h RGBA pixels at dst; any other format does nothing.
  static void DecompressDXT(std::uint32_t format, std::int32_t w, std::int32_t h, const void* src, void* dst);

private:
  // Both constructors: the GL name, then the BLP2 load; the name released if the load throws.
  void Construct();
  void LoadBlp();
  void LoadBlpFrom(blp::TBlpSource& source);
  void ReleaseTexture() noexcept;
  void UploadLevels();

  blp::TBlpLevels FLevels;
  std::optional<blp::THeaderProblem> FHeaderProblem;
  std::optional<TBLP1Header> FBlp1Header;
  bool FHasSource = false;
  std::uint64_t FSourceSize = 0;
  bool FDxtByLibrary = false;
};

}  // namespace velmora
