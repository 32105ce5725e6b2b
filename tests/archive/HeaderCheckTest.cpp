// The MPQ header held to its file before StormLib sees it: header fields of an archive written
// here (format 1) and of a sample archive (format 2, when the samples are there) changed one at a
// time. A table that cannot fit is refused at once with the field named; a table that passes the
// check but asks for more than the file justifies fails at once under the reader's address-space
// limit; what real archives rely on (a wrong archive size, a wrong format-1 header size, a block
// table running past the end as in a protected map, any format version in a Warcraft III map)
// still opens. Every sample archive passes the check.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "ArchiveFixture.h"
#include "archive/MpqHeaderCheck.h"
#include "archive/Zanth.h"

namespace velmora::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kAtOnce = 1s;
constexpr long kPeakLimitKiB = 256 * 1024;

std::string ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Put(std::string& b, std::size_t at, std::uint64_t v, int bytes) {
  if (b.size() < at + static_cast<std::size_t>(bytes)) b.resize(at + static_cast<std::size_t>(bytes), '\0');
  for (int i = 0; i < bytes; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
}
void Put16(std::string& b, std::size_t at, std::uint64_t v) { Put(b, at, v, 2); }
void Put32(std::string& b, std::size_t at, std::uint64_t v) { Put(b, at, v, 4); }
void Put64(std::string& b, std::size_t at, std::uint64_t v) { Put(b, at, v, 8); }

std::optional<std::string> Check(const std::string& bytes, const std::string& name) {
  return mpq::CheckMpqHeader(
      [&](std::uint64_t offset, void* dst, std::size_t size) -> std::size_t {
        if (offset >= bytes.size()) return 0;
        const std::size_t n = std::min<std::size_t>(size, bytes.size() - static_cast<std::size_t>(offset));
        std::memcpy(dst, bytes.data() + offset, n);
        return n;
      },
      bytes.size(), name);
}

// Header fields as Put offsets: hash/block positions and counts, version, header size.
enum : std::size_t { kHeaderSize = 4, kArchiveSize = 8, kVersion = 12, kHashPos = 16, kBlockPos = 20, kHashCount = 24,
                     kBlockCount = 28, kHiBlockPos = 32, kBetPos = 52, kHetPos = 60, kBetSize = 100 };

enum class Base { Written, WrittenLarge, Sample };

struct MutationRow {
  // Test names and failure messages show the row by its fault.
  friend void PrintTo(const MutationRow& row, std::ostream* os) { *os << row.fault; }
  const char* fault;
  Base base;
  const char* name;  // the file's name (its extension decides Warcraft III maps)
  std::function<void(std::string&)> mutate;
  const char* field;  // the refusal names this; "" when the header check lets it through
  bool opens;         // it opens (else it is refused, or fails at once)
};

class MutationRows : public ArchiveIndexTest, public ::testing::WithParamInterface<MutationRow> {};

TEST_P(MutationRows, RefusedOrFailedAtOnceOrStillOpens) {
  const MutationRow& row = GetParam();
  std::string bytes;
  if (row.base == Base::Sample) {
    VELMORA_REQUIRE_REALDATA();
    bytes = ReadBytes(RealDataDir() / "mpq" / "tbc-standard.mpq");
    ASSERT_FALSE(bytes.empty()) << "missing fixture tbc-standard.mpq";
  } else {
    std::vector<MpqMember> members{{"Tex\\a.blp", std::string(row.base == Base::WrittenLarge ? 1100000 : 3000, 'a')},
                                   {"Tex\\b.blp", std::string(500, 'b')}};
    WriteMpq(Dir() / "source.mpq", members, ListFileOf(members));
    bytes = ReadBytes(Dir() / "source.mpq");
  }
  row.mutate(bytes);
  const fs::path path = Dir() / row.name;
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));

  const std::optional<std::string> problem = Check(bytes, path.string());
  if (*row.field != '\0') {
    ASSERT_TRUE(problem.has_value()) << "the check let it through";
    EXPECT_EQ(problem->rfind(row.field, 0), 0u) << *problem;
  } else {
    EXPECT_FALSE(problem.has_value()) << *problem;
  }

  TArchiveReader& reader = TArchiveReader::Instance();
  const auto start = std::chrono::steady_clock::now();
  TMpqOpenResult open = OpenMpqArchive(path.string());
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, kAtOnce);
  if (row.opens) {
    ASSERT_EQ(open.status, TArchiveOpenStatus::Opened) << open.reason;
    MpqList->Append(std::move(open.archive));
    return;
  }
  EXPECT_NE(open.status, TArchiveOpenStatus::Opened);
  if (problem) EXPECT_EQ(open.reason, *problem);
  // The reader that tried it stays within the bounds: running, or ended.
  const long peak = reader.Running() ? reader.Usage()->peakRssKiB : reader.EndedPeakKiB();
  EXPECT_LT(peak, kPeakLimitKiB) << "KiB at the reader's peak";
}

