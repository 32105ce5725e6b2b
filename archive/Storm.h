// The one place that includes StormLib. Its header defines many Windows-style macros (_T, BYTE,
// ERROR_*, ...). In the product only the archive reader process (ReaderMain.cpp) includes it:
// the viewer itself links no StormLib and sees archives through handles of its own (MpqHandle).
// Tests and tools that drive StormLib directly (writing archives, reading them as a reference)
// include it instead of <StormLib.h>.
#pragma once

#include <StormLib.h>

#include <cstdint>
#include <memory>

namespace velmora::storm {

inline HANDLE ToHandle(std::uintptr_t h) { return reinterpret_cast<HANDLE>(h); }
inline std::uintptr_t FromHandle(HANDLE h) { return reinterpret_cast<std::uintptr_t>(h); }

struct TMpqFileCloser {
  void operator()(void* h) const noexcept { SFileCloseFile(h); }
};
// An open archive member; closed when the owner goes.
using TMpqFile = std::unique_ptr<void, TMpqFileCloser>;

struct TMpqArchiveCloser {
  void operator()(void* h) const noexcept { SFileCloseArchive(h); }
};
// An open archive; closed when the owner goes.
using TMpqArchive = std::unique_ptr<void, TMpqArchiveCloser>;

}  // namespace velmora::storm
