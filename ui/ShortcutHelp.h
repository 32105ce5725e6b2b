// The F1 window: every keyboard shortcut of the main window in a short list, then what the mouse,
// Esc, right-clicks and drops do. It lists the actions the window holds (QWidget::actions()) that
// have a shortcut, in the order they were added, so an action another part of the window adds
// with addAction appears here by itself.
#pragma once

class QDialog;
class QWidget;

namespace velmora {

// Shows the list over `window`, made afresh from its actions; one list window at a time, which
// the window owns. Returns it (for tests).
QDialog* ShowShortcutHelp(QWidget& window);

}  // namespace velmora
