// Third-party archives (formats 1, 2 and higher, Warcraft III maps with a 512-byte user header,
// one without a listfile, one with a damaged header, one that is only a header) through the
// archive layer. Skipped when the sample folder is absent.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <ostream>
#include <string>
#include <vector>

#include "ArchiveFixture.h"
#include "archive/PathParts.h"
#include "archive/Zanth.h"

// Direct StormLib reads, in this process with an archive handle of its own, give the bytes that
// the layer (through the archive reader process) must return.
#include "archive/Storm.h"

namespace velmora::test {
namespace {

namespace fs = std::filesystem;

fs::path MpqDir() { return RealDataDir() / "mpq"; }

std::optional<std::string> ReadDirect(const fs::path& archivePath, const std::string& name) {
  HANDLE mpq = nullptr;
  if (!SFileOpenArchive(archivePath.c_str(), 0, 0, &mpq)) return std::nullopt;
  const storm::TMpqArchive archive(mpq);
  HANDLE f = nullptr;
  if (!SFileOpenFileEx(mpq, name.c_str(), 0, &f)) return std::nullopt;
  DWORD high = 0;
  const DWORD size = SFileGetFileSize(f, &high);
  std::string data(size == SFILE_INVALID_SIZE ? 0 : size, '\0');
  DWORD read = 0;
  const bool ok = data.empty() || SFileReadFile(f, data.data(), size, &read, nullptr);
  SFileCloseFile(f);
  if (!ok || read != data.size() || data.empty()) return std::nullopt;
  return data;
}

// The contents of the size fixtures: this 64-byte line over and over.
std::string SizeFixture(std::size_t size) {
  const std::string line = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789!\n";
  std::string out;
  while (out.size() < size) out += line;
  out.resize(size);
  return out;
}

struct SampleRow {
  // Test names and failure messages show the row by its fault.
  friend void PrintTo(const SampleRow& row, std::ostream* os) { *os << row.fault; }
  const char* fault;
  const char* file;
  bool hasListFile;
  std::size_t paths;  // lines the listfile hands to the hook
};

class SampleArchiveRows : public ArchiveIndexTest, public ::testing::WithParamInterface<SampleRow> {};

TEST_P(SampleArchiveRows, IngestsAndOpensListedFiles) {
  VELMORA_REQUIRE_REALDATA();
  const SampleRow& row = GetParam();
  const MpqHandle h = AddArchiveFile(MpqDir() / row.file);
  ASSERT_NE(h, 0u);
  std::vector<std::string> paths;
  EXPECT_EQ(Ingest(h, paths), row.hasListFile);
  EXPECT_EQ(paths.size(), row.paths);
  EXPECT_EQ(FileIndex->Count(), row.paths);
  for (const std::string& p : paths) {
    const TFileMpqRec* rec = FileIndex->Find(MakeKey(p));
    ASSERT_NE(rec, nullptr) << p;
    EXPECT_EQ(rec->mpqh, h);
    const std::optional<std::string> direct = ReadDirect(MpqDir() / row.file, std::string(rec->full_name));
    const std::optional<std::string> layer = ReadObject(p);
    EXPECT_EQ(layer.has_value(), direct.has_value()) << p;
    if (layer && direct) EXPECT_TRUE(*layer == *direct) << p << ": contents differ";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Samples, SampleArchiveRows,
    ::testing::Values(SampleRow{"header_only_archive_has_no_listfile", "dummy.mpq", false, 0},
                      SampleRow{"map_without_listfile_returns_false", "listfilelessMap.w3x", false, 0},
                      SampleRow{"map_with_user_header", "normalMap.w3x", true, 19},
                      SampleRow{"map_with_large_sectors", "sectorShiftTest.w3x", true, 12},
                      SampleRow{"multi_sector_files", "size.mpq", true, 4},
                      SampleRow{"map_with_damaged_header", "spazzledMap.w3x", true, 19},
                      SampleRow{"format_2_archive", "tbc-standard.mpq", true, 5},
                      SampleRow{"replay_archive", "test.SC2Replay", true, 8},
                      SampleRow{"format_1_archive", "vanilla-standard.mpq", true, 5},
                      SampleRow{"wotlk_archive", "wotlk-standard.mpq", true, 5}),
    [](const auto& info) { return std::string(info.param.fault); });

struct KnownFileRow {
  // Test names and failure messages show the row by its fault.
  friend void PrintTo(const KnownFileRow& row, std::ostream* os) { *os << row.fault; }
  const char* fault;
  const char* archive;
  const char* name;
  std::uint64_t size;
  std::string prefix;  // the file's first bytes
  bool opens;
};

class KnownFileRows : public ArchiveIndexTest, public ::testing::WithParamInterface<KnownFileRow> {};

TEST_P(KnownFileRows, ReadsKnownBytes) {
  VELMORA_REQUIRE_REALDATA();
  const KnownFileRow& row = GetParam();
  const MpqHandle h = AddArchiveFile(MpqDir() / row.archive);
  ASSERT_NE(h, 0u);
  ASSERT_TRUE(LoadListFile(h, nullptr));
  const TZanthObject object(row.name);
  if (!row.opens) {
    EXPECT_EQ(object.FileHandler(), nullptr);
    return;
  }
  ASSERT_NE(object.FileHandler(), nullptr);
  EXPECT_EQ(object.FileHandler()->GetSize(), row.size);
  std::string head(row.prefix.size(), '\0');
  EXPECT_TRUE(object.FileHandler()->GetHeader(head.data(), static_cast<std::uint32_t>(head.size())));
  EXPECT_EQ(Escaped(head), Escaped(row.prefix));
}

INSTANTIATE_TEST_SUITE_P(
    Known, KnownFileRows,
    ::testing::Values(
        KnownFileRow{"format_1_text", "vanilla-standard.mpq", "fixture.txt", 13, "fixture-text\n", true},
        KnownFileRow{"format_2_text", "tbc-standard.mpq", "FIXTURE.TXT", 13, "fixture-text\n", true},
        KnownFileRow{"nested_path", "wotlk-standard.mpq", "nested\\fixture-nested.txt", 15, "fixture-nested\n", true},
        KnownFileRow{"nested_path_with_slash_is_not_indexed", "wotlk-standard.mpq", "nested/fixture-nested.txt", 0, "", false},
        KnownFileRow{"binary_file", "vanilla-standard.mpq", "fixture.png", 4825, "\x89PNG\r\n\x1A\n", true},
        KnownFileRow{"xml_file", "tbc-standard.mpq", "fixture.xml", 38, "<?xml version=\"1.0\"?>\n", true},
        KnownFileRow{"listed_locale_variant_is_not_in_neutral_locale", "vanilla-standard.mpq", "fixture-deDE.txt", 0, "", false},
        KnownFileRow{"map_script", "normalMap.w3x", "war3map.j", 47789, "//====", true},
        KnownFileRow{"map_minimap_texture", "normalMap.w3x", "WAR3MAPMAP.BLP", 7718, "BLP1", true},
        KnownFileRow{"map_imported_model", "normalMap.w3x", "war3mapImported\\tcBox.mdx", 2636, "MDLXVERS", true},
        KnownFileRow{"damaged_header_map_terrain", "spazzledMap.w3x", "war3map.w3e", 29644, "W3E!", true},
        KnownFileRow{"replay_init_data", "test.SC2Replay", "replay.initData", 1257, "", true}),
    [](const auto& info) { return std::string(info.param.fault); });

struct ChunkRow {
  // Test names and failure messages show the row by its fault.
  friend void PrintTo(const ChunkRow& row, std::ostream* os) { *os << row.fault; }
  const char* fault;
  std::uint32_t offset;
  std::uint32_t length;
  bool result;
  std::uint32_t bytesRead;
};

class SizeFixtureChunks : public ArchiveIndexTest, public ::testing::WithParamInterface<ChunkRow> {};

// size.mpq stores its fixtures compressed in 4096-byte sectors: reads across sector bounds.
TEST_P(SizeFixtureChunks, ReadAcrossSectors) {
  VELMORA_REQUIRE_REALDATA();
  const ChunkRow& row = GetParam();
  const MpqHandle h = AddArchiveFile(MpqDir() / "size.mpq");
  ASSERT_NE(h, 0u);
  ASSERT_TRUE(LoadListFile(h, nullptr));
  const TZanthObject object("fixture-256kb.txt");
  ASSERT_NE(object.FileHandler(), nullptr);
  EXPECT_EQ(object.FileHandler()->GetSize(), 262144u);
  const std::string want = SizeFixture(262144);
  std::string buf(row.length, '\0');
  EXPECT_EQ(object.FileHandler()->GetDataByOffset(row.offset, row.length, buf.data()), row.result);
  const std::string got = buf.substr(0, row.bytesRead);
  const std::string expected = want.substr(row.offset, row.bytesRead);
  const auto diff = std::mismatch(got.begin(), got.end(), expected.begin());
  EXPECT_TRUE(diff.first == got.end()) << "first difference at byte " << (diff.first - got.begin());
}

INSTANTIATE_TEST_SUITE_P(Chunks, SizeFixtureChunks,
                         ::testing::Values(ChunkRow{"first_sector", 0, 4096, true, 4096},
                                           ChunkRow{"straddles_sector_bound", 4095, 2, true, 2},
                                           ChunkRow{"spans_three_sectors", 4000, 9000, true, 9000},
                                           ChunkRow{"whole_file", 0, 262144, true, 262144},
                                           ChunkRow{"last_bytes", 262134, 10, true, 10},
                                           ChunkRow{"short_read_at_end", 262140, 8, false, 4}),
                         [](const auto& info) { return std::string(info.param.fault); });

TEST_F(ArchiveIndexTest, AllSamplesInOneIndexLastArchiveWinsAndAllAreClosed) {
  VELMORA_REQUIRE_REALDATA();
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(MpqDir())) {
    if (e.is_regular_file()) files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty());

  FreeArchiveIndex();
  const std::size_t descriptors = OpenDescriptorCount();
  CreateArchiveIndex();
  std::map<std::string, MpqHandle> byName;
  std::map<MpqHandle, fs::path> pathOf;
  for (const auto& f : files) {
    TArchiveHandle archive;
    // Every file is tried; ones StormLib cannot open are skipped, as the loader does.
    if (!OpenMpqArchive(f.string(), archive)) continue;
    byName[f.filename().string()] = archive.Get();
    pathOf[archive.Get()] = f;
    MpqList->Append(std::move(archive));
  }
  std::vector<std::string> paths;
  std::map<MpqHandle, bool> results;
  for (MpqHandle h : *MpqList) results[h] = Ingest(h, paths);

  // Each key reaches the hook once, and the index holds exactly those keys.
  std::set<std::string> keys;
  for (const auto& p : paths) EXPECT_TRUE(keys.insert(MakeKey(p)).second) << "hook called twice for " << p;
  EXPECT_EQ(FileIndex->Count(), keys.size());

  if (byName.count("listfilelessMap.w3x")) EXPECT_FALSE(results[byName["listfilelessMap.w3x"]]);
  if (byName.count("wotlk-standard.mpq") && byName.count("vanilla-standard.mpq")) {
    // vanilla, tbc and wotlk list the same paths; the last opened supplies them.
    const TFileMpqRec* rec = FileIndex->Find("FIXTURE.TXT");
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->mpqh, byName["wotlk-standard.mpq"]);
    EXPECT_EQ(ReadObject("fixture.txt"), "fixture-text\n");
  }
  if (byName.count("spazzledMap.w3x")) {
    const TFileMpqRec* rec = FileIndex->Find("WAR3MAP.DOO");
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->mpqh, byName["spazzledMap.w3x"]);
  }
  for (const auto& p : paths) {
    const TFileMpqRec* rec = FileIndex->Find(MakeKey(p));
    ASSERT_NE(rec, nullptr) << p;
    EXPECT_EQ(ReadObject(p), ReadDirect(pathOf[rec->mpqh], std::string(rec->full_name))) << p;
  }

  FreeArchiveIndex();
  EXPECT_EQ(OpenDescriptorCount(), descriptors) << "archives left open";
  CreateArchiveIndex();
}

}  // namespace
}  // namespace velmora::test
