// The output folder: folders opened without following links, files made without a name and
// linked in, or created exclusively and renamed into place.
#include "blp/ExportFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

namespace velmora::blp {
namespace {

// Longest file name most Linux file systems take (NAME_MAX).
constexpr std::size_t kMaxNameBytes = 255;
// Creating a temporary file gives up after this many names that were taken.
constexpr int kTempAttempts = 16;

std::string Reason(int error) { return std::strerror(error); }

// Why `name` in `dirFd` could not be opened as a folder with O_NOFOLLOW.
std::string NotAFolder(int dirFd, const std::string& name, int error, const std::string& shown) {
  struct stat st {};
  if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(st.st_mode)) return shown + ": a symbolic link inside the output folder, not followed";
    if (!S_ISDIR(st.st_mode)) return "cannot create folder " + shown + ": a file of that name is in the way";
  }
  return "cannot open folder " + shown + ": " + Reason(error);
}

// Writes the pieces one after another, with as few calls as the kernel allows: writev, again
// from where a short write stopped.
bool WriteAll(int fd, std::span<const std::span<const std::uint8_t>> pieces, int& error) {
  std::vector<iovec> left;
  left.reserve(pieces.size());
  for (const std::span<const std::uint8_t> piece : pieces) {
    if (!piece.empty()) left.push_back({const_cast<std::uint8_t*>(piece.data()), piece.size()});
  }
  std::size_t first = 0;
  while (first < left.size()) {
    const int count = static_cast<int>(std::min<std::size_t>(left.size() - first, IOV_MAX));
    const ssize_t n = ::writev(fd, left.data() + first, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : ENOSPC;
      return false;
    }
    auto done = static_cast<std::size_t>(n);
    while (first < left.size() && done >= left[first].iov_len) done -= left[first++].iov_len;
    if (done > 0) {
      left[first].iov_base = static_cast<std::uint8_t*>(left[first].iov_base) + done;
      left[first].iov_len -= done;
    }
  }
  return true;
}

// Moves `temp` to `name` in `dirFd` unless `name` is taken: RENAME_NOREPLACE, or where the file
// system lacks it, a hard link (which also fails on a taken name) and the temporary name removed.
// 0, EEXIST for a taken name, or another errno.
int RenameNoReplace(int dirFd, const std::string& temp, const std::string& name) {
  if (::renameat2(dirFd, temp.c_str(), dirFd, name.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  if (::linkat(dirFd, temp.c_str(), dirFd, name.c_str(), 0) != 0) return errno;
  ::unlinkat(dirFd, temp.c_str(), 0);
  return 0;
}

// Whether the folder `dirFd` has no entry but "." and "..". Unreadable: taken to hold something.
bool HoldsNothing(int dirFd) {
  TFd listed(::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!listed.valid()) return false;
  const std::unique_ptr<DIR, int (*)(DIR*)> d(::fdopendir(listed.get()), ::closedir);
  if (!d) return false;
  listed.Release();  // closedir closes it
  errno = 0;
  while (const dirent* e = ::readdir(d.get())) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) return false;
  }
  return errno == 0;
}

}  // namespace

std::optional<TExportFolder> TExportFolder::Open(const std::string& dir, std::string& error) {
  if (dir.empty()) {
    error = "no output folder given";
    return std::nullopt;
  }
  // mkdir -p of the user's path.
  for (std::size_t at = dir.find('/', 1);; at = dir.find('/', at + 1)) {
    const std::string part = dir.substr(0, at);
    if (!part.empty() && part.back() != '/' && ::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
      error = "cannot create folder " + part + ": " + Reason(errno);
      return std::nullopt;
    }
    if (at == std::string::npos) break;
  }
  TFd fd(::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) {
    error = "cannot open folder " + dir + ": " + Reason(errno);
    return std::nullopt;
  }
  const bool empty = HoldsNothing(fd.get());
  return TExportFolder(dir, std::move(fd), empty);
}

