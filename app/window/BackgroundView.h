#pragma once
// A dark backdrop with slightly rounded corners, shaded from dark grey at the
// bottom edge to black at the top, painted behind other controls.
#include <QWidget>

namespace tovix {

class BackgroundView : public QWidget {
  Q_OBJECT
 public:
  using QWidget::QWidget;
  // Repaints the whole view, whatever part was asked for.
  void drawRect(const QRect& ignored);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace tovix
