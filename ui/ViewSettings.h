// What the window remembers between runs, in the user's settings (QSettings, per user: on Linux
// ~/.config/VelmoraGL/VelmoraGL.conf): window size and place, the splitter, the view's background
// and channel. Nothing is stored until the first window closes; without stored values the window
// keeps its first-start layout.
#pragma once

#include <QByteArray>

#include <optional>

#include "render/ViewState.h"

namespace velmora {

struct TRememberedView {
  QByteArray geometry;  // QWidget::saveGeometry of the window; empty when none was stored
  QByteArray splitter;  // QSplitter::saveState; empty when none was stored
  std::optional<TBackground> background;
  std::optional<TChannel> channel;
};

TRememberedView LoadRememberedView();
void SaveRememberedView(const TRememberedView& view);

// The names the settings file uses ("window", "checker", ...; "rgba", "alpha", ...).
const char* BackgroundKey(TBackground background);
const char* ChannelKey(TChannel channel);

}  // namespace velmora
