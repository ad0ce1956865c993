#include "app/window/BackgroundView.h"

#include "app/window/Theme.h"

#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

namespace tovix {

void BackgroundView::drawRect(const QRect&) {
  const QRectF bounds = rect();
  QPainterPath path;
  path.addRoundedRect(bounds, 1.0, 1.0);
  QLinearGradient gradient(bounds.bottomLeft(), bounds.topLeft());
  if (lightThemeInUse()) {
    // The same shading, turned to the light look's greys.
    gradient.setColorAt(0.0, QColor(0xf4, 0xf5, 0xf7));
    gradient.setColorAt(1.0, QColor(0xdc, 0xdf, 0xe4));
  } else {
    gradient.setColorAt(0.0, QColor::fromRgbF(1.0 / 3, 1.0 / 3, 1.0 / 3));
    gradient.setColorAt(1.0, Qt::black);
  }
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.fillPath(path, gradient);
}

void BackgroundView::paintEvent(QPaintEvent* event) { drawRect(event->rect()); }

}  // namespace tovix
