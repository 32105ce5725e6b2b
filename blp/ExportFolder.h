// Writing files below one output folder and nowhere else. Output folders may be shared or made
// by other tools, so a symbolic link planted inside one is never followed: each folder below the
// root is opened component by component with O_NOFOLLOW | O_DIRECTORY, and each file is made
// without a name (O_TMPFILE) and linked in once whole, or created under a fresh temporary name
// with O_CREAT | O_EXCL | O_NOFOLLOW and renamed into place within its folder, so an
// interrupted write never leaves a partial file under its final name.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/UniqueFd.h"

namespace velmora::blp {

enum class TWriteOutcome {
  kWritten,
  kSkipped,  // the name was taken and overwriting was not asked for
  kFailed,
};

class TExportFolder {
public:
  // Opens the folder at `dir`, creating it and its parents as needed. The path is the user's:
  // links in it are followed, as they would be by any other program given it.
  static std::optional<TExportFolder> Open(const std::string& dir, std::string& error);

  const std::string& Path() const { return path_; }
  int Fd() const { return fd_.get(); }
  // Whether the folder held nothing when it was opened (made then, or empty): every file in it
  // is then one this export writes, and none needs to be looked for first.
  bool EmptyAtOpen() const { return emptyAtOpen_; }

  // The folder `rel` below the root ('/'-separated components, none of them empty, "." or
  // ".."; "" is the root itself), created as needed when `create`. A component that is a
  // symbolic link, or anything but a folder, is refused with a message naming it. An O_PATH
  // descriptor: good for the *at calls below, nothing else.
  TFd OpenFolder(std::string_view rel, std::string& error, bool create = true) const;
  // The same for `rel` below `from`, a folder opened so, at `fromRel` below the root.
  TFd OpenFolderIn(int from, std::string_view fromRel, std::string_view rel, std::string& error,
                   bool create = true) const;

  // Root path joined with `rel`, for messages.
  std::string Shown(std::string_view rel) const;

private:
  TExportFolder(std::string path, TFd fd, bool emptyAtOpen)
      : path_(std::move(path)), fd_(std::move(fd)), emptyAtOpen_(emptyAtOpen) {}

  std::string path_;
  TFd fd_;
  bool emptyAtOpen_ = false;
};

// Temporary names for the files one writer makes: ".NAME.<16 hex digits>.partial", hidden, never
// the same twice, and unguessable (planted names never match them) without a draw from the
// kernel's generator per file: a key drawn once, mixed with a count.
class TTempNames {
public:
  TTempNames();
  std::string Next(const std::string& name);
  // Whether files may be made without a name and linked in (see WriteFileAt); cleared the first
  // time the kernel or the file system refuses.
  bool unnamed = true;

private:
  std::uint64_t key_ = 0;
  std::uint64_t count_ = 0;
};

// Whether an entry named `name` (a link included, never followed) is in the folder `dirFd`.
bool EntryExists(int dirFd, const std::string& name);

// Writes `bytes` as the file `name` of the folder `dirFd`: without `overwrite`, made without a
// name and linked in as `name` where the kernel allows it; else (and with `overwrite`) created
// under a unique temporary name beside it, then renamed to `name`. With `overwrite` an entry of
// that name is replaced (a link is replaced, not written through); without, it is left alone and
// the outcome is kSkipped. `shown` names the file in messages; `temps` gives the temporary names.
// kFailed with the reason in `error`; no temporary file is left then.
TWriteOutcome WriteFileAt(int dirFd, const std::string& name, std::span<const std::uint8_t> bytes, bool overwrite,
                          const std::string& shown, TTempNames& temps, std::string& error);
// The same with the file's bytes in pieces, written one after another (a header and the data it
// heads, say, without joining them first).
TWriteOutcome WriteFileAt(int dirFd, const std::string& name, std::span<const std::span<const std::uint8_t>> pieces,
                          bool overwrite, const std::string& shown, TTempNames& temps, std::string& error);

}  // namespace velmora::blp
