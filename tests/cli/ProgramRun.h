// Running the program binary from a test: without a display, in a folder of the test's choice,
// its output collected from pipes or, for stderr, from a terminal; or started to be killed.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace velmora::test {

struct TRun {
  int status = -1;  // the exit status; -1 when it did not exit normally
  std::string out, err;
};

// Runs the program in `cwd` with `args`, no DISPLAY and the given WINEPREFIX. With `terminal`,
// stderr is a pseudo-terminal in raw mode (so isatty holds and no line ends are translated).
TRun RunProgram(const std::vector<std::string>& args, const std::filesystem::path& cwd, const std::string& winePrefix,
                bool terminal = false);

// The same with another copy of the program (one with a reader and a log folder of its own).
TRun RunProgramAt(const std::filesystem::path& program, const std::vector<std::string>& args,
                  const std::filesystem::path& cwd, const std::string& winePrefix);

// Starts the program the same way with stdout and stderr going nowhere; its process id, or -1.
pid_t StartProgram(const std::vector<std::string>& args, const std::filesystem::path& cwd,
                   const std::string& winePrefix);

}  // namespace velmora::test
