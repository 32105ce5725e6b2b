// The File menu's "Recent": the last game folders, archive sets and BLP files the user opened,
// newest first, kept in the user's settings. A pure list with its reading and writing; the menu
// itself is ui/MainMenu.
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace velmora {

struct TRecentEntry {
  enum class TKind { kGameFolder, kArchives, kBlpFiles };
  TKind kind = TKind::kGameFolder;
  QStringList paths;  // one folder, or the files in the order they were opened

  bool operator==(const TRecentEntry&) const = default;
};

class TRecentList {
public:
  static constexpr std::size_t kMaxEntries = 8;

  // Puts `entry` first; an equal entry further down goes, and the oldest beyond kMaxEntries.
  // An entry without paths is not added.
  void Add(const TRecentEntry& entry);
  void Clear() { entries_.clear(); }
  const std::vector<TRecentEntry>& Entries() const { return entries_; }

  // The user's settings; entries of an unknown kind or without paths are skipped.
  static TRecentList Load();
  void Save() const;

private:
  std::vector<TRecentEntry> entries_;
};

// The menu text of an entry: "Game folder /games/wow", "Archives common.MPQ, patch.MPQ",
// "Mine.blp and 2 more"; control characters escaped, and '&' doubled so that it shows.
QString RecentEntryText(const TRecentEntry& entry);

}  // namespace velmora
