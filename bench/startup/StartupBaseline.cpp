// The straightforward startup path, for comparison.
#include "bench/startup/StartupBaseline.h"

#include <algorithm>

#include "archive/PathParts.h"
#include "archive/Zanth.h"
#include "base/Lines.h"

namespace velmora::bench {

void TBaselineStartup::LoadListFile(std::uintptr_t mpqh) {
  // The listfile's bytes come from the archive reader, as the index's do.
  TArchiveReader& reader = TArchiveReader::Instance();
  const TArchiveReader::TFileOpen open = reader.OpenFile(mpqh, "(listfile)");
  if (open.handle == 0) return;
  const TArchiveFileHandle file(open.handle);
  std::string text(static_cast<std::uint32_t>(open.size), '\0');
  const TArchiveReader::TRead read =
      reader.Read(file.Get(), 0, static_cast<std::uint32_t>(text.size()), text.data());
  text.resize(read.read);

  ForEachLine(text, [&](std::size_t begin, std::size_t end) {
    const std::string_view line(text.data() + begin, end - begin);
    const std::string_view trimmed = TrimBlanks(line);
    std::string key = UpperAscii(trimmed);
    TBaselineRecord rec{mpqh, std::string(DirectoryPart(key)), std::string(line)};
    const bool isNew = index_.insert_or_assign(std::move(key), std::move(rec)).second;
    if (isNew) AddNode(trimmed);
  });
}

void TBaselineStartup::AddNode(std::string_view fname) {
  if (UpperAscii(ExtensionPart(fname)) != ".BLP") return;
  const std::string file = UpperAscii(FileNamePart(fname));
  const std::string folderPath = UpperAscii(DirectoryPart(fname));
  TBaselineNode* parent = &root_;
  if (!folderPath.empty()) {
    std::size_t begin = 0;
    for (;;) {
      const std::size_t end = std::min(folderPath.find('\\', begin), folderPath.size());
      std::string c = folderPath.substr(begin, end - begin);
      auto it = parent->children.find(c);
      TBaselineNode* node = nullptr;
      if (it != parent->children.end() && !it->second->isFile) {
        node = it->second;
      } else {
        auto owned = std::make_unique<TBaselineNode>();
        node = owned.get();
        node->name = c;
        parent->childNodes.push_back(std::move(owned));
        parent->children[std::move(c)] = node;
        ++nodes_;
      }
      parent = node;
      if (end == folderPath.size()) break;
      begin = end + 1;
    }
  }
  auto owned = std::make_unique<TBaselineNode>();
  owned->isFile = 1;
  owned->name = file;
  owned->fullName = std::string(fname);
  parent->children[file] = owned.get();
  parent->childNodes.push_back(std::move(owned));
  ++nodes_;
}

void TBaselineStartup::SortTree() {
  std::vector<TBaselineNode*> stack{&root_};
  while (!stack.empty()) {
    TBaselineNode* node = stack.back();
    stack.pop_back();
    std::stable_sort(node->childNodes.begin(), node->childNodes.end(), [](const auto& a, const auto& b) {
      if (a->isFile != b->isFile) return a->isFile < b->isFile;
      return std::lexicographical_compare(a->name.begin(), a->name.end(), b->name.begin(), b->name.end(),
                                          [](char x, char y) {
                                            return static_cast<unsigned char>(UpperAsciiChar(x)) <
                                                   static_cast<unsigned char>(UpperAsciiChar(y));
                                          });
    });
    for (auto& child : node->childNodes) {
      if (!child->isFile) stack.push_back(child.get());
    }
  }
}

void TBaselineStartup::Clear() {
  root_.children.clear();
  root_.childNodes.clear();  // folders are at most a few levels deep here
  index_.clear();
  nodes_ = 0;
}

}  // namespace velmora::bench
