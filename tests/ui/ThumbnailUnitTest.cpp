// The thumbnail grid's parts without a window: the cache holds to its bound in bytes, dropping the
// thumbnail used longest ago; a new wanted list cancels what it leaves out, waiting or running; and
// the loader, with its own archive reader over a real archive, makes only what is still wanted.
#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "support/BlpWriter.h"
#include "support/MpqWriter.h"
#include "support/TestData.h"
#include "ui/ThumbnailCache.h"
#include "ui/ThumbnailLoader.h"
#include "ui/ThumbnailQueue.h"

namespace velmora {
namespace {

TThumbnail Picture(const std::string& key, std::size_t pixelBytes) {
  TThumbnail t;
  t.key = key;
  t.pixels.width = 1;
  t.pixels.height = static_cast<std::uint32_t>(pixelBytes / 4);
  t.pixels.bytes.assign(pixelBytes, 7);
  return t;
}

TEST(ThumbnailCache, stays_within_its_bound_in_bytes_dropping_the_one_used_longest_ago) {
  // Each step: "+k" keeps a 1000-byte picture under key k ("+k!" one of 5000 bytes), "?k" looks k
  // up, "<n" sets the bound to n pictures of 1000 bytes.
  const std::size_t one = TThumbnailCache::CostOf(Picture("a", 1000));
  struct Row {
    const char* fault;
    std::vector<std::string> steps;
    std::vector<std::string> kept;
  } rows[] = {
      {"the_oldest_goes_first", {"+a", "+b", "+c", "+d"}, {"b", "c", "d"}},
      {"a_lookup_makes_a_picture_recent", {"+a", "+b", "+c", "?a", "+d"}, {"a", "c", "d"}},
      {"keeping_a_key_again_replaces_it", {"+a", "+b", "+a", "+c"}, {"a", "b", "c"}},
      {"one_larger_than_the_bound_is_not_kept_and_drops_nothing", {"+a", "+b", "+x!"}, {"a", "b"}},
      {"a_smaller_bound_drops_at_once", {"+a", "+b", "+c", "<1"}, {"c"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fault);
    TThumbnailCache cache(3 * one);
    for (const std::string& step : row.steps) {
      const std::string key = step.substr(1, 1);
      if (step[0] == '+') cache.Store(Picture(key, step.size() > 2 ? 5000 : 1000));
      if (step[0] == '?') EXPECT_NE(cache.Find(key), nullptr) << key;
      if (step[0] == '<') cache.SetMaxBytes(static_cast<std::size_t>(std::stoi(key)) * one);
      EXPECT_LE(cache.Bytes(), cache.MaxBytes()) << "after " << step;
    }
    std::vector<std::string> kept;
    for (const char* k : {"a", "b", "c", "d", "x"}) {
      if (cache.Contains(k)) kept.push_back(k);
    }
    EXPECT_EQ(kept, row.kept);
    EXPECT_EQ(cache.Bytes(), kept.size() * one) << "the bytes counted differ from what is kept";
  }
}

std::vector<TThumbnailJob> Jobs(const std::vector<std::string>& keys) {
  std::vector<TThumbnailJob> jobs;
  for (const std::string& k : keys) jobs.push_back({k, "archive", k, 128});
  return jobs;
}

TEST(ThumbnailQueue, a_new_wanted_list_cancels_what_it_leaves_out) {
  TThumbnailQueue queue;
  queue.Want(Jobs({"a", "b", "c"}));
  ASSERT_EQ(queue.Take()->key, "a");
  // Scrolled on: b waits no more, and a (being made) learns it is not wanted.
  queue.Want(Jobs({"c", "d"}));
  EXPECT_FALSE(queue.Wanted("a")) << "the running job was not cancelled";
  EXPECT_FALSE(queue.Wanted("b"));
  EXPECT_EQ(queue.Waiting(), 2u);
  queue.Finished();
  EXPECT_EQ(queue.Take()->key, "c");
  // Asked for again while it is being made: not queued a second time.
  queue.Want(Jobs({"c", "d", "d"}));
  EXPECT_TRUE(queue.Wanted("c"));
  EXPECT_EQ(queue.Waiting(), 1u) << "the running job or a repeated key was queued again";
  queue.Finished();
  EXPECT_EQ(queue.Take()->key, "d");
  queue.Finished();
  // A worker waiting for work wakes up for good when the queue closes.
  auto waiting = std::async(std::launch::async, [&queue] { return queue.Take().has_value(); });
  EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
  queue.Close();
  ASSERT_EQ(waiting.wait_for(std::chrono::seconds(5)), std::future_status::ready) << "Close did not wake Take";
  EXPECT_FALSE(waiting.get());
}

TEST(ThumbnailLoader, makes_only_what_is_still_wanted_and_a_damaged_file_costs_only_itself) {
  // 120 textures of 256 x 256 DXT1 with mips in a real archive, and one that is no BLP file.
  test::TempDir dir;
  std::vector<test::MpqMember> members;
  for (int i = 0; i < 120; ++i) {
    members.push_back({"Icons\\icon" + std::to_string(i) + ".blp",
                       test::WriteBlp(test::RandomBlp(2, 0, 0, 256, 256, 1, static_cast<std::uint32_t>(i)))});
  }
  members.push_back({"Icons\\broken.blp", "this is no texture"});
  const std::string archive = (dir.path() / "icons.MPQ").string();
  test::WriteMpq(archive, members, test::ListFileOf(members));

  TThumbnailLoader loader;
  std::vector<TThumbnail> got;
  QObject::connect(&loader, &TThumbnailLoader::Ready, &loader, [&got](const TThumbnail& t) { got.push_back(t); });
  std::vector<TThumbnailJob> all;
  for (const test::MpqMember& m : members) all.push_back({m.name, archive, m.name, 64});
  loader.Want(all);
  // At once scrolled to the end: only the last two are wanted now.
  loader.Want({all[119], all[120]});
  QElapsedTimer clock;
  clock.start();
  auto has = [&got](const std::string& key) {
    return std::any_of(got.begin(), got.end(), [&](const TThumbnail& t) { return t.key == key; });
  };
  while (!(has(all[119].key) && has(all[120].key)) && clock.elapsed() < 30000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  ASSERT_TRUE(has(all[119].key) && has(all[120].key)) << "the wanted thumbnails never came";
  // Whatever was running when the list changed may have finished; nothing else was made.
  EXPECT_LE(loader.Made(), 3u) << "cancelled thumbnails were made";
  for (const TThumbnail& t : got) {
    SCOPED_TRACE(t.key);
    if (t.key == all[120].key) {
      EXPECT_TRUE(t.Broken());
      EXPECT_EQ(t.problem, "not a BLP2 file");
    } else {
      EXPECT_FALSE(t.Broken()) << t.problem;
      EXPECT_EQ(t.pixels.width, 64u);
      EXPECT_EQ(t.pixels.height, 64u);
    }
  }
  // Emptied, the list leaves the worker idle; the loader ends its thread and reader when it goes.
  loader.Want({});
}

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QCoreApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
