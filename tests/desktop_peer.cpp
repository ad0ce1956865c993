// A stand-in for the desktop's session services on a private bus: the
// notification server, the portal's Inhibit, the screen saver, and a task
// bar listening for launcher entries. Each call it receives is printed as one
// line on standard output. Arguments leave services out: --no-notifications,
// --no-portal, --no-screensaver; --invoke-action answers every notification
// with its "show" action, as a click would; --color-scheme=N is the portal's
// appearance setting (1 dark, 2 light); --announce-scheme=N announces, half a
// second after start, that the setting became N, after two announcements a
// listener must ignore (another key, a value that is no number).
#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>
#include <cstdio>

namespace {

void say(const QString& line) {
  std::printf("%s\n", line.toUtf8().constData());
  std::fflush(stdout);
}

QString describe(const QVariantMap& map) {
  QStringList items;
  for (auto it = map.cbegin(); it != map.cend(); ++it) items << it.key() + "=" + it.value().toString();
  return items.join(',');
}

class Notifications : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
 public:
  bool invokeAction = false;
 public slots:
  uint Notify(const QString& app, uint, const QString& icon, const QString& summary, const QString& body,
              const QStringList& actions, const QVariantMap& hints, int) {
    say(QString("Notify %1|%2|%3|%4|%5|%6").arg(app, icon, summary, body, actions.join(','), describe(hints)));
    const uint id = ++last_;
    if (invokeAction)
      QTimer::singleShot(50, this, [id] {
        QDBusMessage signal = QDBusMessage::createSignal("/org/freedesktop/Notifications",
                                                         "org.freedesktop.Notifications", "ActionInvoked");
        signal << id << QString("show");
        QDBusConnection::sessionBus().send(signal);
      });
    return id;
  }
 private:
  uint last_ = 40;
};

class Request : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Request")
 public slots:
  void Close() { say("Request.Close"); }
};

// The portal's two interfaces at its one path, as adaptors of one object.
class PortalInhibit : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Inhibit")
 public:
  explicit PortalInhibit(QObject* parent) : QDBusAbstractAdaptor(parent) {}
 public slots:
  QDBusObjectPath Inhibit(const QString& window, uint flags, const QVariantMap& options) {
    say(QString("Portal.Inhibit %1|%2|%3").arg(window).arg(flags).arg(describe(options)));
    const QString handle = "/org/freedesktop/portal/desktop/request/1/t" + QString::number(++count_);
    QDBusConnection::sessionBus().registerObject(handle, new Request, QDBusConnection::ExportAllSlots);
    return QDBusObjectPath(handle);
  }
 private:
  int count_ = 0;
};

class PortalSettings : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
 public:
  PortalSettings(QObject* parent, uint colorScheme) : QDBusAbstractAdaptor(parent), colorScheme_(colorScheme) {}
 public slots:
  QDBusVariant Read(const QString& nameSpace, const QString& key) {
    say(QString("Settings.Read %1|%2").arg(nameSpace, key));
    return QDBusVariant(QVariant::fromValue(QDBusVariant(colorScheme_)));
  }
 private:
  uint colorScheme_;
};

class ScreenSaver : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
 public slots:
  uint Inhibit(const QString& app, const QString& reason) {
    say(QString("ScreenSaver.Inhibit %1|%2").arg(app, reason));
    return 77;
  }
  void UnInhibit(uint cookie) { say(QString("ScreenSaver.UnInhibit %1").arg(cookie)); }
};

class TaskBar : public QObject {
  Q_OBJECT
 public slots:
  void update(const QString& app, const QVariantMap& properties) {
    say(QString("LauncherEntry %1|%2").arg(app, describe(properties)));
  }
};

bool serve(const QString& name, const QString& path, QObject* object,
           QDBusConnection::RegisterOptions how = QDBusConnection::ExportAllSlots) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  return bus.registerObject(path, object, how) && bus.registerService(name);
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication application(argc, argv);
  const QStringList options = application.arguments();
  Notifications notifications;
  notifications.invokeAction = options.contains("--invoke-action");
  QObject portal;
  new PortalInhibit(&portal);
  uint colorScheme = 0;
  for (const QString& option : options)
    if (option.startsWith("--color-scheme=")) colorScheme = option.mid(15).toUInt();
  new PortalSettings(&portal, colorScheme);
  ScreenSaver screenSaver;
  TaskBar taskBar;
  QDBusConnection::sessionBus().connect(QString(), QString(), "com.canonical.Unity.LauncherEntry", "Update",
                                        &taskBar, SLOT(update(QString, QVariantMap)));
  if (!options.contains("--no-notifications"))
    serve("org.freedesktop.Notifications", "/org/freedesktop/Notifications", &notifications);
  if (!options.contains("--no-portal"))
    serve("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", &portal,
          QDBusConnection::ExportAdaptors);
  if (!options.contains("--no-screensaver"))
    serve("org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", &screenSaver);
  QDBusConnection::sessionBus().registerService("org.tovix.DesktopPeer");
  for (const QString& option : options) {
    if (!option.startsWith("--announce-scheme=")) continue;
    const uint announced = option.mid(18).toUInt();
    QTimer::singleShot(500, [announced] {
      const auto announce = [](const QString& key, const QVariant& value) {
        QDBusMessage signal = QDBusMessage::createSignal("/org/freedesktop/portal/desktop",
                                                         "org.freedesktop.portal.Settings", "SettingChanged");
        signal << QString("org.freedesktop.appearance") << key << QVariant::fromValue(QDBusVariant(value));
        QDBusConnection::sessionBus().send(signal);
      };
      announce("accent-color", QVariant::fromValue(2u));
      announce("color-scheme", QString("light"));
      announce("color-scheme", QVariant::fromValue(announced));
    });
  }
  return application.exec();
}

#include "desktop_peer.moc"
