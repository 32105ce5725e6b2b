// What the export tests share: archives written into a scratch folder and opened into the file
// index, every listed path an export item; events that keep the failures; whole-file reads.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "archive/Zanth.h"
#include "blp/BlpExport.h"
#include "support/MpqWriter.h"
#include "support/TestData.h"

namespace velmora::test {

class TKeepFailures : public blp::TExportEvents {
public:
  void Failed(const std::string& path, const std::string& reason) override { failures[path] = reason; }
  std::map<std::string, std::string> failures;
};

// Archives opened into the file index, in the order given; every listed path becomes an item.
class TArchives {
public:
  explicit TArchives(const std::vector<std::vector<MpqMember>>& archives) {
    CreateArchiveIndex();
    for (std::size_t i = 0; i < archives.size(); ++i) {
      const std::filesystem::path file = dir.path() / ("a" + std::to_string(i) + ".MPQ");
      WriteMpq(file, archives[i], ListFileOf(archives[i]));
      TArchiveHandle h;
      EXPECT_TRUE(OpenMpqArchive(file.string(), h)) << file;
      MpqList->Append(std::move(h));
    }
    for (MpqHandle h : *MpqList) {
      LoadListFile(h, [this](std::string_view p) { items.push_back({std::string(p), {}, {}}); });
    }
  }
  ~TArchives() { FreeArchiveIndex(); }
  TArchives(const TArchives&) = delete;
  TArchives& operator=(const TArchives&) = delete;

  std::filesystem::path Out() const { return dir.path() / "out"; }

  TempDir dir;
  std::vector<blp::TExportItem> items;
};

inline std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace velmora::test
