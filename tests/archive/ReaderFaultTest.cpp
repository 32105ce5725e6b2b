// The archive reader process stopping under a request: a crash, memory running out, a missed
// deadline, a call its sandbox forbids, each while an archive opens and while a file is read. A test build of the reader
// fails that way on names that begin with "velmora-fault-"; everything else is the product's.
// Afterwards the archive that was in use is skipped and every other one still opens and reads.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "ArchiveFixture.h"
#include "archive/SandboxSupport.h"
#include "archive/Zanth.h"

namespace velmora::test {
namespace {

using namespace std::chrono_literals;

// Uses the fault-injecting reader with short deadlines; the product's again afterwards.
class FaultReaderTest : public TestReaderTest {
protected:
  void SetUp() override {
    TestReaderTest::SetUp();
    restarts_ = TArchiveReader::Instance().Restarts();
  }
  std::size_t RestartsSinceSetUp() const { return TArchiveReader::Instance().Restarts() - restarts_; }

  // Every archive but the culprit: its listfile ingests and its member reads back.
  void ExpectGoodArchivesWork(const std::vector<std::pair<MpqHandle, std::string>>& good) {
    for (const auto& [h, member] : good) {
      std::vector<std::string> paths;
      EXPECT_TRUE(Ingest(h, paths)) << member;
      EXPECT_EQ(ReadObject(member), "contents of " + member);
    }
  }

private:
  std::size_t restarts_ = 0;
};

std::vector<MpqMember> Members(const std::string& name) { return {{name, "contents of " + name}}; }

enum class Stage { Open, List, Read };

struct FaultRow {
  // Test names and failure messages show the row by its fault.
  friend void PrintTo(const FaultRow& row, std::ostream* os) { *os << row.fault; }
  const char* fault;
  Stage stage;
  const char* trigger;  // the fault's name: "crash", "memory", "hang", "sandbox", "once-crash"
  TReaderStop stop;     // None: a crash tried again in a fresh reader goes through
  std::size_t restarts;
};

class FaultRows : public FaultReaderTest, public ::testing::WithParamInterface<FaultRow> {};

// An archive's open, its file list and a file read each stop the reader; only what stopped it is
// skipped (the archive at its open or list, the file at its read), a crash only when it happens
// twice, and every other archive and file still opens and reads.
TEST_P(FaultRows, OnlyTheCulpritIsSkippedAndTheRestGoesOn) {
  const FaultRow& row = GetParam();
  if (row.stop == TReaderStop::Sandbox && !ProbeSandbox().seccomp) GTEST_SKIP() << "the kernel offers no seccomp filter";
  TArchiveReader& reader = TArchiveReader::Instance();
  const std::string trigger = std::string("velmora-fault-") + row.trigger;
  const MpqHandle a = AddArchive(Members("a\\one.bin"), ListFileOf(Members("a\\one.bin")));
  std::vector<MpqMember> bMembers = Members("b\\two.bin");
  bMembers.push_back({"b\\" + trigger, "the test reader fails before reading this"});
  const MpqHandle b = AddArchive(bMembers, ListFileOf(bMembers));
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  ASSERT_TRUE(LoadListFile(a, nullptr));
  ASSERT_TRUE(LoadListFile(b, nullptr));
  // Open across the restart: its file is opened again in the new process.
  const TZanthObject held("a\\one.bin");
  ASSERT_NE(held.FileHandler(), nullptr);

  // The window keeps painting while it waits, and nothing reaches the reader from there.
  std::size_t hookCalls = 0;
  bool nestedRefused = true;
  reader.SetWaitHook([&] {
    ++hookCalls;
    nestedRefused = nestedRefused && reader.OpenFile(a, "a\\one.bin").handle == 0;
  });
  std::vector<TReaderStopEvent> events;
  reader.SetStopHook([&](const TReaderStopEvent& e) { events.push_back(e); });

  const std::vector<MpqMember> cMembers = Members("c\\culprit.bin");
  MpqHandle culprit = 0;
  switch (row.stage) {
    case Stage::Open: {
      const auto path = Dir() / (trigger + ".mpq");
      WriteMpq(path, cMembers, ListFileOf(cMembers));
      TMpqOpenResult open = OpenMpqArchive(path.string());
      if (row.stop == TReaderStop::None) {
        ASSERT_EQ(open.status, TArchiveOpenStatus::Opened) << open.reason;
        culprit = open.archive.Get();
        MpqList->Append(std::move(open.archive));
        break;
      }
      EXPECT_EQ(open.status, TArchiveOpenStatus::ReaderStopped);
      EXPECT_EQ(ReaderStopText(open.stop), ReaderStopText(row.stop));
      EXPECT_FALSE(open.archive);
      // Named again, it is skipped without another try.
      const TMpqOpenResult again = OpenMpqArchive(path.string());
      EXPECT_EQ(again.status, TArchiveOpenStatus::ReaderStopped);
      EXPECT_EQ(again.stop, row.stop);
      break;
    }
    case Stage::List: {
      const auto path = Dir() / ("velmora-fault-list-" + std::string(row.trigger) + ".mpq");
      WriteMpq(path, cMembers, ListFileOf(cMembers));
      culprit = AddArchiveFile(path);
      ASSERT_NE(culprit, 0u);
      TListFileReport report;
      EXPECT_TRUE(LoadListFile(culprit, nullptr, report));
      EXPECT_EQ(ReaderStopText(report.stop), ReaderStopText(row.stop));
      EXPECT_EQ(MpqArchiveStop(culprit), row.stop);
      // A list cut short by a stop indexes nothing; one read whole on the second try, everything.
      EXPECT_EQ(FileIndex->Contains("C\\CULPRIT.BIN"), row.stop == TReaderStop::None);
      break;
    }
    case Stage::Read: {
      const TZanthObject object("b\\" + trigger);
      ASSERT_NE(object.FileHandler(), nullptr);
      char buf[16] = {};
      EXPECT_EQ(object.FileHandler()->GetHeader(buf, sizeof buf), row.stop == TReaderStop::None);
      EXPECT_EQ(ReaderStopText(object.ReaderStop()), ReaderStopText(row.stop));
      // Only the file is blamed: its archive stays.
      EXPECT_EQ(MpqArchiveStop(b), TReaderStop::None);
      if (row.stop != TReaderStop::None) {
        const TZanthObject again("b\\" + trigger);
        EXPECT_EQ(again.FileHandler(), nullptr) << "the culprit file was tried again";
        EXPECT_EQ(again.ReaderStop(), row.stop);
      }
      break;
    }
  }
  EXPECT_EQ(RestartsSinceSetUp(), row.restarts);
  // Every stop went to the hook, named by its archive and, when read, its file.
  ASSERT_EQ(events.size(), row.restarts);
  for (const TReaderStopEvent& e : events) {
    EXPECT_NE(e.Text().find(row.stage == Stage::Read ? "while reading b\\velmora-fault-" : "velmora-fault-"), std::string::npos)
        << e.Text();
    if (std::string(row.trigger).find("crash") != std::string::npos) {
      // The reader's own stderr (glibc's abort) is captured, not passed to ours.
      EXPECT_NE(e.words, "") << e.Text();
    }
  }
  if (row.stop == TReaderStop::TimeOut) EXPECT_GE(hookCalls, 10u) << "the wait hook was not called every 50 ms";
  EXPECT_TRUE(nestedRefused) << "a request from inside the wait hook went through";
  reader.SetWaitHook({});
  reader.SetStopHook({});

  const MpqHandle c = AddArchive(Members("d\\three.bin"), ListFileOf(Members("d\\three.bin")));
  ASSERT_NE(c, 0u);
  std::vector<std::pair<MpqHandle, std::string>> good{{a, "a\\one.bin"}, {b, "b\\two.bin"}, {c, "d\\three.bin"}};
  if (culprit != 0 && row.stop == TReaderStop::None) good.emplace_back(culprit, "c\\culprit.bin");
  if (culprit != 0 && row.stop != TReaderStop::None) {
    EXPECT_FALSE(LoadListFile(culprit, nullptr)) << "the culprit still answers";
    EXPECT_EQ(ReadObject("c\\culprit.bin"), std::nullopt);
  }
  ExpectGoodArchivesWork(good);
  std::string head(5, '\0');
  EXPECT_TRUE(held.FileHandler()->GetHeader(head.data(), 5));
  EXPECT_EQ(head, "conte");
  EXPECT_EQ(held.ReaderStop(), TReaderStop::None);
  EXPECT_EQ(RestartsSinceSetUp(), row.restarts);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultRows,
    ::testing::Values(FaultRow{"crash_at_open", Stage::Open, "crash", TReaderStop::Crash, 2},
                      FaultRow{"crash_at_list", Stage::List, "crash", TReaderStop::Crash, 2},
                      FaultRow{"crash_at_read", Stage::Read, "crash", TReaderStop::Crash, 2},
                      FaultRow{"memory_at_open", Stage::Open, "memory", TReaderStop::Memory, 1},
                      FaultRow{"memory_at_list", Stage::List, "memory", TReaderStop::Memory, 1},
                      FaultRow{"memory_at_read", Stage::Read, "memory", TReaderStop::Memory, 1},
                      FaultRow{"time_out_at_open", Stage::Open, "hang", TReaderStop::TimeOut, 1},
                      FaultRow{"time_out_at_list", Stage::List, "hang", TReaderStop::TimeOut, 1},
                      FaultRow{"time_out_at_read", Stage::Read, "hang", TReaderStop::TimeOut, 1},
                      // A call the sandbox forbids, as an exploit would make: handled as a crash.
                      FaultRow{"sandbox_violation_at_open", Stage::Open, "sandbox", TReaderStop::Sandbox, 2},
                      FaultRow{"sandbox_violation_at_list", Stage::List, "sandbox", TReaderStop::Sandbox, 2},
                      FaultRow{"sandbox_violation_at_read", Stage::Read, "sandbox", TReaderStop::Sandbox, 2},
                      FaultRow{"crash_once_at_open_costs_nothing", Stage::Open, "once-crash", TReaderStop::None, 1},
                      FaultRow{"crash_once_at_list_costs_nothing", Stage::List, "once-crash", TReaderStop::None, 1},
                      FaultRow{"crash_once_at_read_costs_nothing", Stage::Read, "once-crash", TReaderStop::None, 1}),
    [](const auto& info) { return std::string(info.param.fault); });

// A reader that cannot start is no archive's fault: the open says where it was looked for and why
// it could not run, and the same archive opens once a reader can start.
TEST_F(FaultReaderTest, ReaderThatCannotStartIsReportedAndNoArchiveIsBlamed) {
  TArchiveReader& reader = TArchiveReader::Instance();
  const auto missing = Dir() / "no-such-reader";
  reader.SetProgram(missing.string());
  const auto path = Dir() / "a.mpq";
  WriteMpq(path, Members("a.bin"), ListFileOf(Members("a.bin")));
  const TMpqOpenResult open = OpenMpqArchive(path.string());
  EXPECT_EQ(open.status, TArchiveOpenStatus::ReaderUnavailable);
  EXPECT_EQ(open.stop, TReaderStop::None);
  EXPECT_NE(open.reason.find(missing.string() + " cannot run: No such file or directory"), std::string::npos)
      << open.reason;
  EXPECT_EQ(reader.StartProblem(), open.reason);
  EXPECT_EQ(RestartsSinceSetUp(), 0u);
  reader.SetProgram(VELMORA_FAULT_READER);
  const MpqHandle h = AddArchiveFile(path);
  ASSERT_NE(h, 0u);
  std::vector<std::string> paths;
  EXPECT_TRUE(Ingest(h, paths));
  EXPECT_EQ(ReadObject("a.bin"), "contents of a.bin");
}

// True while `pid` runs: gone, or a zombie, counts as ended.
bool Running(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z' && stat[close + 2] != 'X';
}

TEST_F(FaultReaderTest, ReaderDiesWithTheViewer) {
  WriteMpq(Dir() / "a.mpq", Members("a.bin"), ListFileOf(Members("a.bin")));
  // The child starts a reader of its own; this process's must not be copied into it.
  ASSERT_FALSE(TArchiveReader::Instance().Running());
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t viewer = ::fork();
  ASSERT_GE(viewer, 0);
  if (viewer == 0) {
    // A viewer with an archive open, killed without a chance to clean up.
    TArchiveHandle archive;
    pid_t reader = 0;
    if (OpenMpqArchive((Dir() / "a.mpq").string(), archive)) reader = TArchiveReader::Instance().Usage()->pid;
    if (::write(fds[1], &reader, sizeof reader) != static_cast<ssize_t>(sizeof reader)) ::_exit(1);
    ::raise(SIGKILL);
  }
  ::close(fds[1]);
  pid_t reader = 0;
  ASSERT_EQ(::read(fds[0], &reader, sizeof reader), static_cast<ssize_t>(sizeof reader));
  ::close(fds[0]);
  ::waitpid(viewer, nullptr, 0);
  ASSERT_GT(reader, 0);
  bool ended = false;
  for (int i = 0; i < 200 && !ended; ++i) {
    ended = !Running(reader);
    if (!ended) ::usleep(10000);
  }
  EXPECT_TRUE(ended) << "the reader outlived the viewer";
}

struct MentionRow {
  // Test names and failure messages show the row by its fault.
  friend void PrintTo(const MentionRow& row, std::ostream* os) { *os << row.fault; }
  const char* fault;
  // Makes the second name for <dir>/one.mpq; empty when it names another archive.
  std::string (*second)(const std::filesystem::path& dir);
  bool sameArchive;
};

class MentionRows : public ArchiveIndexTest, public ::testing::WithParamInterface<MentionRow> {};

TEST_P(MentionRows, EachArchiveIsOpenedOnce) {
  const MentionRow& row = GetParam();
  WriteMpq(Dir() / "one.mpq", Members("x.bin"), ListFileOf(Members("x.bin")));
  WriteMpq(Dir() / "two.mpq", Members("y.bin"), ListFileOf(Members("y.bin")));
  const MpqHandle first = AddArchiveFile(Dir() / "one.mpq");
  ASSERT_NE(first, 0u);
  const std::string second = row.second(Dir());
  TMpqOpenResult open = OpenMpqArchive(second);
  if (!row.sameArchive) {
    ASSERT_EQ(open.status, TArchiveOpenStatus::Opened) << second;
    // Handles are the viewer's own small numbers, given out in order.
    EXPECT_EQ(open.archive.Get(), first + 1);
    return;
  }
  EXPECT_EQ(open.status, TArchiveOpenStatus::AlreadyOpen) << second;
  EXPECT_EQ(open.existing, first);
  EXPECT_FALSE(open.archive);
  EXPECT_EQ(MpqList->Count(), 1u);
  EXPECT_EQ(TArchiveReader::Instance().OpenArchiveCount(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Mentions, MentionRows,
    ::testing::Values(
        MentionRow{"same_path_twice", [](const std::filesystem::path& d) { return (d / "one.mpq").string(); }, true},
        MentionRow{"path_through_dot_dot",
                   [](const std::filesystem::path& d) { return (d / ".." / d.filename() / "one.mpq").string(); }, true},
        MentionRow{"symbolic_link",
                   [](const std::filesystem::path& d) {
                     std::filesystem::create_symlink(d / "one.mpq", d / "link.mpq");
                     return (d / "link.mpq").string();
                   },
                   true},
        MentionRow{"hard_link",
                   [](const std::filesystem::path& d) {
                     std::filesystem::create_hard_link(d / "one.mpq", d / "hard.mpq");
                     return (d / "hard.mpq").string();
                   },
                   true},
        MentionRow{"other_archive_opens", [](const std::filesystem::path& d) { return (d / "two.mpq").string(); },
                   false}),
    [](const auto& info) { return std::string(info.param.fault); });

}  // namespace
}  // namespace velmora::test
