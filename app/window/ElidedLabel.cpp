#include "app/window/ElidedLabel.h"

#include <QResizeEvent>
#include <algorithm>

namespace tovix {

void ElidedLabel::setFullText(const QString& text, const QString& toolTip) {
  fullText_ = text;
  setToolTip(toolTip);
  setAccessibleDescription(toolTip);
  elide();
  updateGeometry();
}

QSize ElidedLabel::sizeHint() const {
  const QMargins margins = contentsMargins();
  return {fontMetrics().horizontalAdvance(fullText_) + margins.left() + margins.right() + 2 * margin(),
          QLabel::sizeHint().height()};
}

QSize ElidedLabel::minimumSizeHint() const {
  constexpr int kFewCharacters = 6;
  return {std::min(sizeHint().width(), fontMetrics().averageCharWidth() * kFewCharacters),
          QLabel::minimumSizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  elide();
}

void ElidedLabel::elide() { setText(fontMetrics().elidedText(fullText_, Qt::ElideMiddle, std::max(width(), 40))); }

}  // namespace tovix
