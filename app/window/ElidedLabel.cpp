#include "app/window/ElidedLabel.h"

#include <QResizeEvent>

namespace tovix {

void ElidedLabel::setFullText(const QString& text, const QString& toolTip) {
  fullText_ = text;
  setToolTip(toolTip);
  setAccessibleDescription(toolTip);
  elide();
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  elide();
}

void ElidedLabel::elide() { setText(fontMetrics().elidedText(fullText_, Qt::ElideMiddle, std::max(width(), 40))); }

}  // namespace tovix
