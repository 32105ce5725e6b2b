// The log writer against a real file system: file naming, line format, appending across runs,
// losing entries quietly (lock held elsewhere, read-only or missing directory), and threads.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "log/LogHandler.h"

namespace fs = std::filesystem;

namespace {

std::time_t LocalTimeT(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Splits at CR LF; the text must end with one.
std::vector<std::string> CrLfLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) {
      ADD_FAILURE() << "text does not end with CR LF after offset " << pos;
      break;
    }
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

// "[HH:MM:SS] " then the message.
std::string MessageOf(const std::string& line) {
  static const std::regex stamp(R"(^\[([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]\] )");
  if (!std::regex_search(line, stamp)) {
    ADD_FAILURE() << "no time stamp at the start of: " << line.substr(0, 40);
    return line;
  }
  return line.substr(11);
}

class LogWriter : public ::testing::Test {
protected:
  void SetUp() override {
    char tmpl[] = "/tmp/velmora-log-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ::chmod(dir_.c_str(), 0755);  // reachable by the unprivileged child of the read-only test
    velmora::CreateLogLock();
  }
  void TearDown() override {
    velmora::DestroyLogLock();
    velmora::LogFileName.clear();
    velmora::ObjDir.clear();
    std::error_code ec;
    fs::permissions(dir_ + "/logs", fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }
  std::string dir_;
};

TEST_F(LogWriter, file_is_named_after_start_minute_and_directories_are_created) {
  velmora::InitLogFilesAt(dir_, LocalTimeT(2013, 11, 24, 14, 33, 5));
  EXPECT_EQ(velmora::LogFileName, dir_ + "/logs/20131124_1433.txt");
  EXPECT_EQ(velmora::ObjDir, dir_ + "/obj/");
  EXPECT_TRUE(fs::is_directory(dir_ + "/logs"));
  EXPECT_TRUE(fs::is_directory(dir_ + "/obj"));
  EXPECT_FALSE(fs::exists(velmora::LogFileName)) << "the file is made by the first entry";

  // Single-digit fields get their leading zero; hours run to 23.
  velmora::InitLogFilesAt(dir_, LocalTimeT(2007, 2, 3, 21, 4, 0));
  EXPECT_EQ(velmora::LogFileName, dir_ + "/logs/20070203_2104.txt");
}

TEST_F(LogWriter, missing_parents_are_created) {
  const std::string deep = dir_ + "/a/b";
  velmora::InitLogFilesAt(deep, LocalTimeT(2013, 11, 24, 14, 33, 5));
  EXPECT_TRUE(fs::is_directory(deep + "/logs"));
  EXPECT_TRUE(fs::is_directory(deep + "/obj"));
}

TEST_F(LogWriter, init_uses_directory_of_running_executable) {
  velmora::InitLogFiles();
  const std::string exeDir = fs::read_symlink("/proc/self/exe").parent_path().string();
  EXPECT_EQ(velmora::ObjDir, exeDir + "/obj/");
  static const std::regex name(R"(/logs/[0-9]{8}_([01][0-9]|2[0-3])[0-5][0-9]\.txt$)");
  EXPECT_EQ(velmora::LogFileName.rfind(exeDir + "/logs/", 0), 0u) << velmora::LogFileName;
  EXPECT_TRUE(std::regex_search(velmora::LogFileName, name)) << velmora::LogFileName;
}

TEST_F(LogWriter, entry_is_time_stamped_line_with_crlf) {
  velmora::InitLogFilesAt(dir_, LocalTimeT(2013, 11, 24, 14, 33, 5));
  const std::time_t before = std::time(nullptr);
  velmora::WriteLog("Data\\common.MPQ opened, handle 42");
  const std::time_t after = std::time(nullptr);
  const std::string text = ReadFile(velmora::LogFileName);
  const auto lines = CrLfLines(text);
  ASSERT_EQ(lines.size(), 1u) << text;
  EXPECT_EQ(MessageOf(lines[0]), "Data\\common.MPQ opened, handle 42");
  // The stamp is the local time of the write, not of the start.
  std::tm b{}, a{};
  ::localtime_r(&before, &b);
  ::localtime_r(&after, &a);
  char sb[16], sa[16];
  std::strftime(sb, sizeof sb, "[%H:%M:%S]", &b);
  std::strftime(sa, sizeof sa, "[%H:%M:%S]", &a);
  const std::string got = lines[0].substr(0, 10);
  EXPECT_TRUE(got == sb || got == sa) << got << " is neither " << sb << " nor " << sa;
}

TEST_F(LogWriter, two_runs_in_same_minute_append_to_one_file) {
  // The first run is a process of its own that has ended when the second starts.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    velmora::InitLogFilesAt(dir_, LocalTimeT(2013, 11, 24, 14, 33, 5));
    velmora::WriteLog("first run");
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const std::string first = dir_ + "/logs/20131124_1433.txt";
  velmora::InitLogFilesAt(dir_, LocalTimeT(2013, 11, 24, 14, 33, 59));
  EXPECT_EQ(velmora::LogFileName, first);
  velmora::WriteLog("second run");
  const auto lines = CrLfLines(ReadFile(first));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(MessageOf(lines[0]), "first run");
  EXPECT_EQ(MessageOf(lines[1]), "second run");

  // The next minute starts a file of its own.
  velmora::InitLogFilesAt(dir_, LocalTimeT(2013, 11, 24, 14, 34, 0));
  EXPECT_NE(velmora::LogFileName, first);
}

TEST_F(LogWriter, message_with_crlf_is_written_unchanged) {
  velmora::InitLogFilesAt(dir_, LocalTimeT(2013, 11, 24, 14, 33, 5));
  // UTF-8 and a tab pass through too.
  const std::string msg = "link failed:\r\nERROR: 0:1 \xC3\xA4\tx";
  velmora::WriteLog(msg);
  const std::string text = ReadFile(velmora::LogFileName);
  ASSERT_GE(text.size(), 11u);
  EXPECT_EQ(text.substr(11), msg + "\r\n");
  const auto lines = CrLfLines(text);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "ERROR: 0:1 \xC3\xA4\tx") << "the second physical line has no stamp";
}

TEST_F(LogWriter, entry_is_lost_while_another_process_holds_the_file) {
  velmora::InitLogFilesAt(dir_, LocalTimeT(2013, 11, 24, 14, 33, 5));
  velmora::WriteLog("before");
  int locked[2], release[2];
  ASSERT_EQ(::pipe(locked), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int fd = ::open(velmora::LogFileName.c_str(), O_RDWR);
    char c = (fd >= 0 && ::flock(fd, LOCK_EX) == 0) ? 'y' : 'n';
    if (::write(locked[1], &c, 1) != 1) ::_exit(2);
    if (::read(release[0], &c, 1) != 1) ::_exit(3);
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(locked[0], &c, 1), 1);
  ASSERT_EQ(c, 'y') << "the other process could not lock the file";
  velmora::WriteLog("while held");  // must return, not wait
  c = 'x';
  ASSERT_EQ(::write(release[1], &c, 1), 1);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (int fd : {locked[0], locked[1], release[0], release[1]}) ::close(fd);

  velmora::WriteLog("after");
  const auto lines = CrLfLines(ReadFile(velmora::LogFileName));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(MessageOf(lines[0]), "before");
  EXPECT_EQ(MessageOf(lines[1]), "after");
}

// Runs WriteLog in a child without the privileges to override file modes (this suite may run as
// root, which writes into read-only directories). Returns the child's exit status: 0 when
// WriteLog returned normally.
int WriteLogUnprivileged(const std::string& msg) {
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(4);
    velmora::WriteLog(msg);
    ::_exit(0);
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

struct DirModeRow {
  const char* fault;
  fs::perms mode;
  bool written;
};

void PrintTo(const DirModeRow& row, std::ostream* os) { *os << row.fault; }

class LogDirectoryMode : public LogWriter, public ::testing::WithParamInterface<DirModeRow> {};

TEST_P(LogDirectoryMode, entry_written_only_when_directory_is_writable) {
  velmora::InitLogFilesAt(dir_, LocalTimeT(2013, 11, 24, 14, 33, 5));
  fs::permissions(dir_ + "/logs", GetParam().mode);
  ASSERT_EQ(WriteLogUnprivileged("entry"), 0) << "WriteLog did not return normally";
  std::error_code ec;
  fs::permissions(dir_ + "/logs", fs::perms::owner_all, fs::perm_options::add, ec);
  if (GetParam().written) {
    const auto lines = CrLfLines(ReadFile(velmora::LogFileName));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(MessageOf(lines[0]), "entry");
  } else {
    EXPECT_FALSE(fs::exists(velmora::LogFileName));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LogDirectoryMode,
    ::testing::Values(DirModeRow{"read_only_directory_loses_entry_quietly",
                                 fs::perms::owner_read | fs::perms::owner_exec |
                                     fs::perms::group_read | fs::perms::group_exec |
                                     fs::perms::others_read | fs::perms::others_exec,
                                 false},
                      // Control row: the unprivileged child can write when it may.
                      DirModeRow{"writable_directory_gets_entry", fs::perms::all, true}),
    [](const auto& info) { return std::string(info.param.fault); });

TEST_F(LogWriter, missing_directory_loses_entry_quietly) {
  velmora::InitLogFilesAt(dir_, LocalTimeT(2013, 11, 24, 14, 33, 5));
  fs::remove_all(dir_ + "/logs");
  velmora::WriteLog("nowhere to go");
  EXPECT_FALSE(fs::exists(dir_ + "/logs"));
}

TEST_F(LogWriter, nothing_is_written_without_the_lock) {
  velmora::InitLogFilesAt(dir_, LocalTimeT(2013, 11, 24, 14, 33, 5));
  velmora::DestroyLogLock();
  velmora::WriteLog("after shutdown");
  EXPECT_FALSE(fs::exists(velmora::LogFileName));
}

TEST_F(LogWriter, concurrent_writers_never_interleave_entries) {
  velmora::InitLogFilesAt(dir_, LocalTimeT(2013, 11, 24, 14, 33, 5));
  constexpr int kThreads = 8;
  constexpr int kEntries = 40;
  // Long messages of one letter each make any interleaving visible inside a line.
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      const std::string msg(20000 + t * 1000, static_cast<char>('A' + t));
      for (int i = 0; i < kEntries; ++i) velmora::WriteLog(msg);
    });
  }
  for (auto& th : threads) th.join();
  const auto lines = CrLfLines(ReadFile(velmora::LogFileName));
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kEntries));
  std::vector<int> counts(kThreads, 0);
  for (std::size_t n = 0; n < lines.size(); ++n) {
    const std::string msg = MessageOf(lines[n]);
    ASSERT_FALSE(msg.empty());
    const int t = msg[0] - 'A';
    ASSERT_TRUE(t >= 0 && t < kThreads) << "line " << n;
    ASSERT_EQ(msg, std::string(20000 + t * 1000, msg[0])) << "line " << n << " is mixed";
    ++counts[t];
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(counts[t], kEntries) << "thread " << t;
}

}  // namespace
