// The test MPQ writer read back by StormLib, and a listfile that StormLib finds but cannot read.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ArchiveFixture.h"
#include "archive/Zanth.h"

#include "archive/Storm.h"

namespace velmora::test {
namespace {

// Reads a member straight through StormLib; nullopt when it cannot be opened or read whole.
std::optional<std::string> ReadMember(HANDLE archive, const std::string& name) {
  HANDLE f = nullptr;
  if (!SFileOpenFileEx(archive, name.c_str(), 0, &f)) return std::nullopt;
  const DWORD size = SFileGetFileSize(f, nullptr);
  std::string data(size, '\0');
  DWORD read = 0;
  const bool ok = size == 0 || SFileReadFile(f, data.data(), size, &read, nullptr);
  SFileCloseFile(f);
  if (!ok || read != size) return std::nullopt;
  return data;
}

struct TArchiveCloser {
  void operator()(void* h) const noexcept { SFileCloseArchive(h); }
};
using TArchive = std::unique_ptr<void, TArchiveCloser>;

TArchive OpenArchive(const std::filesystem::path& path) {
  HANDLE h = nullptr;
  if (!SFileOpenArchive(path.c_str(), 0, 0, &h)) return nullptr;
  return TArchive(h);
}

TEST(MpqWriter, TableKeysMatchStormLib) {
  EXPECT_EQ(HashMpqName("(hash table)", 3), MPQ_KEY_HASH_TABLE);
  EXPECT_EQ(HashMpqName("(block table)", 3), MPQ_KEY_BLOCK_TABLE);
  EXPECT_EQ(HashMpqName("(hash table)", 3), HashMpqName("(HASH TABLE)", 3));
}

TEST(MpqWriter, ListFileOfJoinsNamesWithCrLf) {
  EXPECT_EQ(ListFileOf({{"a", "1"}, {"b\\c", "2"}}), "a\r\nb\\c\r\n");
  EXPECT_EQ(ListFileOf({}), "");
}

TEST(MpqWriter, StormLibReadsEveryMemberBackByteForByte) {
  TempDir dir;
  std::vector<MpqMember> members;
  // Enough members to fill hash slots past their home positions and wrap around the table.
  for (int i = 0; i < 60; ++i) {
    std::string data;
    for (int j = 0; j < i * 13; ++j) data.push_back(static_cast<char>((i * 31 + j) & 0xFF));
    members.push_back({"Dir" + std::to_string(i % 4) + "\\member" + std::to_string(i) + ".bin", data});
  }
  members.push_back({"zero.blp", ""});
  members.push_back({"  padded.blp ", "padded"});
  constexpr char kOdd[] = "\xEF\xBB\xBF" "odd\nlist\rfile\0with nul\r\n";
  const std::string listfile(kOdd, sizeof kOdd - 1);
  const auto path = dir.path() / "w.mpq";
  WriteMpq(path, members, listfile);

  const TArchive archive = OpenArchive(path);
  ASSERT_NE(archive, nullptr);
  for (const MpqMember& m : members) {
    const auto got = ReadMember(archive.get(), m.name);
    ASSERT_TRUE(got.has_value()) << m.name;
    EXPECT_TRUE(*got == m.data) << m.name << ": bytes differ";
  }
  EXPECT_EQ(ReadMember(archive.get(), "(listfile)"), listfile);
  EXPECT_EQ(ReadMember(archive.get(), "padded.blp"), std::nullopt);
  EXPECT_EQ(ReadMember(archive.get(), "member0.bin"), std::nullopt);
}

TEST(MpqWriter, NoListFileMeansNoListFileMember) {
  TempDir dir;
  const auto path = dir.path() / "n.mpq";
  WriteMpq(path, {{"a.blp", "a"}}, std::nullopt);
  const TArchive archive = OpenArchive(path);
  ASSERT_NE(archive, nullptr);
  EXPECT_EQ(ReadMember(archive.get(), "(listfile)"), std::nullopt);
  EXPECT_EQ(ReadMember(archive.get(), "a.blp"), "a");
}

TEST(MpqWriter, EmptyListFileIsAZeroByteMember) {
  TempDir dir;
  const auto path = dir.path() / "e.mpq";
  WriteMpq(path, {}, std::string());
  const TArchive archive = OpenArchive(path);
  ASSERT_NE(archive, nullptr);
  EXPECT_EQ(ReadMember(archive.get(), "(listfile)"), "");
}

// StormLib writes its own listfile compressed; overwriting its stored bytes leaves a member
// that opens but cannot be read.
TEST_F(ArchiveIndexTest, UnreadableListFileReturnsTrueAndAddsNothing) {
  const auto path = Dir() / "corrupt.mpq";
  {
    HANDLE h = nullptr;
    ASSERT_TRUE(SFileCreateArchive(path.c_str(), MPQ_CREATE_LISTFILE | MPQ_CREATE_ARCHIVE_V1, 16, &h));
    const TArchive archive(h);
    for (int i = 0; i < 20; ++i) {
      const std::string name = "Tex\\file" + std::to_string(i) + ".blp";
      const std::string data = "data " + std::to_string(i);
      HANDLE f = nullptr;
      ASSERT_TRUE(SFileCreateFile(h, name.c_str(), 0, static_cast<DWORD>(data.size()), 0, MPQ_FILE_COMPRESS, &f));
      ASSERT_TRUE(SFileWriteFile(f, data.data(), static_cast<DWORD>(data.size()), MPQ_COMPRESSION_ZLIB));
      ASSERT_TRUE(SFileFinishFile(f));
    }
  }
  ULONGLONG offset = 0;
  DWORD stored = 0;
  {
    const TArchive archive = OpenArchive(path);
    ASSERT_NE(archive, nullptr);
    HANDLE f = nullptr;
    ASSERT_TRUE(SFileOpenFileEx(archive.get(), "(listfile)", 0, &f));
    ASSERT_TRUE(SFileGetFileInfo(f, SFileInfoByteOffset, &offset, sizeof offset, nullptr));
    ASSERT_TRUE(SFileGetFileInfo(f, SFileInfoCompressedSize, &stored, sizeof stored, nullptr));
    SFileCloseFile(f);
  }
  {
    std::FILE* file = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fseek(file, static_cast<long>(offset), SEEK_SET), 0);
    for (DWORD i = 0; i < stored; ++i) std::fputc(0x55, file);
    std::fclose(file);
  }
  {
    // The precondition: StormLib opens the listfile and fails to read it.
    const TArchive archive = OpenArchive(path);
    ASSERT_NE(archive, nullptr);
    HANDLE f = nullptr;
    ASSERT_TRUE(SFileOpenFileEx(archive.get(), "(listfile)", 0, &f));
    std::string buf(SFileGetFileSize(f, nullptr), '\0');
    DWORD read = 0;
    EXPECT_FALSE(SFileReadFile(f, buf.data(), static_cast<DWORD>(buf.size()), &read, nullptr));
    SFileCloseFile(f);
  }
  const MpqHandle h = AddArchiveFile(path);
  ASSERT_NE(h, 0u);
  std::vector<std::string> paths;
  EXPECT_TRUE(Ingest(h, paths));
  EXPECT_TRUE(paths.empty());
  EXPECT_EQ(FileIndex->Count(), 0u);
}

}  // namespace
}  // namespace velmora::test