INSTANTIATE_TEST_SUITE_P(
    Headers, MutationRows,
    ::testing::Values(
        MutationRow{"hash_table_of_2_pow_26_entries_in_a_32_byte_file", Base::Written, "a.mpq",
                    [](std::string& b) {
                      b.resize(32);
                      Put32(b, kHashPos, 32);
                      Put32(b, kHashCount, 1u << 26);
                      Put32(b, kBlockCount, 0);
                    },
                    "hash table: 67108864 entries", false},
        MutationRow{"block_table_of_2_pow_26_entries", Base::Written, "a.mpq",
                    [](std::string& b) { Put32(b, kBlockCount, 1u << 26); }, "block table: 67108864 entries", false},
        MutationRow{"hash_table_starts_past_the_end", Base::Written, "a.mpq",
                    [](std::string& b) { Put32(b, kHashPos, b.size() + 4096); }, "hash table offset", false},
        MutationRow{"block_table_starts_past_the_end", Base::Written, "a.mpq",
                    [](std::string& b) { Put32(b, kBlockPos, b.size() + 4096); }, "block table offset", false},
        MutationRow{"format_2_header_cut_short", Base::Sample, "a.mpq", [](std::string& b) { b.resize(40); },
                    "header: format 2 needs 44 bytes", false},
        MutationRow{"format_2_hash_table_of_2_pow_27_entries", Base::Sample, "a.mpq",
                    [](std::string& b) { Put32(b, kHashCount, 1u << 27); }, "hash table: 134217728 entries", false},
        MutationRow{"format_2_hash_position_high_word_past_the_end", Base::Sample, "a.mpq",
                    [](std::string& b) { Put16(b, 40, 1); }, "hash table offset", false},
        MutationRow{"format_2_hi_block_table_past_the_end", Base::Sample, "a.mpq",
                    [](std::string& b) { Put64(b, kHiBlockPos, b.size() + 1); }, "hi-block table offset", false},
        MutationRow{"format_3_het_table_past_the_end", Base::Written, "a.mpq",
                    [](std::string& b) {
                      Put16(b, kVersion, 2);
                      Put32(b, kHeaderSize, 0x44);
                      for (std::size_t at = 32; at < 0x44; ++at) b[at] = 0;
                      Put64(b, kHetPos, b.size() + 1);
                    },
                    "HET table offset", false},
        MutationRow{"format_4_bet_table_larger_than_the_file_allows", Base::Written, "a.mpq",
                    [](std::string& b) {
                      Put16(b, kVersion, 3);
                      Put32(b, kHeaderSize, 0xD0);
                      for (std::size_t at = 32; at < 0xD0; ++at) b[at] = 0;
                      Put64(b, kBetPos, 0x100);
                      Put64(b, kBetSize, std::uint64_t{1} << 40);
                    },
                    "BET table: 1099511627776 bytes", false},
        MutationRow{"format_3_hash_table_within_the_compressed_ratio_fails_under_the_open_limit", Base::WrittenLarge,
                    "a.mpq",
                    [](std::string& b) {
                      Put16(b, kVersion, 2);
                      Put32(b, kHeaderSize, 0x44);
                      for (std::size_t at = 32; at < 0x44; ++at) b[at] = 0;
                      Put32(b, kHashPos, 0x44);
                      Put32(b, kHashCount, 1u << 24);
                    },
                    "", false},
        MutationRow{"archive_size_field_wrong_still_opens", Base::Written, "a.mpq",
                    [](std::string& b) { Put32(b, kArchiveSize, 0xFFFFFFFFu); }, "", true},
        MutationRow{"format_1_header_size_wrong_still_opens", Base::Written, "a.mpq",
                    [](std::string& b) { Put32(b, kHeaderSize, 0x40); }, "", true},
        MutationRow{"block_table_1_4_mb_past_the_end_still_opens", Base::Written, "a.mpq",
                    [](std::string& b) { Put32(b, kBlockCount, 86529); }, "", true},
        MutationRow{"warcraft3_map_with_a_format_2_version_still_opens", Base::Written, "a.w3x",
                    [](std::string& b) {
                      Put16(b, kVersion, 1);
                      Put32(b, kHeaderSize, 0x5A415053);
                    },
                    "", true}),
    [](const auto& info) { return std::string(info.param.fault); });

// Every sample archive, protected maps with odd header fields included, passes the check.
TEST(HeaderCheck, every_sample_archive_passes) {
  VELMORA_REQUIRE_REALDATA();
  std::size_t samples = 0;
  for (const auto& e : fs::directory_iterator(RealDataDir() / "mpq")) {
    const std::string bytes = ReadBytes(e.path());
    const std::optional<std::string> problem = Check(bytes, e.path().filename().string());
    EXPECT_FALSE(problem.has_value()) << e.path().filename() << ": " << *problem;
    ++samples;
  }
  EXPECT_GE(samples, 10u);
}

}  // namespace
}  // namespace velmora::test
