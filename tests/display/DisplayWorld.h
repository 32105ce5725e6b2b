// What the display tests share: a scratch game install (Wine prefix, archives, "mpqToLoad.txt",
// the shader files in the working directory, a log), the window's tree driven by mouse and
// keyboard, message boxes closed as they come, and the screen read back under the view.
#pragma once

#include <QApplication>
#include <QColor>
#include <QPalette>
#include <QModelIndex>
#include <QRect>
#include <QStringList>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/ImageCompare.h"
#include "support/MpqWriter.h"
#include "support/TestData.h"
#include "WindowWorld.h"

namespace velmora {
class TForm1;
}

namespace velmora::test {

// True when the test main found an X display to run the window on.
bool HaveDisplay();

// A game install for one window: a Wine prefix whose registry names C:\Games\WoW\, one archive
// Data\display.MPQ, a working directory with "mpqToLoad.txt" and the shader files, and a log
// directory, and a settings folder with nothing remembered. Sets WINEPREFIX and the working
// directory while alive.
class TDisplayWorld : public TScratchWorld {
public:
  // The archive holds `members`, listed by `listfile` (by default their names, one per line);
  // `shaders` are the files of the project's shader/ copied into the working directory.
  TDisplayWorld(const std::vector<MpqMember>& members, const std::string& listfile = {},
                const std::vector<std::string>& shaders = {"vertex.glsl", "fragment.glsl"});
};

// Distinct red, green and blue, so that a swapped channel shows.
inline const QColor kFace(201, 187, 173);

// The application's button colour (the window background and the view's clear colour) for the
// life of a test.
class TButtonFace {
public:
  TButtonFace() : old_(QApplication::palette()) {
    QPalette p = old_;
    p.setColor(QPalette::Button, kFace);
    QApplication::setPalette(p);
  }
  ~TButtonFace() { QApplication::setPalette(old_); }

private:
  QPalette old_;
};

// Runs events for `ms`.
void Settle(int ms = 100);

// The tree node at `path` (upper-case names from the top level down); invalid when absent.
QModelIndex FindNode(const TForm1& form, const QStringList& path);
// Opens the node's folders, brings it into view and clicks it with the left button.
void ClickNode(TForm1& form, const QModelIndex& index);
void ClickNode(TForm1& form, const QStringList& path);

// The screen's pixels in `globalRect` now (alpha 255).
RgbaImage GrabScreen(const QRect& globalRect);
// The part of `image` at `rect`.
RgbaImage Crop(const RgbaImage& image, const QRect& rect);
// `texture` blended over `background` as GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA does, opaque.
RgbaImage BlendedOver(const RgbaImage& texture, const QColor& background);

// The part of the drawing panel that the scroll box shows, in the panel's own coordinates.
QRect VisiblePanelRect();
// Waits until the visible part of the panel shows the matching part of `picture` (the whole
// panel's expected pixels), within `tolerance`; the result says where and what differs.
::testing::AssertionResult PanelShows(const RgbaImage& picture, int tolerance = 0, int ms = 5000);
// Waits until `globalRect` on screen is all `colour`.
::testing::AssertionResult ScreenShows(const QRect& globalRect, const QColor& colour, int ms = 5000);

}  // namespace velmora::test
