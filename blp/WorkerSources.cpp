// Reading a file's bytes through a worker's own archive reader, or from the disk.
#include "blp/WorkerSources.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace velmora::blp {

void TReaderFileSource::ReadHeader(void* dst, std::uint32_t len) {
  // Bytes past the end of a short file stay as they were, as for a header read anywhere.
  ReadAt(0, len, dst);
}

bool TReaderFileSource::ReadAt(std::uint32_t offset, std::uint32_t len, void* dst) {
  if (len == 0) return true;
  // After a stop the reader skips this file anyway; asking again would only wait for that.
  if (stop_ != TReaderStop::None) return false;
  const TArchiveReader::TRead read = reader_.Read(file_, offset, len, dst);
  if (read.stop != TReaderStop::None) {
    stop_ = read.stop;
    words_ = read.words;
  }
  return read.complete;
}

TDiskFileSource::TDiskFileSource(const std::string& path) {
  // Not blocking on a FIFO someone named like a texture; only regular files are read.
  fd_.Reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd_.valid()) {
    problem_ = std::string("cannot be opened: ") + std::strerror(errno);
    return;
  }
  struct stat st {};
  if (::fstat(fd_.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    problem_ = "not a regular file";
    fd_.Reset();
    return;
  }
  size_ = static_cast<std::uint64_t>(st.st_size);
}

void TDiskFileSource::ReadHeader(void* dst, std::uint32_t len) { ReadAt(0, len, dst); }

bool TDiskFileSource::ReadAt(std::uint32_t offset, std::uint32_t len, void* dst) {
  if (len == 0) return true;
  if (!fd_.valid()) return false;
  auto* out = static_cast<char*>(dst);
  std::uint64_t done = 0;
  while (done < len) {
    const ssize_t n = ::pread(fd_.get(), out + done, len - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::uint64_t>(n);
  }
  return true;
}

}  // namespace velmora::blp
