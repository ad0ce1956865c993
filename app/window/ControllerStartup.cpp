// Start-up, the fade-in of the main window, and the orderly end when the main
// window closes.
#include "app/Controller.h"
#include "app/update/SystemCheck.h"

#include "app/window/Dialogs.h"
#include "app/window/TableModels.h"
#include "app/window/WindowPlace.h"
#include "platform/Paths.h"
#include "platform/SystemLog.h"
#include "protocol/Protocol.h"
#include "ui_MainWindow.h"

#include <QCloseEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QItemSelectionModel>
#include <QMenu>
#include <QMimeData>
#include <QTableView>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QToolBar>
#include <QHeaderView>
#include <QLabel>
#include <QMainWindow>
#include <QThread>
#include <cmath>

namespace tovix {

namespace {

constexpr int kFadeIntervalMs = 50;
constexpr double kFadeStep = 0.05;
constexpr double kFadeEnd = 1.1;

}  // namespace

void Controller::init() {
  dataFolderNotice_ = paths::moveLegacyDataFolder();
  previewIsPlaying_ = false;
  sendQuitAtEnd_ = false;
  updateqRunning(false);
  updateabortQHandler(false);
  notificationCenter_.observe(QLatin1String(protocol::kExportProgress),
                              [this](const UserInfo& info, const QString& sender) { qHandlerExportProgress(info, sender); });
  notificationCenter_.observe(QLatin1String(protocol::kExportComplete),
                              [this](const UserInfo& info, const QString& sender) { qHandlerCompletionReceived(info, sender); });
  notificationCenter_.observe(QLatin1String(protocol::kExportError),
                              [this](const UserInfo& info, const QString& sender) { qHandler(info, sender); });
  removeStaleFlagFiles();
}

void Controller::removeStaleFlagFiles() {
  for (const QString& path : {protocol::stopFlagPath(), protocol::quitFlagPath()}) {
    if (QFile::exists(path)) QFile::remove(path);
  }
}

bool Controller::awakeFromNib() {
  controllerWindow_->setWindowOpacity(0.0);
  fadeLevel_ = 0.0f;
  connect(&fadeInTimer_, &QTimer::timeout, this, &Controller::fadeinMainWindow, Qt::UniqueConnection);
  fadeInTimer_.start(kFadeIntervalMs);
  infoWindow_->setAutoFillBackground(true);
  QPalette black = infoWindow_->palette();
  black.setColor(QPalette::Window, Qt::black);
  infoWindow_->setPalette(black);
  if (const auto refusal = minimumSystemRefusal(interfaceFrameworkVersion())) {
    systemLog(*refusal);
    return false;
  }
  helperTask_->start();
  buildMainToolbar();
  buildMenus();
  q_ = Queue::init(prefs_);
  if (!q_) {
    systemLog(QStringLiteral("Unable to initialize queue object, exiting."));
    return false;
  }
  qLog_ = QueueLog::init();
  if (dataFolderNotice_) showStoreNotice(*dataFolderNotice_);
  tellOfUnusedDataFolder();
  showStoreNotice(q_->store().unreadableNotice());
  q_->store().setSaveObserver(saveObserver());
  if (qLog_) {
    qLog_->setSaveObserver(saveObserver());
    // A long log arrives after the window is up.
    qLog_->setLoadedObserver([this] {
      showStoreNotice(qLog_->unreadableNotice());
      reloadLogTable();
    });
    if (qLog_->loaded()) showStoreNotice(qLog_->unreadableNotice());
  }
  queueModel_->setQueue(q_.get());
  setUpTables();
  buildPrefsToolbar();
  prefs_.storeFirstRunDefaults();
  buildLogToolbar();
  hideExportWidgets();
  controllerWindow_->installEventFilter(this);
  // Never narrower than the toolbar's items.
  controllerWindow_->setMinimumWidth(std::max(controllerWindow_->minimumWidth(), toolbar_->sizeHint().width()));
  restoreWindowPlaces();
  showCommandStates();
  controllerWindow_->show();
  return true;
}

void Controller::fadeinMainWindow() {
  const float next = static_cast<float>(static_cast<double>(fadeLevel_) + kFadeStep);
  if (next >= kFadeEnd) {
    fadeInTimer_.stop();
    fadeFinished_ = true;
    controllerWindow_->setWindowOpacity(1.0);
    controllerWindow_->raise();
    controllerWindow_->activateWindow();
    return;
  }
  fadeLevel_ = next;
  controllerWindow_->setWindowOpacity(std::min(1.0, static_cast<double>(next)));
}

bool Controller::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::Close:
      if (watched == controllerWindow_ && !shuttingDown_ && !confirmQuit()) {
        event->ignore();
        return true;
      }
      windowWillClose(watched);
      break;
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::DragLeave:
    case QEvent::Drop:
      return dragOntoQueue(event);
    case QEvent::Resize:
      if (watched == qTable()->viewport()) emptyHint_->setGeometry(qTable()->viewport()->rect());
      break;
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

// Quitting mid-export stops the export: the user says so first.
bool Controller::confirmQuit() {
  if (!outstanding_ || quitWithoutAsking_) return true;
  const AlertSpec alert{tr("A movie is being converted. Quitting stops the export; next time it goes on from "
                           "where it is."),
                        tr("Quit and stop the export"), tr("Cancel"), true};
  return dialogs_->runAlert(controllerWindow_, alert) == 0;
}

void Controller::quitWithoutAsking() {
  quitWithoutAsking_ = true;
  controllerWindow_->close();
}

void Controller::windowWillClose(QObject* window) {
  if (window == previewPanel_) {
    previewPause();
    return;
  }
  if (window != controllerWindow_ || shuttingDown_) return;
  shuttingDown_ = true;
  emit closing();
  saveWindowPlaces();
  // The export under way ends with the window; the log says how.
  if (outstanding_ && qLog_) {
    const auto movie = protocol::stringValue(outstanding_->request, protocol::QUEUE_ENTRY_MOVIE_PATH_KEY);
    qLog_->write(logEntry(QDateTime::currentDateTime(), movie.value_or(QString()), QStringLiteral("Export cancelled.")));
  }
  if (sendQuitAtEnd_) {
    QFile flag(protocol::quitFlagPath());
    flag.open(QIODevice::WriteOnly);
  }
  notificationCenter_.post(QLatin1String(protocol::kExportAbort));
  desktop_->release();
  desktop_->setProgress(std::nullopt);
  QThread::sleep(1);
  helperTask_->terminate();
  endProcess(0);
}


std::function<void(bool)> Controller::saveObserver() {
  return [this](bool saved) {
    if (saved || saveFailureShown_) return;
    saveFailureShown_ = true;
    showStoreNotice(tr("Tovix could not save its queue or log (is the disk full or the folder read-only?). "
                       "Nothing is lost: Tovix keeps your changes and saves them at the next change."));
  };
}

// Said once for each such folder: the user may keep it on purpose.
void Controller::tellOfUnusedDataFolder() {
  constexpr const char* kToldKey = "UnusedDataFolderTold";
  const auto legacy = paths::unusedLegacyDataFolder();
  if (!legacy || prefs_.stringForKey(kToldKey) == *legacy) return;
  showStoreNotice(tr("Tovix keeps your queue and log in %1. The older folder %2 is not used; remove it when you no "
                     "longer need it.")
                      .arg(paths::applicationDataFolder(), *legacy));
  prefs_.setString(kToldKey, *legacy);
}

void Controller::showStoreNotice(const QString& notice) {
  if (notice.isEmpty()) return;
  QLabel* label = storeMessage();
  label->setText(label->text().isEmpty() ? notice : label->text() + u'\n' + notice);
  label->show();
}

}  // namespace tovix
