// The archive reader's sandbox. A copy of the reader that tries, once its sandbox is up, what a
// reader taken over by a crafted archive would try first: read files of the user's, create one,
// open a TCP or Unix socket, attach to the viewer, run a shell. Each attempt fails or kills the
// reader, a kill is reported as a sandbox violation, and the granted archive still reads. The
// product's reader: it has nothing of the viewer's (environment, folder, descriptors), and each
// TArchiveReader's reader may read exactly the archives it was asked to open.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "ArchiveFixture.h"
#include "archive/SandboxSupport.h"
#include "archive/Zanth.h"

namespace velmora::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string HomeDir() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  const passwd* pw = ::getpwuid(::getuid());
  return pw != nullptr ? pw->pw_dir : "/";
}

// What the kernel offers; rows that need what it lacks are skipped, saying so.
enum class TNeeds { Landlock, Seccomp, Either };

struct ProbeRow {
  friend void PrintTo(const ProbeRow& row, std::ostream* os) { *os << row.fault; }
  const char* fault;
  const char* probe;  // after "velmora-probe-"; "%home%" and "%tmp%" are filled in
  TNeeds needs;
  // The attempt is killed by the system-call filter when there is one; without, or when the filter
  // lets the call through, it fails at the file-system sandbox.
  bool killedBySeccomp;
};

class SandboxProbes : public TestReaderTest, public ::testing::WithParamInterface<ProbeRow> {};

// The attempt fails or kills the reader, a kill is reported as a sandbox violation (tried once
// more, as a crash is, then the file is skipped), and the granted archive reads on.
TEST_P(SandboxProbes, EachForbiddenThingFailsOrKillsTheReaderAndTheArchiveStillReads) {
  const ProbeRow& row = GetParam();
  const TSandboxState kernel = ProbeSandbox();
  if (row.needs == TNeeds::Landlock && kernel.landlockAbi == 0) GTEST_SKIP() << "the kernel offers no Landlock";
  if (row.needs == TNeeds::Seccomp && !kernel.seccomp) GTEST_SKIP() << "the kernel offers no seccomp filter";
  if (row.needs == TNeeds::Either && kernel.landlockAbi == 0 && !kernel.seccomp) {
    GTEST_SKIP() << "the kernel offers neither Landlock nor a seccomp filter";
  }
  // A file of the user's to steal, and a name in /tmp to create.
  const fs::path secret = fs::path(HomeDir()) / (".velmora-probe-" + std::to_string(::getpid()));
  std::ofstream(secret) << "secret";
  const fs::path planted = fs::temp_directory_path() / ("velmora-probe-" + std::to_string(::getpid()));
  std::string probe = row.probe;
  if (const auto at = probe.find("%home%"); at != std::string::npos) probe.replace(at, 6, secret.string());
  if (const auto at = probe.find("%tmp%"); at != std::string::npos) probe.replace(at, 5, planted.string());
  const std::string member = "velmora-probe-" + probe;
  const std::vector<MpqMember> members{{member, "the member itself"}, {"a\\granted.bin", "granted contents"}};
  const MpqHandle h = AddArchive(members, ListFileOf(members));
  ASSERT_NE(h, 0u);
  ASSERT_TRUE(LoadListFile(h, nullptr));

  TArchiveReader& reader = TArchiveReader::Instance();
  std::vector<TReaderStopEvent> events;
  reader.SetStopHook([&](const TReaderStopEvent& e) { events.push_back(e); });
  const std::size_t restarts = reader.Restarts();
  const TArchiveReader::TFileOpen open = reader.OpenFile(h, member);
  const TArchiveFileHandle opened(open.handle);
  fs::remove(secret);
  const bool created = fs::exists(planted);
  fs::remove(planted);

  const bool killed = row.killedBySeccomp && kernel.seccomp;
  if (std::string(row.probe) == "read-archive") {
    // The control: reading what was granted goes through, which the probe reports by crashing.
    EXPECT_EQ(open.stop, TReaderStop::Crash);
    EXPECT_TRUE(Has(open.words, "velmora-probe: read-archive went through")) << open.words;
  } else if (killed) {
    EXPECT_EQ(ReaderStopText(open.stop), "sandbox violation") << open.words;
    EXPECT_EQ(reader.Restarts() - restarts, 2u) << "a sandbox violation is tried once more, as a crash is";
    ASSERT_FALSE(events.empty());
    EXPECT_TRUE(Has(events.front().Text(), "the archive reader stopped (sandbox violation) while opening " + member))
        << events.front().Text();
    // Named again, the file is skipped without another try.
    EXPECT_EQ(reader.OpenFile(h, member).stop, TReaderStop::Sandbox);
    EXPECT_EQ(reader.Restarts() - restarts, 2u);
  } else {
    // Refused by the kernel: the reader went on and opened the member as any other.
    EXPECT_EQ(open.stop, TReaderStop::None) << open.words;
    EXPECT_NE(open.handle, 0u);
    EXPECT_EQ(reader.Restarts(), restarts);
  }
  EXPECT_FALSE(created) << planted << " was created";
  EXPECT_EQ(MpqArchiveStop(h), TReaderStop::None);
  EXPECT_EQ(ReadObject("a\\granted.bin"), "granted contents");
}

