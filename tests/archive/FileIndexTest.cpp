// The file index on its own: inserting, replacing, finding across table growth, clearing.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "archive/Zanth.h"

namespace velmora {
namespace {

// Key texts that outlive the index under test.
class KeyStore {
public:
  std::string_view Add(std::string s) {
    texts_.push_back(std::make_unique<std::string>(std::move(s)));
    return *texts_.back();
  }

private:
  std::vector<std::unique_ptr<std::string>> texts_;
};

TEST(FileIndex, StoreReportsNewKeysAndReplacesRecords) {
  KeyStore keys;
  TFileIndex index;
  const std::string_view k = keys.Add("TEX\\A.BLP");
  const std::string_view first = keys.Add("Tex\\a.blp");
  const std::string_view second = keys.Add(" tex\\A.blp");
  EXPECT_TRUE(index.Store(k, TFileMpqRec{1, "TEX", first}));
  EXPECT_FALSE(index.Store(keys.Add("TEX\\A.BLP"), TFileMpqRec{2, "TEX", second}));
  EXPECT_EQ(index.Count(), 1u);
  const TFileMpqRec* rec = index.Find("TEX\\A.BLP");
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(rec->mpqh, 2u);
  EXPECT_EQ(rec->full_name, " tex\\A.blp");
  EXPECT_EQ(index.Find("tex\\a.blp"), nullptr) << "lookups are exact; callers upper-case";
  EXPECT_EQ(index.Find("TEX\\A.BL"), nullptr);
  EXPECT_EQ(index.Find("TEX\\A.BLP "), nullptr);
}

TEST(FileIndex, EmptyKeyIsAKeyLikeAnyOther) {
  TFileIndex index;
  EXPECT_EQ(index.Find(""), nullptr);
  EXPECT_TRUE(index.Store("", TFileMpqRec{7, "", ""}));
  EXPECT_TRUE(index.Contains(""));
  EXPECT_TRUE(index.Contains(std::string_view{}));
  EXPECT_FALSE(index.Contains(" "));
  EXPECT_TRUE(index.Store(std::string_view("\0", 1), TFileMpqRec{8, "", ""}));
  EXPECT_EQ(index.Find("")->mpqh, 7u);
}

TEST(FileIndex, FindsEveryKeyAcrossGrowth) {
  // Keys of every length from 0 to 40 bytes and many that share long prefixes, so that both the
  // word loop and the tail of the hash matter.
  KeyStore keys;
  TFileIndex index;
  std::vector<std::string_view> all;
  for (int i = 0; i < 100000; ++i) {
    std::string k = "WORLD\\MAPS\\AZEROTH\\" + std::to_string(i) + ".BLP";
    if (i % 3 == 0) k = k.substr(0, static_cast<std::size_t>(i % 41));
    if (i % 3 == 0) k += "#" + std::to_string(i);
    all.push_back(keys.Add(k));
  }
  for (std::size_t i = 0; i < all.size(); ++i) {
    ASSERT_TRUE(index.Store(all[i], TFileMpqRec{i + 1, {}, all[i]})) << all[i];
    ASSERT_EQ(index.Count(), i + 1);
  }
  for (std::size_t i = 0; i < all.size(); ++i) {
    const TFileMpqRec* rec = index.Find(std::string(all[i]));
    ASSERT_NE(rec, nullptr) << all[i];
    ASSERT_EQ(rec->mpqh, i + 1) << all[i];
  }
  for (int i = 0; i < 1000; ++i) EXPECT_FALSE(index.Contains("WORLD\\MAPS\\AZEROTH\\X" + std::to_string(i)));
}

TEST(FileIndex, ReserveKeepsWhatIsStoredAndLaterStoresFindable) {
  KeyStore keys;
  TFileIndex index;
  std::vector<std::string_view> all;
  for (int i = 0; i < 3000; ++i) all.push_back(keys.Add("A\\" + std::to_string(i)));
  for (std::size_t i = 0; i < 1000; ++i) index.Store(all[i], TFileMpqRec{i + 1, {}, {}});
  index.Reserve(100000);
  index.Reserve(10);  // smaller than what is held: nothing is lost
  for (std::size_t i = 1000; i < all.size(); ++i) index.Store(all[i], TFileMpqRec{i + 1, {}, {}});
  ASSERT_EQ(index.Count(), all.size());
  for (std::size_t i = 0; i < all.size(); ++i) {
    const TFileMpqRec* rec = index.Find(all[i]);
    ASSERT_NE(rec, nullptr) << all[i];
    EXPECT_EQ(rec->mpqh, i + 1) << all[i];
  }
}

TEST(FileIndex, ClearForgetsEverythingAndTheIndexIsUsableAgain) {
  KeyStore keys;
  TFileIndex index;
  for (int i = 0; i < 5000; ++i) index.Store(keys.Add("K" + std::to_string(i)), TFileMpqRec{1, {}, {}});
  index.Clear();
  EXPECT_EQ(index.Count(), 0u);
  EXPECT_FALSE(index.Contains("K1"));
  EXPECT_TRUE(index.Store(keys.Add("K1"), TFileMpqRec{2, {}, {}}));
  EXPECT_EQ(index.Find("K1")->mpqh, 2u);
  EXPECT_EQ(index.Count(), 1u);
}

TEST(FileIndex, KeptTextsBackTheViews) {
  TFileIndex index;
  auto text = std::make_unique<char[]>(4);
  std::memcpy(text.get(), "A.BL", 4);
  const std::string_view key(text.get(), 3);
  index.Keep(std::move(text));
  EXPECT_TRUE(index.Store(key, TFileMpqRec{3, {}, key}));
  EXPECT_EQ(index.Find("A.B")->full_name, "A.B");
}

// The archives behind a key: every archive that listed it, once, in the order they were stored;
// Find keeps giving the last.
TEST(FileIndex, SourcesAreEveryListingArchiveOnceInStoringOrder) {
  struct TStore {
    MpqHandle archive;
    const char* line;
  };
  struct TRow {
    const char* fault;
    std::vector<TStore> stores;  // all under the key "T\\A.BLP"
    std::vector<TStore> sources;
  };
  const TRow rows[] = {
      {"one_archive_is_the_only_source", {{1, "t\\a.blp"}}, {{1, "t\\a.blp"}}},
      {"three_archives_in_order_each_with_its_own_line",
       {{1, "T\\a.blp"}, {2, " t\\A.blp"}, {3, "t\\a.BLP"}},
       {{1, "T\\a.blp"}, {2, " t\\A.blp"}, {3, "t\\a.BLP"}}},
      {"a_second_line_of_one_archive_replaces_its_line_and_adds_no_source",
       {{1, "T\\a.blp"}, {2, "first"}, {2, "second"}, {3, "t\\a.blp"}},
       {{1, "T\\a.blp"}, {2, "second"}, {3, "t\\a.blp"}}},
      {"the_order_of_storing_not_of_handles", {{7, "x"}, {2, "y"}}, {{7, "x"}, {2, "y"}}},
  };
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.fault);
    KeyStore keys;
    TFileIndex index;
    // Other keys around it, so that links of one record are not taken for another's.
    index.Store(keys.Add("T\\B.BLP"), TFileMpqRec{9, "T", "t\\b.blp"});
    for (const TStore& s : row.stores) index.Store(keys.Add("T\\A.BLP"), TFileMpqRec{s.archive, "T", s.line});
    index.Store(keys.Add("T\\B.BLP"), TFileMpqRec{8, "T", "t\\b.blp"});
    const std::vector<TFileMpqRec> sources = index.Sources("T\\A.BLP");
    ASSERT_EQ(sources.size(), row.sources.size());
    for (std::size_t i = 0; i < sources.size(); ++i) {
      EXPECT_EQ(sources[i].mpqh, row.sources[i].archive) << "source " << i;
      EXPECT_EQ(sources[i].full_name, row.sources[i].line) << "source " << i;
      EXPECT_EQ(sources[i].dir, "T") << "source " << i;
    }
    EXPECT_EQ(index.Find("T\\A.BLP")->mpqh, row.sources.back().archive) << "Find gives another than the last";
    EXPECT_EQ(index.Sources("T\\B.BLP").size(), 2u);
    EXPECT_TRUE(index.Sources("T\\C.BLP").empty()) << "an absent key has sources";
    index.Clear();
    EXPECT_TRUE(index.Sources("T\\A.BLP").empty()) << "Clear kept sources";
    EXPECT_EQ(index.EarlierSourceCount(), 0u);
  }
}

TEST(FileIndex, SourcesOfKeysInLaterChunksStayApart) {
  // Records live in chunks of 32768: links of a record far into the index belong to it alone.
  KeyStore keys;
  TFileIndex index;
  constexpr int kKeys = 70000;
  for (int i = 0; i < kKeys; ++i) index.Store(keys.Add("K" + std::to_string(i)), TFileMpqRec{1, {}, {}});
  for (int i = 0; i < kKeys; i += 3) index.Store(keys.Add("K" + std::to_string(i)), TFileMpqRec{2, {}, {}});
  for (int i : {0, 1, 2, 32768, 32769, 69999, 69998}) {
    SCOPED_TRACE(i);
    const std::vector<TFileMpqRec> sources = index.Sources("K" + std::to_string(i));
    ASSERT_EQ(sources.size(), i % 3 == 0 ? 2u : 1u);
    EXPECT_EQ(sources.front().mpqh, 1u);
    EXPECT_EQ(sources.back().mpqh, i % 3 == 0 ? 2u : 1u);
  }
}

}  // namespace
}  // namespace velmora
