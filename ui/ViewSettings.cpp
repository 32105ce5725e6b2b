// Reading and writing the remembered window and view settings.
#include "ui/ViewSettings.h"

#include <QSettings>
#include <QString>

namespace velmora {

namespace {

QSettings UserSettings() { return QSettings(QStringLiteral("VelmoraGL"), QStringLiteral("VelmoraGL")); }

template <class TEnum, class TKey>
std::optional<TEnum> FromKey(const QString& text, int count, TKey key) {
  for (int i = 0; i < count; ++i) {
    const auto value = static_cast<TEnum>(i);
    if (text == QLatin1String(key(value))) return value;
  }
  return std::nullopt;  // absent, or written by something else: the default stays
}

}  // namespace

const char* BackgroundKey(TBackground background) {
  switch (background) {
    case TBackground::kChecker: return "checker";
    case TBackground::kBlack: return "black";
    case TBackground::kWhite: return "white";
    case TBackground::kWindow: break;
  }
  return "window";
}

const char* ChannelKey(TChannel channel) {
  switch (channel) {
    case TChannel::kRgb: return "rgb";
    case TChannel::kRed: return "red";
    case TChannel::kGreen: return "green";
    case TChannel::kBlue: return "blue";
    case TChannel::kAlpha: return "alpha";
    case TChannel::kRgba: break;
  }
  return "rgba";
}

TRememberedView LoadRememberedView() {
  const QSettings s = UserSettings();
  TRememberedView view;
  view.geometry = s.value(QStringLiteral("window/geometry")).toByteArray();
  view.splitter = s.value(QStringLiteral("window/splitter")).toByteArray();
  view.background = FromKey<TBackground>(s.value(QStringLiteral("view/background")).toString(), kBackgroundCount,
                                         BackgroundKey);
  return view;
}

void SaveRememberedView(const TRememberedView& view) {
  QSettings s = UserSettings();
  s.setValue(QStringLiteral("window/geometry"), view.geometry);
  s.setValue(QStringLiteral("window/splitter"), view.splitter);
  if (view.background) s.setValue(QStringLiteral("view/background"), QLatin1String(BackgroundKey(*view.background)));
  // A channel written by an earlier version is dropped, not restored.
  s.remove(QStringLiteral("view/channel"));
}

QString LoadSaveFolder() { return UserSettings().value(QStringLiteral("export/saveFolder")).toString(); }

void StoreSaveFolder(const QString& folder) {
  QSettings s = UserSettings();
  s.setValue(QStringLiteral("export/saveFolder"), folder);
}

bool LoadInfoPanelOpen() { return UserSettings().value(QStringLiteral("window/fileInfo"), false).toBool(); }

void StoreInfoPanelOpen(bool open) {
  QSettings s = UserSettings();
  s.setValue(QStringLiteral("window/fileInfo"), open);
}

}  // namespace velmora
