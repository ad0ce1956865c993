#include "platform/DesktopSession.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace tovix {
namespace {

constexpr const char* kNotifications = "org.freedesktop.Notifications";
constexpr const char* kNotificationsPath = "/org/freedesktop/Notifications";
constexpr const char* kPortal = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kPortalInhibit = "org.freedesktop.portal.Inhibit";
constexpr const char* kScreenSaver = "org.freedesktop.ScreenSaver";
constexpr const char* kScreenSaverPath = "/org/freedesktop/ScreenSaver";
constexpr const char* kLauncherEntryPath = "/org/tovix/Tovix/LauncherEntry";
constexpr const char* kShowAction = "show";
// Suspend (4) and idle (8), the portal's flags.
constexpr uint kInhibitSuspendAndIdle = 4 | 8;

QDBusConnection bus() { return QDBusConnection::sessionBus(); }

}  // namespace

DesktopSession::DesktopSession(QString appId, QObject* parent) : QObject(parent), appId_(std::move(appId)) {
  bus().connect(QLatin1String(kNotifications), QLatin1String(kNotificationsPath), QLatin1String(kNotifications),
                QStringLiteral("ActionInvoked"), this, SLOT(onNotificationAction(uint, QString)));
}

DesktopSession::~DesktopSession() {
  if (appId_.isEmpty()) return;
  release();
  setProgress(std::nullopt);
}

void DesktopSession::notify(const QString& summary, const QString& body, const std::optional<QString>& revealPath) {
  QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(kNotifications), QLatin1String(kNotificationsPath),
                                                     QLatin1String(kNotifications), QStringLiteral("Notify"));
  const QStringList actions = revealPath ? QStringList{QLatin1String(kShowAction), tr("Show in Folder")} : QStringList();
  const QVariantMap hints{{QStringLiteral("desktop-entry"), appId_}};
  call << QStringLiteral("Tovix") << uint(0) << appId_ << summary << body << actions << hints << int(-1);
  auto* watcher = new QDBusPendingCallWatcher(bus().asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, revealPath] {
    watcher->deleteLater();
    const QDBusPendingReply<uint> reply = *watcher;
    if (reply.isError()) return;  // no notification service: nothing to tell
    lastNotification_ = reply.value();
    lastRevealPath_ = revealPath;
  });
}

void DesktopSession::onNotificationAction(uint id, const QString& action) {
  if (id != lastNotification_ || action != QLatin1String(kShowAction) || !lastRevealPath_ || !reveal) return;
  reveal(*lastRevealPath_);
}

void DesktopSession::inhibitSuspend(const QString& reason) {
  releaseWhenAnswered_ = false;
  if (inhibitor_ != Inhibitor::None) return;
  inhibitor_ = Inhibitor::Pending;
  QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(kPortal), QLatin1String(kPortalPath),
                                                     QLatin1String(kPortalInhibit), QStringLiteral("Inhibit"));
  call << QString() << kInhibitSuspendAndIdle << QVariantMap{{QStringLiteral("reason"), reason}};
  auto* watcher = new QDBusPendingCallWatcher(bus().asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, watcher, reason] { onInhibitReply(watcher, true, reason); });
}

void DesktopSession::inhibitThroughScreenSaver(const QString& reason) {
  QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(kScreenSaver), QLatin1String(kScreenSaverPath),
                                                     QLatin1String(kScreenSaver), QStringLiteral("Inhibit"));
  call << QStringLiteral("Tovix") << reason;
  auto* watcher = new QDBusPendingCallWatcher(bus().asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, watcher, reason] { onInhibitReply(watcher, false, reason); });
}

void DesktopSession::onInhibitReply(QDBusPendingCallWatcher* watcher, bool viaPortal, const QString& reason) {
  watcher->deleteLater();
  const QDBusMessage reply = watcher->reply();
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
    if (viaPortal && !releaseWhenAnswered_) {
      inhibitThroughScreenSaver(reason);
      return;
    }
    inhibitor_ = Inhibitor::None;  // no service: the run goes on as before
    return;
  }
  if (viaPortal) {
    inhibitor_ = Inhibitor::Portal;
    portalHandle_ = qvariant_cast<QDBusObjectPath>(reply.arguments().first()).path();
  } else {
    inhibitor_ = Inhibitor::ScreenSaver;
    screenSaverCookie_ = reply.arguments().first().toUInt();
  }
  if (releaseWhenAnswered_) undoInhibit();
}

void DesktopSession::release() {
  if (inhibitor_ == Inhibitor::Pending) {
    releaseWhenAnswered_ = true;
    return;
  }
  undoInhibit();
}

void DesktopSession::undoInhibit() {
  releaseWhenAnswered_ = false;
  if (inhibitor_ == Inhibitor::Portal) {
    bus().asyncCall(QDBusMessage::createMethodCall(QLatin1String(kPortal), portalHandle_,
                                                   QStringLiteral("org.freedesktop.portal.Request"),
                                                   QStringLiteral("Close")));
  } else if (inhibitor_ == Inhibitor::ScreenSaver) {
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(kScreenSaver), QLatin1String(kScreenSaverPath),
                                                       QLatin1String(kScreenSaver), QStringLiteral("UnInhibit"));
    call << screenSaverCookie_;
    bus().asyncCall(call);
  }
  inhibitor_ = Inhibitor::None;
}

void DesktopSession::setProgress(std::optional<double> fraction) {
  // Only a change the task bar can show is sent.
  const int permille = fraction ? int(std::clamp(*fraction, 0.0, 1.0) * 1000) : -1;
  if (permille == lastProgressPermille_) return;
  lastProgressPermille_ = permille;
  QDBusMessage update = QDBusMessage::createSignal(QLatin1String(kLauncherEntryPath),
                                                   QStringLiteral("com.canonical.Unity.LauncherEntry"),
                                                   QStringLiteral("Update"));
  const QVariantMap properties{{QStringLiteral("progress"), fraction.value_or(0.0)},
                               {QStringLiteral("progress-visible"), fraction.has_value()}};
  update << QStringLiteral("application://%1.desktop").arg(appId_) << properties;
  bus().send(update);
}

}  // namespace tovix
