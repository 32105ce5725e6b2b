// Owner of one POSIX file descriptor; closing it also drops any flock taken on it.
#pragma once

#include <unistd.h>

namespace velmora {

class TFd {
public:
  explicit TFd(int fd) : fd_(fd) {}
  ~TFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int get() const { return fd_; }

private:
  int fd_;
};

}  // namespace velmora
