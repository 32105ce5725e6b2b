// The bytes of one file for work off the user-interface thread, which must not go through the
// archive layer's shared reader: a file inside an archive read through a TArchiveReader of the
// worker's own, and a file on disk read through its descriptor. Each reads only what is asked for.
#pragma once

#include <cstdint>
#include <string>

#include "archive/ReaderClient.h"
#include "base/UniqueFd.h"
#include "blp/BlpDecode.h"

namespace velmora::blp {

// A file opened in `reader` (handle `file`, its size as the open claimed it, which the reader
// holds to kMaxExpansion x what the archive stores). Remembers why the reader stopped, if it did.
class TReaderFileSource final : public TBlpSource {
public:
  TReaderFileSource(TArchiveReader& reader, MpqHandle file, std::uint64_t size)
      : reader_(reader), file_(file), size_(size) {}
  std::uint64_t Size() const override { return size_; }
  void ReadHeader(void* dst, std::uint32_t len) override;
  bool ReadAt(std::uint32_t offset, std::uint32_t len, void* dst) override;
  // None while every read went without a stop of the reader.
  TReaderStop Stop() const { return stop_; }
  const std::string& StopWords() const { return words_; }

private:
  TArchiveReader& reader_;
  MpqHandle file_;
  std::uint64_t size_;
  TReaderStop stop_ = TReaderStop::None;
  std::string words_;
};

// A regular file on disk. Size() is 0 when it cannot be opened or is no regular file; `Problem`
// then says why.
class TDiskFileSource final : public TBlpSource {
public:
  explicit TDiskFileSource(const std::string& path);
  std::uint64_t Size() const override { return size_; }
  void ReadHeader(void* dst, std::uint32_t len) override;
  bool ReadAt(std::uint32_t offset, std::uint32_t len, void* dst) override;
  const std::string& Problem() const { return problem_; }

private:
  TFd fd_;
  std::uint64_t size_ = 0;
  std::string problem_;
};

}  // namespace velmora::blp
