#pragma once
class QApplication;

namespace tovix {
// Tovix's look: Qt's Fusion style with a dark palette and a few accents.
void applyTheme(QApplication& application);
}  // namespace tovix
