#include "app/window/Theme.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>

namespace tovix {
namespace {

constexpr const char* kLightProperty = "tovixLightTheme";

struct Scheme {
  QColor window, base, alternateBase, text, mutedText, disabledText, button, tooltip, accent;
  QColor border;         // control outlines: at least 3:1 against base and window
  QColor toolbarTop, toolbarBottom, rule, header, headerText, trough;
  QColor warning, problem;  // the window's notices: at least 4.5:1 on window
};

// Contrast against base (#1b1e24): border 5.3:1, accent 3.5:1, text 14:1.
const Scheme kDark{{0x24, 0x27, 0x2e}, {0x1b, 0x1e, 0x24}, {0x21, 0x25, 0x2c}, {0xe8, 0xea, 0xef},
                   {0xaa, 0xb1, 0xbf}, {0x70, 0x76, 0x82}, {0x33, 0x37, 0x40}, {0x30, 0x34, 0x3c},
                   {0x2f, 0x6f, 0xdf}, {0x8b, 0x93, 0xa3}, {0x3a, 0x3f, 0x49}, {0x2a, 0x2e, 0x35},
                   {0x15, 0x17, 0x1b}, {0x26, 0x2a, 0x32}, {0xaa, 0xb1, 0xbf}, {0x2a, 0x2e, 0x36},
                   {0xff, 0xd1, 0x80}, {0xff, 0x8a, 0x80}};
// Contrast against base (#ffffff): border 4.8:1, accent 5.9:1, text 16:1;
// disabled text 3.7:1, and 3.4:1 on the shaded rows (#f5f6f8).
const Scheme kLight{{0xee, 0xf0, 0xf3}, {0xff, 0xff, 0xff}, {0xf5, 0xf6, 0xf8}, {0x1d, 0x20, 0x26},
                    {0x4b, 0x52, 0x5e}, {0x80, 0x86, 0x8f}, {0xf7, 0xf8, 0xfa}, {0xff, 0xff, 0xf0},
                    {0x1f, 0x5f, 0xcf}, {0x6b, 0x72, 0x80}, {0xf7, 0xf8, 0xfa}, {0xe3, 0xe6, 0xeb},
                    {0xb4, 0xb9, 0xc2}, {0xe9, 0xec, 0xf0}, {0x3c, 0x43, 0x4e}, {0xd5, 0xd9, 0xe0},
                    {0x8a, 0x5a, 0x00}, {0xb3, 0x26, 0x1e}};

// Fusion's check boxes are outlined a shade off their background; these are
// drawn with the scheme's border, and filled with its accent when ticked.
class TovixStyle : public QProxyStyle {
 public:
  TovixStyle(const Scheme& scheme) : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))), scheme_(scheme) {}

  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
    if (element != PE_IndicatorCheckBox && element != PE_IndicatorItemViewItemCheck) {
      QProxyStyle::drawPrimitive(element, option, painter, widget);
      return;
    }
    const bool on = option->state & State_On;
    const bool enabled = option->state & State_Enabled;
    const QRectF box = QRectF(option->rect).adjusted(1.5, 1.5, -1.5, -1.5);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QColor edge = enabled ? (on ? scheme_.accent : scheme_.border) : scheme_.disabledText;
    // On a selected row the accent fill would melt into the highlight: outline it.
    const bool onHighlight = on && enabled && (option->state & State_Selected);
    painter->setPen(QPen(onHighlight ? QColor(Qt::white) : edge, 1.5));
    painter->setBrush(on ? edge : scheme_.base);
    painter->drawRoundedRect(box, 3, 3);
    if (on) {
      QPainterPath tick;
      tick.moveTo(box.left() + box.width() * 0.22, box.top() + box.height() * 0.52);
      tick.lineTo(box.left() + box.width() * 0.42, box.top() + box.height() * 0.72);
      tick.lineTo(box.left() + box.width() * 0.78, box.top() + box.height() * 0.30);
      painter->setPen(QPen(enabled ? QColor(Qt::white) : scheme_.base, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      painter->setBrush(Qt::NoBrush);
      painter->drawPath(tick);
    }
    painter->restore();
  }

 private:
  const Scheme& scheme_;
};

QPalette paletteOf(const Scheme& s) {
  QPalette palette;
  palette.setColor(QPalette::Window, s.window);
  palette.setColor(QPalette::WindowText, s.text);
  palette.setColor(QPalette::Base, s.base);
  palette.setColor(QPalette::AlternateBase, s.alternateBase);
  palette.setColor(QPalette::Text, s.text);
  palette.setColor(QPalette::Button, s.button);
  palette.setColor(QPalette::ButtonText, s.text);
  palette.setColor(QPalette::ToolTipBase, s.tooltip);
  palette.setColor(QPalette::ToolTipText, s.text);
  palette.setColor(QPalette::Highlight, s.accent);
  palette.setColor(QPalette::HighlightedText, Qt::white);
  // Hints and placeholders are read, not only seen: the muted text colour
  // keeps them at 4.5:1 or more.
  palette.setColor(QPalette::PlaceholderText, s.mutedText);
  palette.setColor(QPalette::Mid, s.border);
  palette.setColor(QPalette::Disabled, QPalette::Text, s.disabledText);
  palette.setColor(QPalette::Disabled, QPalette::WindowText, s.disabledText);
  palette.setColor(QPalette::Disabled, QPalette::ButtonText, s.disabledText);
  return palette;
}

QString styleSheetOf(const Scheme& s) {
  return QStringLiteral(
             "QToolBar { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %1, stop:1 %2);"
             " border: none; border-bottom: 1px solid %3; spacing: 4px; padding: 4px 8px; }"
             "QToolButton { color: %4; padding: 3px 6px; border-radius: 6px; }"
             "QToolButton:hover { background: rgba(128,128,128,0.16); }"
             "QToolButton:checked { background: rgba(128,128,128,0.26); }"
             "QTableView { border: 1px solid %5; border-radius: 6px; gridline-color: transparent; }"
             "QHeaderView::section { background: %6; color: %7; border: none;"
             " border-bottom: 1px solid %3; padding: 5px 8px; font-weight: 600; }"
             "QProgressBar { background: %8; border: 1px solid %5; border-radius: 5px; max-height: 10px; }"
             "QProgressBar::chunk { border-radius: 4px; background: %9; }")
             .arg(s.toolbarTop.name(), s.toolbarBottom.name(), s.rule.name(), s.text.name(), s.border.name(),
                  s.header.name(), s.headerText.name(), s.trough.name(), s.accent.name()) +
         QStringLiteral("QLabel#storeMessage { color: %1; font-weight: 600; }"
                        "QLabel#helperMessage { color: %2; font-weight: 600; }")
             .arg(s.warning.name(), s.problem.name());
}

}  // namespace

void applyTheme(QApplication& application, bool light) {
  const Scheme& scheme = light ? kLight : kDark;
  application.setStyle(new TovixStyle(scheme));
  application.setPalette(paletteOf(scheme));
  application.setStyleSheet(styleSheetOf(scheme));
  application.setProperty(kLightProperty, light);
}

bool lightThemeInUse() { return qApp && qApp->property(kLightProperty).toBool(); }

}  // namespace tovix
