// The status bar's look: panels whose text shows whole at the bar's fixed 19-pixel height with
// whatever font the system gives.
#pragma once

#include <QString>

#include <array>

class QLabel;

namespace velmora {

// The longest header line panel 0 has to show whole: the widest digits of a texture the game
// ships, with a has_mips of 17 as real files carry.
QString WidestHeaderText();

// Fits the panels' text to the bar: a line taller than a panel's inside is raised until its
// descent fits, giving up only the font's spare room above its tallest letters, so that letters,
// descenders and underscores all show in the 14 rows the bar leaves a panel; and when panel 0
// cannot show WidestHeaderText, the panels' font is narrowed (stretched below 100%) until it can.
// Font height, frames and the text itself stay as they are.
void FitStatusPanels(const std::array<QLabel*, 3>& panels);

}  // namespace velmora
