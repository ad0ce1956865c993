#pragma once
#include <QString>

namespace tovix::desktop {

// Shows the file (or folder) selected in the desktop's file manager
// (FileManager1 over D-Bus), falling back to opening its folder with the
// desktop's default handler. False when nothing could show it.
bool revealInFileManager(const QString& path);

// Opens a web address in the user's browser.
bool openWebAddress(const QString& url);

// Whether the desktop asks applications for a light look: the portal's
// org.freedesktop.appearance color-scheme setting is 2 ("prefer light").
// False when it prefers dark, has no preference or there is no portal.
bool prefersLightColors();

}  // namespace tovix::desktop
