// Bringing a remembered window place onto the screen.
#include "ui/ScreenPlace.h"

#include <algorithm>

namespace velmora {

QRect PlaceOnScreen(const QRect& frame, const QRect& available) {
  if (available.isEmpty() || frame.isEmpty()) return frame;
  QRect placed(frame.topLeft(),
               QSize(std::min(frame.width(), available.width()), std::min(frame.height(), available.height())));
  // Once it is no larger than the area, a left or top edge within [area start, area end - size]
  // keeps it inside.
  placed.moveLeft(std::clamp(placed.left(), available.left(), available.right() + 1 - placed.width()));
  placed.moveTop(std::clamp(placed.top(), available.top(), available.bottom() + 1 - placed.height()));
  return placed;
}

}  // namespace velmora
