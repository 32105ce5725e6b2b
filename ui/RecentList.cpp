// The recent list and its place in the user's settings.
#include "ui/RecentList.h"

#include <QFileInfo>
#include <QSettings>

#include <algorithm>

#include "base/Escape.h"

namespace velmora {

namespace {

QSettings UserSettings() { return QSettings(QStringLiteral("VelmoraGL"), QStringLiteral("VelmoraGL")); }

const char* KindKey(TRecentEntry::TKind kind) {
  switch (kind) {
    case TRecentEntry::TKind::kArchives: return "archives";
    case TRecentEntry::TKind::kBlpFiles: return "files";
    case TRecentEntry::TKind::kGameFolder: break;
  }
  return "game";
}

QString Shown(const QString& text) {
  const std::string escaped = EscapeName(text.toUtf8().toStdString());
  return QString::fromUtf8(escaped.data(), static_cast<qsizetype>(escaped.size())).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

}  // namespace

void TRecentList::Add(const TRecentEntry& entry) {
  if (entry.paths.isEmpty()) return;
  entries_.erase(std::remove(entries_.begin(), entries_.end(), entry), entries_.end());
  entries_.insert(entries_.begin(), entry);
  if (entries_.size() > kMaxEntries) entries_.resize(kMaxEntries);
}

TRecentList TRecentList::Load() {
  QSettings s = UserSettings();
  TRecentList list;
  const int count = s.beginReadArray(QStringLiteral("recent"));
  for (int i = 0; i < count && list.entries_.size() < kMaxEntries; ++i) {
    s.setArrayIndex(i);
    const QString kind = s.value(QStringLiteral("kind")).toString();
    TRecentEntry entry;
    entry.paths = s.value(QStringLiteral("paths")).toStringList();
    bool known = false;
    for (const auto k : {TRecentEntry::TKind::kGameFolder, TRecentEntry::TKind::kArchives, TRecentEntry::TKind::kBlpFiles}) {
      if (kind == QLatin1String(KindKey(k))) {
        entry.kind = k;
        known = true;
      }
    }
    if (known && !entry.paths.isEmpty()) list.entries_.push_back(entry);
  }
  s.endArray();
  return list;
}

void TRecentList::Save() const {
  QSettings s = UserSettings();
  s.remove(QStringLiteral("recent"));
  s.beginWriteArray(QStringLiteral("recent"), static_cast<int>(entries_.size()));
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    s.setArrayIndex(static_cast<int>(i));
    s.setValue(QStringLiteral("kind"), QLatin1String(KindKey(entries_[i].kind)));
    s.setValue(QStringLiteral("paths"), entries_[i].paths);
  }
  s.endArray();
}

QString RecentEntryText(const TRecentEntry& entry) {
  if (entry.paths.isEmpty()) return {};
  if (entry.kind == TRecentEntry::TKind::kGameFolder) return QStringLiteral("Game folder ") + Shown(entry.paths.front());
  // The file names; their folders are in the tooltip.
  constexpr int kNamed = 3;
  QStringList names;
  for (int i = 0; i < entry.paths.size() && i < kNamed; ++i) names << Shown(QFileInfo(entry.paths[i]).fileName());
  QString text = names.join(QStringLiteral(", "));
  if (entry.paths.size() > kNamed) text += QStringLiteral(" and %1 more").arg(entry.paths.size() - kNamed);
  return entry.kind == TRecentEntry::TKind::kArchives ? QStringLiteral("Archives ") + text : text;
}

}  // namespace velmora
