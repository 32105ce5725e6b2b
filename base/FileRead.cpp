// Whole-file reads.
#include "base/FileRead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "base/UniqueFd.h"

namespace velmora {

bool ReadFileBytes(int fd, std::string& bytes, std::string& error, std::size_t maxBytes) {
  bytes.clear();
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    error = std::strerror(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    error = "not a regular file";
    return false;
  }
  const auto tooLarge = [&] {
    error = "larger than " + std::to_string(maxBytes) + " bytes";
    bytes.clear();
    return false;
  };
  if (st.st_size > 0 && static_cast<std::uint64_t>(st.st_size) > maxBytes) return tooLarge();
  if (st.st_size > 0) bytes.reserve(static_cast<std::size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      error = std::strerror(errno);
      bytes.clear();
      return false;
    }
    // The file may grow while it is read; the cap holds regardless.
    if (static_cast<std::size_t>(n) > maxBytes - bytes.size()) return tooLarge();
    bytes.append(buf, static_cast<std::size_t>(n));
  }
}

bool ReadFileBytes(const std::string& path, std::string& bytes, std::string& error, std::size_t maxBytes) {
  bytes.clear();
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
  const TFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) {
    error = std::strerror(errno);
    return false;
  }
  return ReadFileBytes(fd.get(), bytes, error, maxBytes);
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

}  // namespace velmora
