#pragma once
// The application's central object: it holds the windows, the queue and log
// stores, the preferences, the helper process and the queue runner's state,
// all for the life of the process. Its operations live in one source file
// per concern, named in the comments below. Everything runs on the GUI thread.
#include "app/HelperSupervisor.h"
#include "app/Preferences.h"
#include "app/Queue.h"
#include "app/QueueLog.h"
#include "platform/NotificationCenter.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QMainWindow;
class QProgressBar;
class QPushButton;
class QTableView;

namespace Ui {
class MainWindow;
}

namespace tovix {

class LogTableModel;
class QueueTableModel;

// The refusal logged for an interface framework older than required, or
// nullopt when the version is new enough. version is the framework's version
// number; only its whole part counts.
std::optional<QString> minimumSystemRefusal(double version);

// The version number of the running interface framework: Qt's version as
// major * 1000 + minor * 10 + patch (6.4.2 gives 6042).
double interfaceFrameworkVersion();

class Controller : public QObject {
  Q_OBJECT
 public:
  Controller(NotificationCenter& notificationCenter, std::unique_ptr<HelperSupervisor> helperTask,
             QObject* parent = nullptr);
  ~Controller() override;

  // --- ControllerStartup.cpp: start-up, fade-in and shut-down ---
  // Start-up steps 1 to 5: flags, observers, stale flag files.
  void init();
  // Steps 6 to 19: window, preferences, system check, helper, stores,
  // tables, first-run defaults. False when start-up must end with status 1.
  bool awakeFromNib();
  void fadeinMainWindow();
  // The main window closes: quit flag when a run has had no completion yet,
  // abort, one second, terminate the helper, end with status 0.
  void windowWillClose(QObject* window);
  bool fadeFinished() const { return fadeFinished_; }
  int fadeTicks() const { return fadeTicks_; }

  // --- ControllerRunner.cpp: the queue runner ---
  void startQ();
  void stopQ();
  void qHandler();                        // a start
  void qHandler(const UserInfo& error);   // "TovixExportError"
  void qHandlerNextEntry();
  bool qHandlerFindExportRequest(int i);
  void qHandlerCompletionReceived(const UserInfo& userInfo);
  void qHandlerExportProgress(const UserInfo& userInfo);
  bool qRunning() const { return qRunning_; }
  void updateqRunning(bool running) { qRunning_ = running; }
  bool abortQHandler() const { return abortQHandler_; }
  void updateabortQHandler(bool abort) { abortQHandler_ = abort; }
  bool sendQuitAtEnd() const { return sendQuitAtEnd_; }
  const QString& showInFinderPath() const { return showInFinderPath_; }

  // --- ControllerHelper.cpp: the helper process ---
  // Posts a request now when the helper listens, else once it does.
  void postExportRequest(const QVariantMap& request);
  void onHelperReady();
  void onHelperLost();
  void onHelperUnavailable(const QString& reason);

  // End-of-run effects, replaceable by tests.
  std::function<void()> playFinishedSound;
  std::function<void()> requestAttention;

  // Stores and windows, for the rest of the application and its tests.
  Queue* q() const { return q_.get(); }
  QueueLog* qLog() const { return qLog_.get(); }
  Preferences& prefs() { return prefs_; }
  QMainWindow* controllerWindow() const { return controllerWindow_; }
  QTableView* qTable() const;
  QProgressBar* exportProgress() const;
  QLabel* currentExportLabel() const;
  QLabel* currentExportFilename() const;
  QPushButton* showInFinderButton() const;
  QLabel* helperMessage() const;
  void reloadQueueTable();
  void reloadLogTable();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void removeStaleFlagFiles();
  void hideExportWidgets();
  void endRun();
  std::optional<QString> exportDirectoryForRequest() const;

  // Start-up.
  NotificationCenter& notificationCenter_;
  Preferences prefs_;
  std::unique_ptr<HelperSupervisor> helperTask_;
  QMainWindow* controllerWindow_ = nullptr;
  std::unique_ptr<Ui::MainWindow> mainUi_;
  QTimer fadeInTimer_;
  float fadeLevel_ = 0.0f;  // the opacity last set; may exceed 1.0 as the fade ends
  int fadeTicks_ = 0;
  bool fadeFinished_ = false;
  bool shuttingDown_ = false;
  bool previewIsPlaying_ = false;

  // Stores and table models.
  std::unique_ptr<Queue> q_;
  std::unique_ptr<QueueLog> qLog_;
  QueueTableModel* queueModel_ = nullptr;
  LogTableModel* logModel_ = nullptr;

  // Queue runner: qRunning_ means a request is outstanding.
  bool qRunning_ = false;
  bool abortQHandler_ = false;
  bool sendQuitAtEnd_ = false;
  QString showInFinderPath_;

  // Helper: the request the runner waits on, and whether it reached a helper.
  std::optional<QVariantMap> outstandingRequest_;
  bool requestDelivered_ = false;
};

}  // namespace tovix
