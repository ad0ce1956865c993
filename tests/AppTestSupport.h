#pragma once
// Test doubles for the application: a notification centre that records what
// is posted and delivers what the test scripts, and a helper that is ready at
// once without any process.
#include "app/Controller.h"
#include "app/window/Dialogs.h"
#include "TestSupport.h"

#include <array>
#include <map>

namespace tovix::test {

// The unique bus name the fake helper's notifications come from.
inline const QString kFakeHelperName = QStringLiteral(":1.helper");

class FakeCenter : public NotificationCenter {
 public:
  bool post(const QString& name, const UserInfo& userInfo) const override {
    posted.push_back({name, userInfo});
    return true;
  }
  bool observe(const QString& name, Handler handler) override {
    handlers[name] = std::move(handler);
    return true;
  }
  // Delivers a notification to the observer registered for name, as sent by
  // sender (by default the fake helper).
  void deliver(const QString& name, const UserInfo& userInfo, const QString& sender = kFakeHelperName) {
    handlers.at(name)(userInfo, sender);
  }
  std::vector<QVariantMap> requests() const {
    std::vector<QVariantMap> found;
    for (const auto& [name, info] : posted)
      if (name == "TovixExportRequest" && info) found.push_back(*info);
    return found;
  }
  mutable std::vector<std::pair<QString, UserInfo>> posted;
  std::map<QString, Handler> handlers;
};

class FakeHelper : public HelperSupervisor {
 public:
  void start() override { ++starts; }
  void terminate() override { ++terminations; }
  void pause() override { paused = true; }
  void resume() override { paused = false; }
  bool paused = false;
  bool isReady() const override { return readyNow; }
  bool isRunning() const override { return true; }
  QString owner() const override { return readyNow ? kFakeHelperName : QString(); }
  bool readyNow = true;
  int starts = 0;
  int terminations = 0;
};

// Alerts and panels answered by the test: each call takes the next scripted
// answer and records what was asked.
class FakeDialogs : public Dialogs {
 public:
  int runAlert(QWidget*, const AlertSpec& alert) override {
    alerts.push_back(alert);
    return alertAnswer;
  }
  std::optional<QStringList> chooseFiles(QWidget*, const QStringList& extensions) override {
    offeredExtensions = extensions;
    return files;
  }
  std::optional<QString> chooseFolder(QWidget*) override { return folder; }
  void inform(QWidget*, const QString& text, const QString& details) override { messages.push_back({text, details}); }
  bool informShown() const override { return !messages.empty() && messageUp; }
  bool messageUp = true;  // whether the user has left the last message up
  std::vector<std::pair<QString, QString>> messages;
  std::vector<AlertSpec> alerts;
  int alertAnswer = 1;
  std::optional<QStringList> files;
  QStringList offeredExtensions;
  std::optional<QString> folder;
};

// Records what the desktop is told.
class FakeDesktop : public DesktopSession {
 public:
  void notify(const QString& summary, const QString& body, const std::optional<QString>& path) override {
    notifications.push_back({summary, body, path.value_or(QString())});
  }
  void inhibitSuspend(const QString&) override { inhibited = true; }
  void release() override { inhibited = false; }
  void setProgress(std::optional<double> fraction) override { progress.push_back(fraction); }
  std::vector<std::array<QString, 3>> notifications;
  bool inhibited = false;
  std::vector<std::optional<double>> progress;
};

// A Controller started with the fakes in a temporary home.
struct ControllerHarness {
  ControllerHarness();
  // Appends an entry with exactly these targets on.
  void add(const QString& path, std::initializer_list<protocol::Target> on);
  // Answers the latest request as the helper would, with result.
  void complete(const char* result = "Finished");
  QStringList logActions() const;

  TemporaryHome home;
  FakeCenter center;
  FakeHelper* helper;
  FakeDialogs* dialogs;
  FakeDesktop* desktop;
  std::unique_ptr<Controller> controller;
  int sounds = 0;
  int attentions = 0;
};

}  // namespace tovix::test
