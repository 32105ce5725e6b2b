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

}  // namespace
}  // namespace velmora
