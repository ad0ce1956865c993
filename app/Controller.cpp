#include "app/Controller.h"

#include "app/TableModels.h"
#include "ui_MainWindow.h"

#include <QApplication>
#include <QMediaPlayer>
#include <QAudioOutput>
#include <QCoreApplication>
#include <QFileInfo>

namespace tovix {

namespace {

// Plays the end-of-run chime shipped beside the program; nothing when absent.
void playChime() {
  static QMediaPlayer* player = nullptr;
  if (!player) {
    player = new QMediaPlayer(qApp);
    player->setAudioOutput(new QAudioOutput(player));
    player->setSource(QUrl(QStringLiteral("qrc:/sounds/Finished.aiff")));
  }
  player->setPosition(0);
  player->play();
}

}  // namespace

Controller::Controller(NotificationCenter& notificationCenter,
                       std::unique_ptr<HelperSupervisor> helperTask, QObject* parent)
    : QObject(parent),
      notificationCenter_(notificationCenter),
      helperTask_(std::move(helperTask)),
      controllerWindow_(new QMainWindow),
      mainUi_(std::make_unique<Ui::MainWindow>()),
      queueModel_(new QueueTableModel(this)),
      logModel_(new LogTableModel(this)) {
  mainUi_->setupUi(controllerWindow_);
  playFinishedSound = playChime;
  requestAttention = [this] { QApplication::alert(controllerWindow_); };
  connect(helperTask_.get(), &HelperSupervisor::ready, this, &Controller::onHelperReady);
  connect(helperTask_.get(), &HelperSupervisor::lost, this, &Controller::onHelperLost);
  connect(helperTask_.get(), &HelperSupervisor::unavailable, this, &Controller::onHelperUnavailable);
}

Controller::~Controller() { delete controllerWindow_; }

QTableView* Controller::qTable() const { return mainUi_->qTable; }
QProgressBar* Controller::exportProgress() const { return mainUi_->exportProgress; }
QLabel* Controller::currentExportLabel() const { return mainUi_->currentExportLabel; }
QLabel* Controller::currentExportFilename() const { return mainUi_->currentExportFilename; }
QPushButton* Controller::showInFinderButton() const { return mainUi_->showInFinderButton; }
QLabel* Controller::helperMessage() const { return mainUi_->helperMessage; }

void Controller::reloadQueueTable() { queueModel_->reload(); }
void Controller::reloadLogTable() { logModel_->reload(); }

}  // namespace tovix