INSTANTIATE_TEST_SUITE_P(
    Probes, SandboxProbes,
    ::testing::Values(ProbeRow{"reading_etc_passwd_fails", "read=/etc/passwd", TNeeds::Landlock, false},
                      ProbeRow{"reading_a_file_in_home_fails", "read=%home%", TNeeds::Landlock, false},
                      ProbeRow{"creating_a_file_in_tmp_fails", "create=%tmp%", TNeeds::Either, true},
                      ProbeRow{"opening_a_tcp_socket_kills", "tcp", TNeeds::Seccomp, true},
                      ProbeRow{"opening_a_unix_socket_kills", "unix", TNeeds::Seccomp, true},
                      ProbeRow{"attaching_to_the_viewer_kills", "ptrace", TNeeds::Seccomp, true},
                      ProbeRow{"running_bin_sh_kills", "exec", TNeeds::Either, true},
                      ProbeRow{"reading_the_granted_archive_goes_through", "read-archive", TNeeds::Landlock, false}),
    [](const auto& info) { return std::string(info.param.fault); });

// The log lines of a reader on a kernel that offers what `kernel` says.
std::vector<std::string> MissingLines(const TSandboxState& kernel) {
  std::vector<std::string> lines;
  if (kernel.landlockAbi == 0) lines.push_back("archive reader: file-system sandbox unavailable (no Landlock); running unconfined");
  if (!kernel.seccomp) lines.push_back("archive reader: system-call filter unavailable (no seccomp); running unfiltered");
  return lines;
}

std::string ProcText(pid_t pid, const char* what) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + what, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The product's reader has nothing of the viewer's: no environment, no folder of its own, only
// its socket, its shared memory, its stderr, /dev/null and its own status file open; and its
// protections are those the kernel offers, each one missing said once to the sandbox hook.
TEST_F(ArchiveIndexTest, ReaderHasNothingOfTheViewersAndIsConfined) {
  TArchiveReader& reader = TArchiveReader::Instance();
  reader.Stop();
  std::vector<std::string> said;
  reader.SetSandboxHook([&](const std::string& line) { said.push_back(line); });
  ::setenv("VELMORA_SANDBOX_TEST_SECRET", "x", 1);
  const MpqHandle h = AddArchive({{"a.bin", "a"}}, ListFileOf({{"a.bin", "a"}}));
  ::unsetenv("VELMORA_SANDBOX_TEST_SECRET");
  ASSERT_NE(h, 0u);
  ASSERT_TRUE(LoadListFile(h, nullptr));
  const pid_t pid = reader.Usage()->pid;

  EXPECT_EQ(ProcText(pid, "environ"), "");
  EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(pid) + "/cwd"), fs::path("/"));
  std::set<std::string> open;
  for (const auto& e : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    const std::string target = fs::read_symlink(e.path()).string();
    open.insert(e.path().filename().string() + " " + (target.rfind("socket:", 0) == 0 ? "socket" : target.rfind("pipe:", 0) == 0 ? "pipe" : target));
  }
  // The archive itself is held open too while it is open.
  const std::set<std::string> expected{"0 /dev/null", "1 /dev/null", "2 pipe", "3 socket",
                                       "4 /memfd:velmora-mpq-reader (deleted)",
                                       "5 /proc/" + std::to_string(pid) + "/status",
                                       "6 " + (Dir() / "archive0.mpq").string()};
  EXPECT_EQ(open, expected);

  const TSandboxState kernel = ProbeSandbox();
  const std::string status = ProcText(pid, "status");
  EXPECT_EQ(Has(status, "NoNewPrivs:\t1"), kernel.landlockAbi > 0 || kernel.seccomp) << status;
  EXPECT_EQ(Has(status, "Seccomp:\t2"), kernel.seccomp) << status;
  ASSERT_TRUE(reader.Sandbox().known);
  EXPECT_EQ(reader.Sandbox().state.landlockAbi, kernel.landlockAbi);
  EXPECT_EQ(reader.Sandbox().state.seccomp, kernel.seccomp);
  // Only what is missing is said, once: a later reader says nothing again.
  const std::vector<std::string> missing = MissingLines(kernel);
  EXPECT_EQ(said, missing);
  reader.Stop();
  ASSERT_EQ(ReadObject("a.bin"), "a");
  EXPECT_EQ(said, missing);

  // A reader on a kernel that offers neither: both said, once, and it reads all the same.
  said.clear();
  reader.Stop();
  const fs::path bare = Dir() / "bare-reader.sh";
  std::ofstream(bare) << "#!/bin/sh\nVELMORA_FAULT_NO_SANDBOX=1 exec '" VELMORA_FAULT_READER "' \"$@\"\n";
  fs::permissions(bare, fs::perms::owner_all);
  reader.SetProgram(bare.string());
  ASSERT_EQ(ReadObject("a.bin"), "a");
  reader.Stop();
  ASSERT_EQ(ReadObject("a.bin"), "a");
  EXPECT_EQ(said, MissingLines({}));
  EXPECT_EQ(reader.Sandbox().state.landlockAbi, 0u);
  EXPECT_FALSE(reader.Sandbox().state.seccomp);
  reader.Stop();
  reader.SetProgram(TArchiveReader::DefaultProgram());
  reader.SetSandboxHook({});
}

