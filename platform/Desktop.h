#pragma once
#include <QString>

namespace tovix::desktop {

// Shows the file selected in the desktop's file manager (FileManager1 over
// D-Bus), falling back to opening its folder.
void revealInFileManager(const QString& path);

// Opens a web address in the user's browser.
bool openWebAddress(const QString& url);

}  // namespace tovix::desktop
