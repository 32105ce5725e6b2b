// The log writer: one line per entry, "[HH:MM:SS] message" CR LF, appended to
// <exeDir>/logs/yyyymmdd_hhnn.txt, the file of the minute the program started.
#pragma once

#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace velmora {

// Fixed by InitLogFiles for the whole run. Empty before it.
extern std::string LogFileName;  // <exeDir>/logs/yyyymmdd_hhnn.txt (or the user's state dir)
extern std::string ObjDir;       // <exeDir>/obj/ (created at start, not used otherwise; the
                                 // user's state dir for an installed copy)

// Serialises WriteLog across threads. The program main creates it right after InitLogFiles
// and destroys it after the event loop has returned; WriteLog does nothing while it is absent.
extern std::unique_ptr<std::mutex> LogLock;
void CreateLogLock();
void DestroyLogLock();

// Computes LogFileName and ObjDir from the current local time and the directory of the
// running executable (/proc/self/exe), and creates <exeDir>/logs/ and ObjDir. Never fails
// loudly: directories that cannot be created are left out. When <exeDir>/logs/ cannot be
// created or written (an installed program), the log file goes to the user's state directory
// under the same name (log/LogPlace.h), when that one can be. An installed copy's program
// folder (base/Paths.h: IsInstalledProgramDir) is never written: its logs/ and obj/ are made in
// the user's state directory from the start, so that a run as root leaves nothing in /usr/bin.
void InitLogFiles();

// InitLogFiles with the executable's directory and the start time given: the program's
// start-up goes through it, and tests point it at a directory of their own.
void InitLogFilesAt(const std::string& exeDir, std::time_t startTime);

// Appends one entry. The message is written byte for byte (a CR LF inside it makes a second
// line without a time stamp). The file is opened for this entry only and held under an
// exclusive advisory lock (flock) while it is written; when another process holds that lock,
// or the file cannot be opened or written, the entry is lost and nothing is reported.
void WriteLog(std::string_view msg);

}  // namespace velmora
