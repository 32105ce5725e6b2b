// Which named files are archives and which textures, by the extension of their name.
#include <gtest/gtest.h>

#include "host/FileKinds.h"

namespace velmora {
namespace {

TEST(FileKinds, maps_are_archives_in_either_case_and_only_whole_extensions_count) {
  struct Row {
    const char* path;
    bool archive, texture;
  } rows[] = {
      {"Data/common.MPQ", true, false},        {"maps/normalMap.w3x", true, false},
      {"maps/Old Map.W3M", true, false},       {"textures/map.blp", false, true},
      {"textures/MAP.BLP", false, true},       {".mpq", false, false},
      {"maps/map.w3x.txt", false, false},      {"maps/campaign.w3n", false, false},
      {"notes.txt", false, false},             {"mpq", false, false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(IsArchiveFileName(row.path), row.archive) << row.path;
    EXPECT_EQ(IsTextureFileName(row.path), row.texture) << row.path;
  }
}

}  // namespace
}  // namespace velmora
