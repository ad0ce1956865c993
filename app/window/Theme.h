#pragma once
class QApplication;

namespace tovix {

// Tovix's look: Qt's Fusion style with a dark palette and a few accents, or
// a light palette when the desktop prefers light colours. Both keep every
// control's border and state at least 3:1 against what lies behind it.
void applyTheme(QApplication& application, bool light);

// Whether the light look is in use.
bool lightThemeInUse();

}  // namespace tovix
