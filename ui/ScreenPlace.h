// Where a window with a remembered place goes on the screen it now has: a frame larger than the
// screen's free area shrinks to it, and one that lies partly or wholly off it moves back on.
#pragma once

#include <QRect>

namespace velmora {

// `frame` (the window with its border, in screen coordinates) brought within `available` (the
// screen's area outside panels and docks): its width and height at most the area's, then moved
// the least distance that puts it wholly inside. A frame already inside comes back unchanged.
QRect PlaceOnScreen(const QRect& frame, const QRect& available);

}  // namespace velmora
