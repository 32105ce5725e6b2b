// Fuzz target: the bytes of one "(listfile)" stored in a scratch archive, ingested by
// LoadListFile into FileIndex with AddNode as its hook, into the real tree control; then the
// tree is sorted and cleared as the window does.
//
// Checked against a plain model of the rules, written here line by line: the index holds one
// key per distinct trimmed, upper-cased line; the hook sees each new key once, first line
// first; the tree holds one file node per such key with a ".BLP" extension and one folder per
// distinct chain of directory components, each file under the folders its own path names;
// every level sorted, folders first; a second ingestion of the same archive adds nothing; the
// clear leaves nothing behind.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "archive/PathParts.h"
#include "archive/Zanth.h"
#include "fuzz/FuzzArchive.h"
#include "ui/FileTree.h"
#include "ui/TreeModel.h"

using namespace velmora;

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_listfile: %s\n", what);
  std::abort();
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 0x20) s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 0x20) s.remove_suffix(1);
  return s;
}

// The lines of a listfile: cut at the first NUL, split at CR, LF or CR LF, no empty line after
// a final break.
std::vector<std::string_view> Lines(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  std::vector<std::string_view> lines;
  std::size_t begin = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.push_back(text.substr(begin, i - begin));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    begin = i + 1;
  }
  if (begin < text.size()) lines.push_back(text.substr(begin));
  return lines;
}

bool IsBlp(std::string_view path) {
  const std::size_t sep = path.find_last_of("\\:");
  const std::string_view name = sep == std::string_view::npos ? path : path.substr(sep + 1);
  const std::size_t dot = name.rfind('.');
  return dot != std::string_view::npos && Upper(name.substr(dot)) == ".BLP";
}

struct TModel {
  std::vector<std::string> newPaths;      // what the hook must see, in order
  std::size_t keys = 0;                   // distinct keys
  std::size_t files = 0;                  // file nodes
  std::deque<std::string> dirs;           // upper-cased directories the chains point into
  std::unordered_set<std::string_view> folders;  // each folder as its upper-cased chain "A\B\C"
};

TModel Expect(std::string_view text) {
  TModel m;
  std::unordered_set<std::string> seen;
  for (std::string_view line : Lines(text)) {
    const std::string_view t = Trim(line);
    if (!seen.insert(Upper(t)).second) continue;
    m.newPaths.emplace_back(t);
    if (!IsBlp(t)) continue;
    ++m.files;
    // Folder chains: the directory split at every backslash; empty components are folders too.
    const std::string& dir = m.dirs.emplace_back(Upper(DirectoryPart(t)));
    if (dir.empty()) continue;
    for (std::size_t end = dir.find('\\');; end = dir.find('\\', end + 1)) {
      m.folders.insert(std::string_view(dir).substr(0, end));
      if (end == std::string::npos) break;
    }
  }
  m.keys = seen.size();
  return m;
}

// Walks the tree without recursion: parent links and rows, the sort order of every level, each
// file under the folder chain its path names, and the totals of the model.
void CheckTree(const TTreeModel& tree, const TModel& m) {
  std::size_t files = 0;
  std::size_t folders = 0;
  struct Frame {
    const TVirtualNode* owner;  // null: the top level
    std::size_t next;
    std::size_t chainSize;      // length of `chain` at this level
  };
  std::string chain;  // upper-cased folder names from the top, joined by '\'
  std::vector<Frame> stack{{nullptr, 0, 0}};
  while (!stack.empty()) {
    Frame& f = stack.back();
    const std::size_t count = f.owner ? f.owner->ChildCount() : tree.TopLevelCount();
    if (f.next == count) {
      stack.pop_back();
      continue;
    }
    const std::size_t row = f.next++;
    const TVirtualNode* node = f.owner ? f.owner->Child(row) : tree.TopLevelNode(row);
    if (node == nullptr || node->parent != f.owner || node->index != row) Fail("node links");
    if (row > 0) {
      const TVirtualNode* prev = f.owner ? f.owner->Child(row - 1) : tree.TopLevelNode(row - 1);
      // Folders first; within each kind the upper-cased names by byte value, a prefix first.
      if (prev->data.isFile > node->data.isFile) Fail("file before folder");
      if (prev->data.isFile == node->data.isFile && prev->data.name > node->data.name) Fail("level not sorted");
    }
    const TNodeData& d = node->data;
    // The chain keeps the owner's path up to f.chainSize whatever deeper levels wrote after it.
    chain.resize(f.chainSize);
    if (d.isFile) {
      ++files;
      if (d.children || node->ChildCount() != 0) Fail("file node with children");
      if (d.name != Upper(FileNamePart(d.fullName))) Fail("file name");
      const std::string dir = Upper(DirectoryPart(d.fullName));
      if (dir != chain || dir.empty() != (f.owner == nullptr)) Fail("file under the wrong folders");
      if (!FileIndex->Contains(Upper(d.fullName))) Fail("file node without index entry");
      continue;
    }
    ++folders;
    if (!d.children || !d.fullName.empty()) Fail("folder node data");
    if (d.name != Upper(d.name)) Fail("folder name not upper-cased");
    if (f.owner) chain += '\\';
    chain += d.name;
    if (m.folders.count(chain) == 0) Fail("folder that no path names");
    stack.push_back(Frame{node, 0, chain.size()});
  }
  if (files != m.files) Fail("file node count");
  if (folders != m.folders.size()) Fail("folder node count");
  if (tree.NodeCount() != files + folders) Fail("node count");
}

struct TState {
  fuzz::TScratchArchive archive{"listfile"};
  TTreeModel tree{FileTreeEvents()};
  std::vector<std::string> seen;  // the hook's calls
};

TState& State() {
  static TState* state = [] {
    CreateArchiveIndex();
    auto* s = new TState;
    CreateRootNodes(s->tree);
    return s;
  }();
  return *state;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TState& s = State();
  const std::string text(reinterpret_cast<const char*>(data), size);
  const MpqHandle h = s.archive.Open({}, text);

  s.seen.clear();
  const auto hook = [&s](std::string_view path) {
    s.seen.emplace_back(path);
    AddNode(path);
  };
  s.tree.BeginUpdate();
  if (!LoadListFile(h, hook)) Fail("listfile not found");
  const std::size_t nodes = s.tree.NodeCount();
  const std::size_t keys = FileIndex->Count();
  // The same archive listed twice: nothing new reaches the tree or the index.
  if (!LoadListFile(h, hook)) Fail("listfile not found the second time");
  if (s.tree.NodeCount() != nodes || FileIndex->Count() != keys) Fail("second ingestion added");
  s.tree.SortTree(0, Qt::AscendingOrder);
  s.tree.EndUpdate();

  const TModel m = Expect(text);
  if (keys != m.keys) Fail("index key count");
  if (s.seen != m.newPaths) Fail("hook calls");
  CheckTree(s.tree, m);

  ClearFileList();
  if (s.tree.NodeCount() != 0 || s.tree.TopLevelCount() != 0 || FileIndex->Count() != 0 || RootNodes->Count() != 0) {
    Fail("clear left something");
  }
  s.archive.Close();
  return 0;
}
