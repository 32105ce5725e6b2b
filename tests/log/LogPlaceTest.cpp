// The log file's place when the folder beside the executable cannot take it (a program run by
// a user who may not write there) or must not (an installed copy, even run as root): the user's
// state directory under the same file name, from XDG_STATE_HOME or ~/.local/state; otherwise
// the folder beside the executable.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "log/LogHandler.h"

namespace fs = std::filesystem;

namespace {

constexpr uid_t kNobody = 65534;

std::time_t Nov24At1433() {
  std::tm tm{};
  tm.tm_year = 2013 - 1900;
  tm.tm_mon = 10;
  tm.tm_mday = 24;
  tm.tm_hour = 14;
  tm.tm_min = 33;
  tm.tm_sec = 5;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Folders the run may use, relative to the scratch root. "bin" is the executable's folder.
struct PlaceRow {
  const char* name;
  bool binWritable;                     // whether the user may create bin/logs
  std::optional<std::string> xdgState;  // XDG_STATE_HOME; nullopt: unset
  bool homeWritable;                    // whether the user owns home/
  const char* expectedDir;              // where the log file lands; nullptr: nowhere
  bool installed = false;               // share/velmora beside bin/, as an installed tree has it
};

void PrintTo(const PlaceRow& row, std::ostream* os) { *os << row.name; }

class LogPlace : public ::testing::TestWithParam<PlaceRow> {
protected:
  void SetUp() override {
    char tmpl[] = "/tmp/velmora-logplace-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    ::chmod(root_.c_str(), 0755);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  // A folder for the run's user: handed to nobody when this suite runs as root.
  void UserDir(const fs::path& dir, bool usersOwn) {
    fs::create_directories(dir);
    if (!usersOwn) {
      ::chmod(dir.c_str(), 0555);
    } else if (::geteuid() == 0) {
      ASSERT_EQ(::chown(dir.c_str(), kNobody, kNobody), 0);
    }
  }
  fs::path root_;
};

// Runs start-up and one entry in a child as an ordinary user (root writes into read-only
// folders). Returns the child's LogFileName and ObjDir, "\n"-joined, or "" on failure.
std::string StartAsUser(const fs::path& exeDir, const PlaceRow& row, const fs::path& root) {
  int out[2];
  if (::pipe(out) != 0) return "";
  const pid_t child = ::fork();
  if (child < 0) return "";
  if (child == 0) {
    ::close(out[0]);
    if (::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) ::_exit(4);
    if (row.xdgState) {
      const std::string value = row.xdgState->empty() || (*row.xdgState)[0] != '/'
                                    ? *row.xdgState
                                    : (root.string() + *row.xdgState);
      ::setenv("XDG_STATE_HOME", value.c_str(), 1);
    } else {
      ::unsetenv("XDG_STATE_HOME");
    }
    ::setenv("HOME", (root / "home").c_str(), 1);
    velmora::CreateLogLock();
    velmora::InitLogFilesAt(exeDir.string(), Nov24At1433());
    velmora::WriteLog("entry");
    const std::string reply = velmora::LogFileName + "\n" + velmora::ObjDir;
    const bool sent = ::write(out[1], reply.data(), reply.size()) == static_cast<ssize_t>(reply.size());
    ::_exit(sent ? 0 : 5);
  }
  ::close(out[1]);
  std::string reply;
  char buffer[512];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) reply.append(buffer, static_cast<std::size_t>(n));
  ::close(out[0]);
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return "";
  return reply;
}

TEST_P(LogPlace, entry_lands_in_the_first_writable_place_under_the_start_minute_name) {
  const PlaceRow& row = GetParam();
  ASSERT_NO_FATAL_FAILURE(UserDir(root_ / "bin", row.binWritable));
  ASSERT_NO_FATAL_FAILURE(UserDir(root_ / "home", row.homeWritable));
  ASSERT_NO_FATAL_FAILURE(UserDir(root_ / "state", true));
  ASSERT_NO_FATAL_FAILURE(UserDir(root_ / "locked", false));
  if (row.installed) fs::create_directories(root_ / "share/velmora");

  const std::string reply = StartAsUser(root_ / "bin", row, root_);
  ASSERT_FALSE(reply.empty()) << "the unprivileged start-up did not return normally";
  const std::string logFile = reply.substr(0, reply.find('\n'));
  const std::string objDir = reply.substr(reply.find('\n') + 1);
  if (row.installed) {
    EXPECT_EQ(objDir, (root_ / "state/velmora/obj/").string()) << "an installed copy's obj folder";
    EXPECT_TRUE(fs::is_directory(objDir));
    EXPECT_FALSE(fs::exists(root_ / "bin/logs") || fs::exists(root_ / "bin/obj")) << "the program folder was written";
  } else {
    EXPECT_EQ(objDir, (root_ / "bin/obj/").string()) << "the obj folder stays beside the executable";
  }

  if (row.expectedDir == nullptr) {
    EXPECT_EQ(logFile, (root_ / "bin/logs/20131124_1433.txt").string());
    EXPECT_FALSE(fs::exists(logFile));
    EXPECT_FALSE(fs::exists(root_ / "home/.local")) << "a locked home was written to";
    return;
  }
  const fs::path expected = root_ / row.expectedDir / "20131124_1433.txt";
  EXPECT_EQ(logFile, expected.string());
  const std::string text = ReadFile(expected);
  ASSERT_GE(text.size(), 11u) << "nothing written to " << expected;
  EXPECT_EQ(text.substr(10), " entry\r\n") << "line format changed: " << text;
  if (!row.binWritable) EXPECT_FALSE(fs::exists(root_ / "bin/logs")) << "a read-only folder gained logs/";
  // New state folders are the user's alone.
  if (std::string(row.expectedDir).find("/velmora/") != std::string::npos) {
    struct stat st {};
    ASSERT_EQ(::stat(expected.parent_path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LogPlace,
    ::testing::Values(
        PlaceRow{"writable_exe_folder_keeps_the_logs_beside_the_executable", true, "/state", true, "bin/logs"},
        PlaceRow{"installed_program_logs_to_xdg_state_home", false, "/state", true, "state/velmora/logs"},
        PlaceRow{"unset_xdg_state_home_means_home_local_state", false, std::nullopt, true,
                 "home/.local/state/velmora/logs"},
        PlaceRow{"empty_xdg_state_home_means_home_local_state", false, "", true, "home/.local/state/velmora/logs"},
        PlaceRow{"relative_xdg_state_home_is_ignored", false, "state", true, "home/.local/state/velmora/logs"},
        PlaceRow{"no_writable_place_loses_entries_quietly", false, "/locked/state", false, nullptr},
        PlaceRow{"installed_copy_never_writes_its_program_folder", true, "/state", true, "state/velmora/logs", true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
