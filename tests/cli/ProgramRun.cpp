// Starting the program with posix_spawn, collecting what it writes.
#include "ProgramRun.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

extern char** environ;

namespace velmora::test {
namespace {

// The environment without a display and with the given WINEPREFIX, and argv, as the strings
// that the pointer arrays point into.
struct TCommand {
  TCommand(const std::vector<std::string>& args, const std::string& winePrefix, const std::string& program = VELMORA_PROGRAM) {
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string v = *e;
      if (v.rfind("DISPLAY=", 0) == 0 || v.rfind("WAYLAND_DISPLAY=", 0) == 0 || v.rfind("WINEPREFIX=", 0) == 0) continue;
      env.push_back(v);
    }
    env.push_back("WINEPREFIX=" + winePrefix);
    for (std::string& v : env) envp.push_back(v.data());
    envp.push_back(nullptr);
    all.push_back(program);
    all.insert(all.end(), args.begin(), args.end());
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
  }
  std::vector<std::string> env, all;
  std::vector<char*> envp, argv;
};

// A pseudo-terminal in raw mode: the master end, and the slave's descriptor (close-on-exec).
bool OpenTerminal(int& master, int& slave) {
  master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return false;
  slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) return false;
  termios t{};
  if (::tcgetattr(slave, &t) != 0) return false;
  ::cfmakeraw(&t);
  return ::tcsetattr(slave, TCSANOW, &t) == 0;
}

TRun Run(const TCommand& command, const std::filesystem::path& cwd, bool terminal) {
  int outPipe[2], errPipe[2];
  EXPECT_EQ(::pipe2(outPipe, O_CLOEXEC), 0);
  if (terminal) {
    EXPECT_TRUE(OpenTerminal(errPipe[0], errPipe[1])) << "no pseudo-terminal";
  } else {
    EXPECT_EQ(::pipe2(errPipe, O_CLOEXEC), 0);
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, command.argv[0], &actions, nullptr, command.argv.data(), command.envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  TRun run;
  EXPECT_EQ(rc, 0) << "cannot start " << command.argv[0];
  // Both drained together, so that neither fills up and stalls the program. A terminal's master
  // reads EIO once the program has closed its end.
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&run.out, &run.err};
  int open = 2;
  while (open > 0 && ::poll(fds, 2, 60000) > 0) {
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buf[4096];
      const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<std::size_t>(n));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  if (rc == 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.status = WEXITSTATUS(status);
  return run;
}

}  // namespace

TRun RunProgram(const std::vector<std::string>& args, const std::filesystem::path& cwd, const std::string& winePrefix,
                bool terminal) {
  return Run(TCommand(args, winePrefix), cwd, terminal);
}

TRun RunProgramAt(const std::filesystem::path& program, const std::vector<std::string>& args,
                  const std::filesystem::path& cwd, const std::string& winePrefix) {
  return Run(TCommand(args, winePrefix, program.string()), cwd, false);
}

pid_t StartProgram(const std::vector<std::string>& args, const std::filesystem::path& cwd,
                   const std::string& winePrefix) {
  TCommand command(args, winePrefix);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, command.argv[0], &actions, nullptr, command.argv.data(), command.envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

}  // namespace velmora::test
