#pragma once
// Where a window may open: wholly on one screen, its window manager's frame
// included.
#include <QMargins>
#include <QRect>
#include <QSize>

namespace tovix {

// The geometry (without frame) that puts a window of this geometry, with a
// frame of these margins, wholly inside area: moved as little as needed,
// and shrunk, not below minimum, when it is larger than area.
QRect fittedOnScreen(QRect geometry, const QMargins& frame, const QRect& area, const QSize& minimum);

}  // namespace tovix
