// The GL entry point table: whole-word extension matching, the glGetStringi fallback, and a
// missing entry point reported by name with the table left empty and nothing called.
#include <gtest/gtest.h>

#include "gl/GlApi.h"
#include "support/RecordingGl.h"

namespace velmora::test {
namespace {

struct ListRow {
  const char* name;
  const char* list;
  bool has;
};

void PrintTo(const ListRow& row, std::ostream* os) { *os << row.name; }

const ListRow kLists[] = {
    {"alone", "GL_ARB_texture_compression", true},
    {"first_of_several", "GL_ARB_texture_compression GL_EXT_bgra", true},
    {"last_of_several", "GL_EXT_bgra GL_ARB_texture_compression", true},
    {"middle_with_trailing_space", "GL_A GL_ARB_texture_compression GL_B ", true},
    {"longer_name_is_not_a_match", "GL_ARB_texture_compression_bptc GL_ARB_texture_compression_rgtc", false},
    {"prefixed_name_is_not_a_match", "XGL_ARB_texture_compression", false},
    {"longer_then_exact_is_a_match", "GL_ARB_texture_compression_bptc GL_ARB_texture_compression", true},
    {"empty_list", "", false},
};

class ExtensionList : public ::testing::TestWithParam<ListRow> {};

TEST_P(ExtensionList, FlagSetOnlyForTheWholeWord) {
  const ListRow& row = GetParam();
  EXPECT_EQ(ExtensionListHas(row.list, "GL_ARB_texture_compression"), row.has);
  RecordingGl gl;
  gl.extensions = row.list;
  ASSERT_TRUE(gl.Install().empty());
  EXPECT_EQ(GL_ARB_texture_compression, row.has);
  EXPECT_TRUE(gl.Calls("glGetStringi").empty()) << "the whole list was there";
}

INSTANTIATE_TEST_SUITE_P(Lists, ExtensionList, ::testing::ValuesIn(kLists),
                         [](const auto& info) { return std::string(info.param.name); });

struct IndexedRow {
  const char* name;
  std::vector<std::string> extensions;
  bool has;
};

void PrintTo(const IndexedRow& row, std::ostream* os) { *os << row.name; }

class IndexedExtensions : public ::testing::TestWithParam<IndexedRow> {};

TEST_P(IndexedExtensions, NullListFallsBackToGetStringi) {
  RecordingGl gl;
  gl.extensions.reset();
  gl.indexedExtensions = GetParam().extensions;
  ASSERT_TRUE(gl.Install().empty());
  EXPECT_EQ(GL_ARB_texture_compression, GetParam().has);
  EXPECT_FALSE(gl.Calls("glGetStringi").empty() && !GetParam().extensions.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Indexed, IndexedExtensions,
    ::testing::Values(IndexedRow{"exact_entry", {"GL_EXT_bgra", "GL_ARB_texture_compression"}, true},
                      IndexedRow{"longer_entry_only", {"GL_ARB_texture_compression_bptc"}, false},
                      IndexedRow{"entry_with_trailing_space", {"GL_ARB_texture_compression "}, false},
                      IndexedRow{"no_entries", {}, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GlApi, missing_entry_point_is_reported_by_name_and_table_left_empty) {
  RecordingGl gl;
  gl.missing = {"glGenVertexArrays", "glDrawElements"};
  const std::vector<std::string> missing = gl.Install();
  EXPECT_EQ(missing, (std::vector<std::string>{"glGenVertexArrays", "glDrawElements"}));
  EXPECT_FALSE(GlApiReady());
  EXPECT_FALSE(GL_ARB_texture_compression);
#define VELMORA_EXPECT_NULL(ret, fn, params) EXPECT_EQ(reinterpret_cast<void*>(Gl.fn), nullptr) << "gl" #fn;
  VELMORA_GL_FUNCTIONS(VELMORA_EXPECT_NULL)
  VELMORA_GL_OPTIONAL_FUNCTIONS(VELMORA_EXPECT_NULL)
#undef VELMORA_EXPECT_NULL
  EXPECT_TRUE(gl.calls.empty()) << "called through a table that was not complete:\n" << gl.Trace();
}

TEST(GlApi, missing_compressed_upload_leaves_the_flag_off) {
  RecordingGl gl;
  gl.missing = {"glCompressedTexImage2DARB"};
  EXPECT_TRUE(gl.Install().empty());
  EXPECT_TRUE(GlApiReady());
  EXPECT_FALSE(GL_ARB_texture_compression);
}

TEST(GlApi, complete_table_calls_the_lookup_result) {
  RecordingGl gl;
  ASSERT_TRUE(gl.Install().empty());
  ASSERT_TRUE(GlApiReady());
  Gl.Viewport(1, 2, 3, 4);
  ASSERT_FALSE(gl.Calls("glViewport").empty());
  EXPECT_EQ(gl.Calls("glViewport")[0].args, (std::vector<std::int64_t>{1, 2, 3, 4}));
  ResetGlApi();
  EXPECT_FALSE(GlApiReady());
  EXPECT_EQ(reinterpret_cast<void*>(Gl.Viewport), nullptr);
}

}  // namespace
}  // namespace velmora::test
