#pragma once
// Where a window may open: wholly on one screen, its window manager's frame
// included.
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>

namespace tovix {

// The geometry (without frame) that puts a window of this geometry, with a
// frame of these margins, wholly inside area: moved as little as needed,
// and shrunk, not below minimum, when it is larger than area.
QRect fittedOnScreen(QRect geometry, const QMargins& frame, const QRect& area, const QSize& minimum);

// Where a panel of this framed size goes beside a window's frame so that it
// covers none of it: to its right, else below it, else to its left, else in
// the area's bottom-right corner, where it covers the least-used part.
QPoint besideWindow(const QRect& window, const QSize& panel, const QRect& area);

}  // namespace tovix
