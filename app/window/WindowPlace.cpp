#include "app/window/WindowPlace.h"

#include <algorithm>

namespace tovix {

QRect fittedOnScreen(QRect geometry, const QMargins& frame, const QRect& area, const QSize& minimum) {
  const int roomWidth = area.width() - frame.left() - frame.right();
  const int roomHeight = area.height() - frame.top() - frame.bottom();
  geometry.setWidth(std::max(std::min(geometry.width(), roomWidth), minimum.width()));
  geometry.setHeight(std::max(std::min(geometry.height(), roomHeight), minimum.height()));
  // The frame's top-left corner, kept between the area's top-left corner and
  // the last place where the whole frame still fits; the title bar wins
  // when even the minimum does not fit.
  const QRect framed = geometry.marginsAdded(frame);
  const int x = std::max(area.left(), std::min(framed.left(), area.right() + 1 - framed.width()));
  const int y = std::max(area.top(), std::min(framed.top(), area.bottom() + 1 - framed.height()));
  geometry.moveTopLeft(QPoint(x + frame.left(), y + frame.top()));
  return geometry;
}

QPoint besideWindow(const QRect& window, const QSize& panel, const QRect& area) {
  // Top-aligned beside, left-aligned below; kept inside the area along the edge.
  const int top = std::clamp(window.top(), area.top(), std::max(area.top(), area.bottom() + 1 - panel.height()));
  const int left = std::clamp(window.left(), area.left(), std::max(area.left(), area.right() + 1 - panel.width()));
  for (const QPoint corner : {QPoint(window.right() + 1, top), QPoint(left, window.bottom() + 1),
                              QPoint(window.left() - panel.width(), top)}) {
    if (area.contains(QRect(corner, panel))) return corner;
  }
  return QPoint(area.right() + 1 - panel.width(), area.bottom() + 1 - panel.height());
}

}  // namespace tovix
