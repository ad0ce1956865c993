#pragma once
#include <QObject>
#include <QString>

class QDBusVariant;

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

// Tells when the portal's color-scheme setting changes while Tovix runs
// (its SettingChanged signal). Anything else the signal carries, or a value
// that is no number, is ignored.
class ColorSchemeWatcher : public QObject {
  Q_OBJECT
 public:
  explicit ColorSchemeWatcher(QObject* parent = nullptr);

 signals:
  // light: the desktop now prefers a light look.
  void preferenceChanged(bool light);

 private slots:
  void settingChanged(const QString& nameSpace, const QString& key, const QDBusVariant& value);
};

}  // namespace tovix::desktop
