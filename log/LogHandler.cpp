// The log writer: paths fixed at start, one open-lock-append-close per entry.
#include "log/LogHandler.h"
#include "base/Paths.h"
#include "base/UniqueFd.h"
#include "log/LogPlace.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace velmora {

std::string LogFileName;
std::string ObjDir;
std::unique_ptr<std::mutex> LogLock;

namespace {

std::tm LocalTime(std::time_t t) {
  std::tm tm{};
  if (!::localtime_r(&t, &tm)) tm = std::tm{};
  return tm;
}

// Writes all bytes, resuming after partial writes and signals; false on any error.
bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

void CreateLogLock() { LogLock = std::make_unique<std::mutex>(); }
void DestroyLogLock() { LogLock.reset(); }

void InitLogFilesAt(const std::string& exeDir, std::time_t startTime) {
  const std::tm tm = LocalTime(startTime);
  // yyyymmdd_hhnn: four-digit year, then two digits each for month, day, 24-hour hour, minute.
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04d%02d%02d_%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min);
  // The package manager owns an installed copy's program folder: files made there would outlive
  // the package. The user's state directory takes both folders instead.
  const std::string state = IsInstalledProgramDir(exeDir) ? UserStateDir() : std::string();
  if (!state.empty()) {
    ObjDir = state + "obj/";
    MakePrivateDirs(state + "logs/");  // failures are silent: WriteLog then loses its entries
    MakePrivateDirs(ObjDir);
    LogFileName = state + "logs/" + stamp + ".txt";
    return;
  }
  std::string logsDir = exeDir + "/logs/";
  ObjDir = exeDir + "/obj/";
  std::error_code ec;
  std::filesystem::create_directories(logsDir, ec);
  std::filesystem::create_directories(ObjDir, ec);
  // A program folder its user may not write (a copy unpacked by someone else): the user's own
  // state directory takes the same file names. Decided once here; later failures lose entries as before.
  if (!IsWritableDir(logsDir)) {
    const std::string userLogs = UserStateLogsDir();
    if (!userLogs.empty() && MakePrivateDirs(userLogs) && IsWritableDir(userLogs)) logsDir = userLogs;
  }
  LogFileName = logsDir + stamp + ".txt";
}

void InitLogFiles() {
  // Without /proc the working directory is the best guess there is.
  const std::string found = ExecutableDir();
  const std::string exeDir = found.empty() ? std::string(".") : found;
  InitLogFilesAt(exeDir, std::time(nullptr));
}

void WriteLog(std::string_view msg) {
  if (!LogLock || LogFileName.empty()) return;
  const std::lock_guard<std::mutex> guard(*LogLock);

  // "[" HH:MM:SS "] " message CR LF; the time is the local time of day of this entry.
  const std::tm tm = LocalTime(std::time(nullptr));
  char stamp[16];
  std::snprintf(stamp, sizeof stamp, "[%02d:%02d:%02d] ", tm.tm_hour, tm.tm_min, tm.tm_sec);
  std::string line;
  line.reserve(msg.size() + 16);
  line.append(stamp).append(msg).append("\r\n");

  const TFd fd(::open(LogFileName.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (fd.get() < 0) return;
  // The file is held without sharing for this one entry; a holder elsewhere costs the entry.
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return;
  WriteAll(fd.get(), line);
}

}  // namespace velmora