// Each TArchiveReader's reader may read the archives it was asked to open, and no others: an
// archive outside its set takes a new reader, a batch announced first takes one for all, and a
// second TArchiveReader (a worker thread's) cannot read the first one's archives.
TEST_F(ArchiveIndexTest, EachReaderReadsExactlyTheArchivesItWasAskedToOpen) {
  TArchiveReader& reader = TArchiveReader::Instance();
  reader.Stop();
  std::vector<std::string> paths;
  for (const char* name : {"a", "b", "c", "d"}) {
    paths.push_back((Dir() / (std::string(name) + ".mpq")).string());
    const std::string member = std::string(name) + ".bin";
    WriteMpq(paths.back(), {{member, "contents of " + member}}, ListFileOf({{member, ""}}));
  }
  const MpqHandle a = AddArchiveFile(paths[0]);
  ASSERT_NE(a, 0u);
  const pid_t first = reader.Usage()->pid;
  const MpqHandle b = AddArchiveFile(paths[1]);
  ASSERT_NE(b, 0u);
  const pid_t second = reader.Usage()->pid;
  EXPECT_NE(second, first) << "a reader took an archive outside its sandbox";
  reader.ExpectArchives({paths[2], paths[3]});
  ASSERT_NE(AddArchiveFile(paths[2]), 0u);
  const pid_t third = reader.Usage()->pid;
  EXPECT_NE(third, second);
  ASSERT_NE(AddArchiveFile(paths[3]), 0u);
  EXPECT_EQ(reader.Usage()->pid, third) << "an announced archive took a reader of its own";
  for (MpqHandle h : *MpqList) ASSERT_TRUE(LoadListFile(h, nullptr));
  for (const char* name : {"a", "b", "c", "d"}) EXPECT_EQ(ReadObject(std::string(name) + ".bin"), std::string("contents of ") + name + ".bin");
  EXPECT_EQ(reader.Restarts(), 0u) << "widening the sandbox counted as a stop";

  // A second reader, of the test build, asked to open d.mpq only: a.mpq is out of its reach.
  TArchiveReader other;
  other.SetProgram(VELMORA_FAULT_READER);
  WriteMpq(Dir() / "probe.mpq", {{"velmora-probe-read=" + paths[0], "x"}}, std::nullopt);
  const TArchiveReader::TArchiveOpen probe = other.OpenArchive((Dir() / "probe.mpq").string());
  ASSERT_EQ(probe.status, TArchiveOpenStatus::Opened) << probe.reason;
  const TArchiveReader::TFileOpen denied = other.OpenFile(probe.handle, "velmora-probe-read=" + paths[0]);
  if (ProbeSandbox().landlockAbi > 0) {
    EXPECT_EQ(denied.stop, TReaderStop::None) << denied.words;
    EXPECT_NE(denied.handle, 0u);
  }
  other.CloseFile(denied.handle);
  other.CloseArchive(probe.handle);
}

}  // namespace
}  // namespace velmora::test
