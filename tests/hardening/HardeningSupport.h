// Helpers of the limit tests: an archive written at test time and indexed, and running a piece
// of work on a thread with a small stack.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "archive/Zanth.h"
#include "support/MpqWriter.h"
#include "support/TestData.h"

namespace velmora::test {

// Writes `members` (and `listfile`, or the members' names when none is given) into a fresh
// archive, creates the archive index and opens the archive into MpqList; the destructor frees
// the index, which closes the archive. handle() is 0 when the archive did not open.
class ScratchArchive {
public:
  explicit ScratchArchive(const std::vector<MpqMember>& members,
                          const std::optional<std::string>& listfile = std::nullopt);
  ~ScratchArchive();
  ScratchArchive(const ScratchArchive&) = delete;
  ScratchArchive& operator=(const ScratchArchive&) = delete;
  MpqHandle handle() const { return handle_; }

private:
  TempDir dir_;
  MpqHandle handle_ = 0;
};

// Runs `work` on a new thread whose stack is `stackBytes` and waits for it. Work whose stack
// use grows with its input overflows such a stack and kills the test program.
void RunOnSmallStack(std::size_t stackBytes, const std::function<void()>& work);

}  // namespace velmora::test
