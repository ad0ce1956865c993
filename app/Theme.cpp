#include "app/Theme.h"

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>

namespace tovix {

void applyTheme(QApplication& application) {
  application.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QPalette palette;
  const QColor window(0x24, 0x27, 0x2e), base(0x1b, 0x1e, 0x24), text(0xe8, 0xea, 0xef);
  const QColor accent(0x2f, 0x6f, 0xdf);
  palette.setColor(QPalette::Window, window);
  palette.setColor(QPalette::WindowText, text);
  palette.setColor(QPalette::Base, base);
  palette.setColor(QPalette::AlternateBase, QColor(0x21, 0x25, 0x2c));
  palette.setColor(QPalette::Text, text);
  palette.setColor(QPalette::Button, QColor(0x33, 0x37, 0x40));
  palette.setColor(QPalette::ButtonText, text);
  palette.setColor(QPalette::ToolTipBase, QColor(0x30, 0x34, 0x3c));
  palette.setColor(QPalette::ToolTipText, text);
  palette.setColor(QPalette::Highlight, accent);
  palette.setColor(QPalette::HighlightedText, Qt::white);
  palette.setColor(QPalette::PlaceholderText, QColor(0x80, 0x87, 0x94));
  palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0x70, 0x76, 0x82));
  palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x70, 0x76, 0x82));
  palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x70, 0x76, 0x82));
  application.setPalette(palette);
  application.setStyleSheet(QStringLiteral(
      "QToolBar { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #3a3f49, stop:1 #2a2e35);"
      " border: none; border-bottom: 1px solid #15171b; spacing: 4px; padding: 4px 8px; }"
      "QToolButton { color: #e8eaef; padding: 3px 6px; border-radius: 6px; }"
      "QToolButton:hover { background: rgba(255,255,255,0.08); }"
      "QToolButton:checked { background: rgba(255,255,255,0.14); }"
      "QTableView { border: 1px solid #2d323b; border-radius: 6px; gridline-color: transparent; }"
      "QHeaderView::section { background: #262a32; color: #aab1bf; border: none;"
      " border-bottom: 1px solid #15171b; padding: 5px 8px; font-weight: 600; }"
      "QProgressBar { background: #2a2e36; border: none; border-radius: 5px; max-height: 10px; }"
      "QProgressBar::chunk { border-radius: 5px; background: qlineargradient(x1:0, y1:0, x2:1, y2:0,"
      " stop:0 #59adff, stop:1 #2f6fdf); }"));
}

}  // namespace tovix
