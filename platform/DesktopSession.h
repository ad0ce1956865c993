#pragma once
// What the desktop is told about a run of exports: a notification when it
// ends, the computer kept from suspending while it lasts, and its progress on
// the task bar. Each goes to a session-bus service that may be missing; then
// nothing happens and nothing is reported as an error.
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

class QDBusPendingCallWatcher;

namespace tovix {

class DesktopSession : public QObject {
  Q_OBJECT
 public:
  // appId names the launcher entry ("org.tovix.Tovix").
  explicit DesktopSession(QString appId, QObject* parent = nullptr);
  ~DesktopSession() override;

  // A desktop notification; with revealPath it offers "Show in Folder", which
  // calls the reveal handler with that path.
  virtual void notify(const QString& summary, const QString& body, const std::optional<QString>& revealPath);
  // Keeps the computer awake through the desktop portal, else the screen
  // saver service, until release(). Calls in between do nothing.
  virtual void inhibitSuspend(const QString& reason);
  virtual void release();
  // The run's progress (0 to 1) on the task bar entry; nullopt clears it.
  virtual void setProgress(std::optional<double> fraction);

  std::function<void(const QString& path)> reveal;

 protected:
  DesktopSession() = default;  // for test doubles

 private slots:
  void onNotificationAction(uint id, const QString& action);

 private:
  enum class Inhibitor { None, Pending, Portal, ScreenSaver };
  void onInhibitReply(QDBusPendingCallWatcher* watcher, bool viaPortal, const QString& reason);
  void inhibitThroughScreenSaver(const QString& reason);
  void undoInhibit();

  QString appId_;
  Inhibitor inhibitor_ = Inhibitor::None;
  bool releaseWhenAnswered_ = false;
  QString portalHandle_;
  uint screenSaverCookie_ = 0;
  uint lastNotification_ = 0;
  std::optional<QString> lastRevealPath_;
  int lastProgressPermille_ = -1;
};

}  // namespace tovix