std::string TExportFolder::Shown(std::string_view rel) const {
  if (rel.empty()) return path_;
  return (path_.back() == '/' ? path_ : path_ + "/") + std::string(rel);
}

TFd TExportFolder::OpenFolder(std::string_view rel, std::string& error, bool create) const {
  return OpenFolderIn(fd_.get(), {}, rel, error, create);
}

TFd TExportFolder::OpenFolderIn(int from, std::string_view fromRel, std::string_view rel, std::string& error,
                                bool create) const {
  TFd current(::fcntl(from, F_DUPFD_CLOEXEC, 0));
  if (!current.valid()) {
    error = "cannot open folder " + Shown(fromRel) + ": " + Reason(errno);
    return {};
  }
  const std::string prefix = fromRel.empty() ? std::string() : std::string(fromRel) + "/";
  std::size_t begin = 0;
  while (begin < rel.size()) {
    std::size_t end = rel.find('/', begin);
    if (end == std::string_view::npos) end = rel.size();
    const std::string part(rel.substr(begin, end - begin));
    const std::string shown = Shown(prefix + std::string(rel.substr(0, end)));
    if (part.empty() || part == "." || part == "..") {
      error = "unsafe output folder " + shown;
      return {};
    }
    constexpr int kFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int next = ::openat(current.get(), part.c_str(), kFlags);
    if (next < 0 && errno == ENOENT && !create) {
      error = "no folder " + shown;
      return {};
    }
    if (next < 0 && errno == ENOENT) {
      // Another worker may create it meanwhile: EEXIST is as good.
      if (::mkdirat(current.get(), part.c_str(), 0755) != 0 && errno != EEXIST) {
        error = "cannot create folder " + shown + ": " + Reason(errno);
        return {};
      }
      next = ::openat(current.get(), part.c_str(), kFlags);
    }
    if (next < 0) {
      error = NotAFolder(current.get(), part, errno, shown);
      return {};
    }
    current.Reset(next);
    begin = end + 1;
  }
  return current;
}

TTempNames::TTempNames() {
  if (::getrandom(&key_, sizeof key_, 0) != static_cast<ssize_t>(sizeof key_)) {
    // Without the kernel's generator: unique enough for O_EXCL, which settles any clash.
    timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    key_ = (static_cast<std::uint64_t>(::getpid()) << 40) ^ (static_cast<std::uint64_t>(now.tv_nsec) << 8) ^
           static_cast<std::uint64_t>(now.tv_sec);
  }
}

std::string TTempNames::Next(const std::string& name) {
  // splitmix64 of the key and the count: a different number for every count, which the count
  // alone does not give away.
  std::uint64_t z = key_ + ++count_ * 0x9E3779B97F4A7C15u;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  z ^= z >> 31;
  char hex[17];
  for (int i = 15; i >= 0; --i, z >>= 4) hex[i] = "0123456789abcdef"[z & 0xF];
  hex[16] = '\0';
  constexpr std::size_t kExtra = 1 + 1 + 16 + 8;  // ".", ".", the hex digits, ".partial"
  // Within kMaxNameBytes however long NAME is.
  std::string temp;
  temp.reserve(kMaxNameBytes);
  temp.append(".").append(name, 0, kMaxNameBytes - kExtra).append(".").append(hex).append(".partial");
  return temp;
}

