// What the window remembers between runs, in the user's settings (QSettings, per user: on Linux
// ~/.config/VelmoraGL/VelmoraGL.conf): window size and place, the splitter, the view's background,
// the folder the last image was saved in, and whether the file information panel is open. Window,
// splitter and background are stored when the window closes, the panel as it opens or closes;
// without stored values the window keeps its first-start layout. The channel is not kept: a
// single channel carried into the next start makes an opaque texture look like an empty page.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

#include "render/ViewState.h"

namespace velmora {

struct TRememberedView {
  QByteArray geometry;  // QWidget::saveGeometry of the window; empty when none was stored
  QByteArray splitter;  // QSplitter::saveState; empty when none was stored
  std::optional<TBackground> background;
};

TRememberedView LoadRememberedView();
void SaveRememberedView(const TRememberedView& view);

// The folder the save dialog opened last; empty when none was stored.
QString LoadSaveFolder();
void StoreSaveFolder(const QString& folder);

// Whether the file information panel beside the view was open; false when nothing was stored.
bool LoadInfoPanelOpen();
void StoreInfoPanelOpen(bool open);

// The names the settings file uses ("window", "checker", ...; "rgba", "alpha", ...).
const char* BackgroundKey(TBackground background);
const char* ChannelKey(TChannel channel);

}  // namespace velmora
