#include "app/Controller.h"

#include "app/window/Dialogs.h"
#include "app/update/SoftwareUpdater.h"
#include "app/window/TableAccessible.h"
#include "app/window/TableModels.h"
#include "platform/Desktop.h"
#include "ui_AboutPanel.h"
#include "ui_GeneralPrefs.h"
#include "ui_InfoPanel.h"
#include "ui_LogWindow.h"
#include "ui_MainWindow.h"
#include "ui_PreviewPanel.h"
#include "ui_UpdatePrefs.h"

#include <QApplication>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QAudioOutput>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QShortcut>
#include <QMainWindow>
#include <QToolButton>

// The icons and the chime live in a static library; make sure the linker
// keeps them. Q_INIT_RESOURCE must be used outside any namespace.
static void initializeResources() { Q_INIT_RESOURCE(tovix); }

namespace tovix {

namespace {

// How often rows that files brought in are shown while a batch is tested.
constexpr int kIntakeReloadMs = 150;

// Plays the end-of-run chime compiled into the program; nothing without a
// sound device.
void playChime() {
  static QMediaPlayer* player = nullptr;
  static QAudioOutput* output = nullptr;
  if (!player) {
    player = new QMediaPlayer(qApp);
    output = new QAudioOutput(player);
    player->setSourceDevice(new QFile(QStringLiteral(":/sounds/Finished.aiff"), player),
                            QUrl(QStringLiteral("qrc:/sounds/Finished.aiff")));
  }
  if (!Controller::attachAudioIfPresent(player, output)) return;
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
      logUi_(std::make_unique<Ui::LogWindow>()),
      generalUi_(std::make_unique<Ui::GeneralPrefs>()),
      updateUi_(std::make_unique<Ui::UpdatePrefs>()),
      previewUi_(std::make_unique<Ui::PreviewPanel>()),
      infoUi_(std::make_unique<Ui::InfoPanel>()),
      aboutUi_(std::make_unique<Ui::AboutPanel>()),
      dialogs_(std::make_unique<Dialogs>()),
      queueModel_(new QueueTableModel(this)),
      logModel_(new LogTableModel(this)),
      intake_(new MovieIntake(this)) {
  initializeResources();
  // Playback goes through Qt's FFmpeg backend, which Tovix needs anyway; the
  // GStreamer backend crashes where its plugins are missing.
  if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND")) qputenv("QT_MEDIA_BACKEND", "ffmpeg");
  installTableAccessibility();
  mainUi_->setupUi(controllerWindow_);
  buildWindows();
  intakeMessage_ = new QLabel(controllerWindow_);
  intakeMessage_->setAccessibleName(tr("Adding movies"));
  intakeMessage_->hide();
  mainUi_->mainLayout->insertWidget(mainUi_->mainLayout->indexOf(mainUi_->helperMessage) + 1, intakeMessage_);
  connect(intake_, &MovieIntake::batchTested, this, &Controller::queueTested);
  intakeReload_.setSingleShot(true);
  intakeReload_.setInterval(kIntakeReloadMs);
  connect(&intakeReload_, &QTimer::timeout, this, &Controller::reloadQueueTable);
  connect(&infoFormats_, &QFutureWatcherBase::finished, this, &Controller::showTrackFormats);
  connect(intake_, &MovieIntake::finished, this, [this] {
    intakeReload_.stop();
    reloadQueueTable();
    showIntakeProgress();
  });
  playFinishedSound = playChime;
  endProcess = [](int status) { QCoreApplication::exit(status); };
  updateBaseAddress_ = QLatin1String(SoftwareUpdater::kVendorBaseAddress);
  revealFile = [this](const QString& path) {
    if (!desktop::revealInFileManager(path))
      dialogs_->inform(controllerWindow_, tr("Neither a file manager nor any other program could show the folder."),
                       QFileInfo(path).absolutePath());
  };
  requestAttention = [this] { QApplication::alert(controllerWindow_); };
  connect(helperTask_.get(), &HelperSupervisor::ready, this, &Controller::onHelperReady);
  connect(helperTask_.get(), &HelperSupervisor::lost, this, &Controller::onHelperLost);
  connect(helperTask_.get(), &HelperSupervisor::unavailable, this, &Controller::onHelperUnavailable);
  setDesktopSession(std::make_unique<DesktopSession>(QStringLiteral("org.tovix.Tovix")));
  runState_ = new RunState(this);
  queueModel_->setRunState(runState_);
  connect(runState_, &RunState::changed, this, &Controller::showRunStatus);
}

Controller::~Controller() { delete controllerWindow_; }

namespace {

// A window of its own that belongs to the main window; Escape and Ctrl+W
// close it, as they close panels everywhere.
template <typename Window>
Window* ownedWindow(QWidget* owner, Qt::WindowFlags kind = Qt::Window) {
  auto* window = new Window(owner);
  window->setWindowFlags(kind);
  for (const QKeySequence& keys : {QKeySequence(Qt::Key_Escape), QKeySequence(QObject::tr("Ctrl+W"))}) {
    auto* shortcut = new QShortcut(keys, window);
    QObject::connect(shortcut, &QShortcut::activated, window, &QWidget::close);
  }
  return window;
}
}  // namespace

void Controller::buildWindows() {
  logWindow_ = ownedWindow<QMainWindow>(controllerWindow_);
  logUi_->setupUi(logWindow_);
  QTableView* log = logUi_->logTable;
  log->setModel(logModel_);
  log->setWordWrap(false);
  log->setTextElideMode(Qt::ElideMiddle);
  fitColumns(log, {1});
  log->verticalHeader()->hide();
  log->verticalHeader()->setDefaultSectionSize(26);

  prefsWindow_ = ownedWindow<QMainWindow>(controllerWindow_);
  prefsWindow_->setWindowTitle(tr("Preferences"));
  activePrefContentView_ = new QWidget(prefsWindow_);
  prefsWindow_->setCentralWidget(activePrefContentView_);
  generalPrefView_ = new QWidget(activePrefContentView_);
  generalUi_->setupUi(generalPrefView_);
  generalPrefView_->hide();
  updatePrefView_ = new QWidget(activePrefContentView_);
  updateUi_->setupUi(updatePrefView_);
  updatePrefView_->hide();
  connectPreferenceControls();

  previewPanel_ = ownedWindow<QWidget>(controllerWindow_, Qt::Tool);
  previewUi_->setupUi(previewPanel_);
  player_ = new QMediaPlayer(this);
  audio_ = new QAudioOutput(this);
  player_->setVideoOutput(previewUi_->movieView);
  previewUi_->previewPlayButton->setIcon(QIcon(QStringLiteral(":/images/HUD_Play.png")));
  previewUi_->previewPlayButton->setProperty("imageName", QStringLiteral("HUD_Play.png"));
  previewUi_->volumeMuted->setIcon(QIcon(QStringLiteral(":/images/hud_speaker.png")));
  previewUi_->volumeMuted->setProperty("imageName", QStringLiteral("hud_speaker.png"));
  connect(previewUi_->previewPlayButton, &QToolButton::clicked, this, &Controller::previewToggle);
  connect(player_, &QMediaPlayer::playbackStateChanged, this,
          [this](QMediaPlayer::PlaybackState state) { showPlaybackState(state == QMediaPlayer::PlayingState); });
  connect(previewUi_->volumeMuted, &QToolButton::clicked, this, &Controller::volumeToggle);
  connectSeekBar();
  previewPanel_->installEventFilter(this);

  infoWindow_ = ownedWindow<QWidget>(controllerWindow_, Qt::Tool);
  infoUi_->setupUi(infoWindow_);
  aboutPanel_ = ownedWindow<QWidget>(controllerWindow_, Qt::Dialog);
  aboutUi_->setupUi(aboutPanel_);
  // The same form as --version.
  aboutUi_->appVersion->setText(tr("Version %1").arg(QLatin1String(TOVIX_VERSION)));

  controllerWindow_->setWindowIcon(QIcon(QStringLiteral(":/images/tovix.png")));
  connect(showInFinderButton(), &QPushButton::clicked, this, &Controller::showInFinder);
  connect(updateUi_->checkNowButton, &QPushButton::clicked, this, &Controller::checkSoftwareUpdate);
  connect(queueModel_, &QueueTableModel::toggleRequested, this, [this](int row, protocol::Target target) {
    // The keyboard stays on the box it ticked; only that row's box changes,
    // and a row outside the selection becomes the selection.
    const int column = QueueTableModel::columnIdentifiers().indexOf(QLatin1String(protocol::info(target).typeKey));
    const auto chosen = selectedRows();
    if (std::find(chosen.begin(), chosen.end(), row) == chosen.end()) selectRows({row}, column);
    qTable()->selectionModel()->setCurrentIndex(queueModel_->index(row, column), QItemSelectionModel::NoUpdate);
    if (q_) q_->toggle(row, target);
    reloadQueueTable();
  });
  connect(qTable(), &QTableView::clicked, this, [this](const QModelIndex& index) {
    if (QueueTableModel::columnIdentifiers().value(index.column()) != QLatin1String("QUEUE_REMOVE")) return;
    qTable()->selectRow(index.row());
    deleteFromQ();
  });
}

bool Controller::showOrHide(QWidget* window, bool makeKey) {
  if (window->isVisible()) {
    window->hide();
    return false;
  }
  placeWindow(window);
  window->show();
  window->raise();
  if (makeKey) window->activateWindow();
  return true;
}

void Controller::setDialogs(std::unique_ptr<Dialogs> dialogs) { dialogs_ = std::move(dialogs); }

void Controller::setDesktopSession(std::unique_ptr<DesktopSession> desktop) {
  desktop_ = std::move(desktop);
  desktop_->reveal = [this](const QString& path) {
    if (revealFile) revealFile(path);
  };
}

QTableView* Controller::logTable() const { return logUi_->logTable; }

QTableView* Controller::qTable() const { return mainUi_->qTable; }
QProgressBar* Controller::exportProgress() const { return mainUi_->exportProgress; }
QLabel* Controller::currentExportLabel() const { return mainUi_->currentExportLabel; }
ElidedLabel* Controller::currentExportFilename() const { return mainUi_->currentExportFilename; }
QPushButton* Controller::showInFinderButton() const { return mainUi_->showInFinderButton; }
QLabel* Controller::helperMessage() const { return mainUi_->helperMessage; }
QLabel* Controller::storeMessage() const { return mainUi_->storeMessage; }
QLabel* Controller::runStatus() const { return mainUi_->runStatus; }

void Controller::reloadQueueTable() {
  // A reload reads every row again; the user's selection stays where it
  // was, and so does the keyboard's cell (a Space on a check box reloads).
  const std::vector<int> rows = selectedRows();
  const QModelIndex current = qTable()->currentIndex();
  // Every change of the queue comes here: the last run's summary goes.
  runState_->forget();
  queueModel_->reload();
  selectRows(rows, std::max(0, current.column()));
  if (current.isValid() && current.row() < queueModel_->rowCount())
    qTable()->selectionModel()->setCurrentIndex(queueModel_->index(current.row(), current.column()),
                                                QItemSelectionModel::NoUpdate);
  if (emptyHint_) emptyHint_->setVisible(queueModel_->rowCount() == 0);
}
void Controller::reloadLogTable() {
  logModel_->reload();
  logTable()->scrollToBottom();  // the newest entry in view as it arrives
}

}  // namespace tovix