bool EntryExists(int dirFd, const std::string& name) {
  struct stat st {};
  return ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

TWriteOutcome WriteFileAt(int dirFd, const std::string& name, std::span<const std::uint8_t> bytes, bool overwrite,
                          const std::string& shown, TTempNames& temps, std::string& error) {
  const std::span<const std::uint8_t> whole[] = {bytes};
  return WriteFileAt(dirFd, name, std::span(whole), overwrite, shown, temps, error);
}

namespace {

enum class TUnnamed { kWritten, kSkipped, kFailed, kUnsupported };

// The file made without a name (O_TMPFILE) and linked in under `name` once whole: the link fails
// on a taken name, so the no-overwrite check costs nothing, no temporary name is made or renamed,
// and a writer killed midway leaves nothing behind. Linking a descriptor (AT_EMPTY_PATH) needs
// Linux 6.10 or CAP_DAC_READ_SEARCH; kUnsupported, before anything is named, where the file
// system or the kernel refuses, and the caller writes through a temporary name instead.
TUnnamed WriteUnnamed(int dirFd, const std::string& name, std::span<const std::span<const std::uint8_t>> pieces,
                      const std::string& shown, std::string& error) {
  TFd fd(::openat(dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644));
  if (!fd.valid()) return TUnnamed::kUnsupported;
  int writeError = 0;
  if (!WriteAll(fd.get(), pieces, writeError)) {
    error = "cannot write " + shown + ": " + Reason(writeError);
    return TUnnamed::kFailed;
  }
  if (::linkat(fd.get(), "", dirFd, name.c_str(), AT_EMPTY_PATH) != 0) {
    if (errno == EEXIST) return TUnnamed::kSkipped;
    // ENOENT: AT_EMPTY_PATH without the right to it (the name's folder is an open descriptor).
    if (errno == ENOENT || errno == EPERM || errno == EINVAL || errno == EOPNOTSUPP) return TUnnamed::kUnsupported;
    error = "cannot write " + shown + ": " + Reason(errno);
    return TUnnamed::kFailed;
  }
  // Written data is in the page cache either way; close reports what a delayed write could not
  // do (on network file systems) after the link, so a failure there removes the name again.
  if (::close(fd.Release()) != 0) {
    error = "cannot write " + shown + ": " + Reason(errno);
    ::unlinkat(dirFd, name.c_str(), 0);
    return TUnnamed::kFailed;
  }
  return TUnnamed::kWritten;
}

}  // namespace

TWriteOutcome WriteFileAt(int dirFd, const std::string& name, std::span<const std::span<const std::uint8_t>> pieces,
                          bool overwrite, const std::string& shown, TTempNames& temps, std::string& error) {
  if (!overwrite && temps.unnamed) {
    switch (WriteUnnamed(dirFd, name, pieces, shown, error)) {
      case TUnnamed::kWritten: return TWriteOutcome::kWritten;
      case TUnnamed::kSkipped: return TWriteOutcome::kSkipped;
      case TUnnamed::kFailed: return TWriteOutcome::kFailed;
      case TUnnamed::kUnsupported: temps.unnamed = false; break;
    }
  }
  std::string temp;
  TFd fd;
  for (int attempt = 0; attempt < kTempAttempts && !fd.valid(); ++attempt) {
    temp = temps.Next(name);
    // O_EXCL with O_NOFOLLOW: a link or file already at the name makes this fail, never followed.
    fd.Reset(::openat(dirFd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd.valid() && errno != EEXIST) break;
  }
  if (!fd.valid()) {
    error = "cannot create a temporary file for " + shown + ": " + Reason(errno);
    return TWriteOutcome::kFailed;
  }
  int writeError = 0;
  const bool written = WriteAll(fd.get(), pieces, writeError);
  const int closed = ::close(fd.Release());
  if (!written || closed != 0) {
    error = "cannot write " + shown + ": " + Reason(written ? errno : writeError);
    ::unlinkat(dirFd, temp.c_str(), 0);
    return TWriteOutcome::kFailed;
  }
  // renameat replaces the name itself: a link there is replaced, its target left alone.
  const int renamed = overwrite ? (::renameat(dirFd, temp.c_str(), dirFd, name.c_str()) == 0 ? 0 : errno)
                                : RenameNoReplace(dirFd, temp, name);
  if (renamed == 0) return TWriteOutcome::kWritten;
  ::unlinkat(dirFd, temp.c_str(), 0);
  if (renamed == EEXIST && !overwrite) return TWriteOutcome::kSkipped;
  error = "cannot write " + shown + ": " + Reason(renamed);
  return TWriteOutcome::kFailed;
}

}  // namespace velmora::blp
