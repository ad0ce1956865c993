#pragma once
// A one-line label that shortens its text in the middle to the width it has;
// its tool tip, also told to assistive tools, can say more.
#include <QLabel>

namespace tovix {

class ElidedLabel : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;
  void setFullText(const QString& text, const QString& toolTip);
  const QString& fullText() const { return fullText_; }
  // The layout is asked for room for the whole text, and may give as little
  // as a few characters: what it gives is filled, shortened in the middle.
  // (Measured from the shortened text, a label set while hidden would ask
  // for nothing and get nothing once shown again.)
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void elide();
  QString fullText_;
};

}  // namespace tovix
