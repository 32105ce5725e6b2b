// The real program on the real sample archives with its archive reader confined: every archive
// opens, and every file the archives name exports byte for byte as StormLib reads it here without
// any sandbox; the log says which protections the reader lacked; --version says which it has.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "archive/PathParts.h"
#include "archive/SandboxSupport.h"
#include "archive/Storm.h"
#include "base/Ascii.h"
#include "base/Lines.h"
#include "support/TestData.h"

namespace fs = std::filesystem;

namespace velmora::test {
namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::optional<std::string> ReadMember(HANDLE mpq, const std::string& name) {
  HANDLE f = nullptr;
  if (!SFileOpenFileEx(mpq, name.c_str(), 0, &f)) return std::nullopt;
  const storm::TMpqFile file(f);
  DWORD high = 0;
  const DWORD size = SFileGetFileSize(f, &high);
  if (size == SFILE_INVALID_SIZE) return std::nullopt;
  std::string data(size, '\0');
  DWORD read = 0;
  if (size > 0 && (!SFileReadFile(f, data.data(), size, &read, nullptr) || read != size)) return std::nullopt;
  return data;
}

// The names an archive gives: its listfile's lines; without one, what StormLib can name (not the
// "FileNNNNNNNN.ext" it makes up for the others).
std::vector<std::string> NamesOf(HANDLE mpq) {
  std::vector<std::string> names;
  if (const std::optional<std::string> list = ReadMember(mpq, "(listfile)")) {
    const std::string text = list->substr(0, list->find('\0'));
    ForEachLine(text, [&](std::size_t b, std::size_t e) {
      const std::string line(TrimBlanks(std::string_view(text).substr(b, e - b)));
      if (!line.empty()) names.push_back(line);
    });
    return names;
  }
  SFILE_FIND_DATA data{};
  HANDLE find = SFileFindFirstFile(mpq, "*", &data, nullptr);
  for (bool more = find != nullptr; more; more = SFileFindNextFile(find, &data)) {
    const std::string name = data.cFileName;
    char made[32];
    std::snprintf(made, sizeof made, "File%08u.", static_cast<unsigned>(data.dwBlockIndex));
    if (name.rfind(made, 0) != 0) names.push_back(name);
  }
  if (find != nullptr) SFileFindClose(find);
  return names;
}

TEST(SandboxRun, real_archives_open_and_read_as_before_with_the_reader_confined) {
  VELMORA_REQUIRE_REALDATA();
  TempDir dir;
  // A copy of the program with the product's reader where it looks for it, and a log of its own.
  fs::create_directories(dir.path() / "bin");
  fs::create_directories(dir.path() / "libexec/velmora");
  fs::copy_file(VELMORA_PROGRAM, dir.path() / "bin/VelmoraGL");
  fs::copy_file(VELMORA_READER, dir.path() / "libexec/velmora/velmora-mpq-reader");
  // Every sample archive, in name order; one whose extension the command line does not take is
  // copied under one it does.
  std::vector<fs::path> archives;
  for (const auto& e : fs::directory_iterator(RealDataDir() / "mpq")) archives.push_back(e.path());
  std::sort(archives.begin(), archives.end());
  ASSERT_FALSE(archives.empty());
  for (fs::path& a : archives) {
    const std::string ext = UpperAscii(a.extension().string());
    if (ext == ".MPQ" || ext == ".W3X" || ext == ".W3M") continue;
    const fs::path copy = dir.path() / (a.stem().string() + ".mpq");
    fs::copy_file(a, copy);
    a = copy;
  }

  // What StormLib reads here, unconfined: the last archive that names a path supplies it.
  std::map<std::string, std::pair<std::string, std::optional<std::string>>> expected;  // key: spelling, bytes
  std::set<std::string> notOpened;
  for (const fs::path& a : archives) {
    HANDLE mpq = nullptr;
    if (!SFileOpenArchive(a.c_str(), 0, MPQ_OPEN_READ_ONLY, &mpq)) {
      notOpened.insert(a.string());
      continue;
    }
    const storm::TMpqArchive archive(mpq);
    for (const std::string& name : NamesOf(mpq)) expected[UpperAscii(name)] = {name, ReadMember(mpq, name)};
  }
  ASSERT_GT(expected.size(), 20u);

  std::vector<std::string> args;
  for (const fs::path& a : archives) args.push_back(a.string());
  for (const char* a : {"--export", "*", "--format", "raw", "--out", "out"}) args.emplace_back(a);
  const TRun run = RunProgramAt(dir.path() / "bin/VelmoraGL", args, dir.path(), "/nonexistent");

  EXPECT_FALSE(Contains(run.err, "sandbox violation")) << run.err;
  EXPECT_FALSE(Contains(run.err, "the archive reader stopped")) << run.err;
  for (const fs::path& a : archives) {
    EXPECT_EQ(Contains(run.err, a.string() + " not opened:"), notOpened.count(a.string()) != 0) << a << "\n" << run.err;
  }
  std::size_t readable = 0;
  for (const auto& [key, entry] : expected) {
    std::string rel = entry.first;
    std::replace(rel.begin(), rel.end(), '\\', '/');
    const fs::path out = dir.path() / "out" / rel;
    if (!entry.second) {
      EXPECT_FALSE(fs::exists(out)) << rel << " exported, though StormLib cannot read it";
      continue;
    }
    ++readable;
    ASSERT_TRUE(fs::is_regular_file(out)) << rel << "\n" << run.err;
    EXPECT_TRUE(ReadText(out) == *entry.second) << rel << ": contents differ";
  }
  std::size_t written = 0;
  for (const auto& e : fs::recursive_directory_iterator(dir.path() / "out")) written += e.is_regular_file() ? 1 : 0;
  EXPECT_EQ(written, readable);
  EXPECT_EQ(run.status, notOpened.empty() && readable == expected.size() ? 0 : 1) << run.err;

  // The log names only what the reader lacked; --version says what it has.
  std::string log;
  for (const auto& e : fs::directory_iterator(dir.path() / "bin/logs")) log += ReadText(e.path());
  const TSandboxState kernel = ProbeSandbox();
  EXPECT_FALSE(Contains(log, "unavailable") && kernel.landlockAbi > 0 && kernel.seccomp) << log;
  EXPECT_EQ(Contains(log, "file-system sandbox unavailable (no Landlock); running unconfined"), kernel.landlockAbi == 0) << log;
  std::string versionLine = DescribeSandbox(kernel);
  versionLine[0] = UpperAsciiChar(versionLine[0]);
  const TRun version = RunProgram({"--version"}, dir.path(), "/nonexistent");
  EXPECT_EQ(version.out, "VelmoraGL " VELMORA_VERSION "\n" + versionLine + "\n");
}

}  // namespace
}  // namespace velmora::test
