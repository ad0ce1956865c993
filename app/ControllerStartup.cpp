// Start-up, the fade-in of the main window, and the orderly end when the main
// window closes.
#include "app/Controller.h"

#include "app/Dialogs.h"
#include "app/TableModels.h"
#include "app/WindowPlace.h"
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

std::optional<QString> minimumSystemRefusal(double version) {
  const double whole = std::floor(version);
  const std::pair<double, const char*> rows[] = {
      {577, "Running on Mac OS X 10.0"}, {620, "Running on Mac OS X 10.1"},
      {663, "Running on Mac OS X 10.2"}, {743, "Running on Mac OS X 10.3"},
      {824, "Running on Mac OS X 10.4"},
  };
  for (const auto& [limit, line] : rows) {
    if (whole <= limit) return QLatin1String(line);
  }
  return std::nullopt;
}

double interfaceFrameworkVersion() {
  return QT_VERSION_MAJOR * 1000 + QT_VERSION_MINOR * 10 + QT_VERSION_PATCH;
}

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
  logModel_->setLog(qLog_.get());
  qTable()->setModel(queueModel_);
  qTable()->setItemDelegate(new QueueCellDelegate(qTable()));
  auto* targetCells = new TargetCellDelegate(qTable());
  for (const auto& target : protocol::kTargets)
    qTable()->setItemDelegateForColumn(QueueTableModel::columnIdentifiers().indexOf(QLatin1String(target.typeKey)),
                                       targetCells);
  fitColumns(qTable(), {1});
  keepStatusColumnWide();
  // Measured again once the header has resized its sections to their contents.
  connect(qTable()->horizontalHeader(), &QHeaderView::sectionResized, this, &Controller::keepMovieColumnReadable,
          Qt::QueuedConnection);
  qTable()->verticalHeader()->hide();
  qTable()->setIconSize(QSize(16, 16));
  connect(qTable()->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &Controller::tableViewSelectionDidChange);
  connect(logTable()->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &Controller::tableViewSelectionDidChange);
  emptyHint_ = new QLabel(tr("Drop movies here, or press Add Movie"), qTable()->viewport());
  emptyHint_->setAlignment(Qt::AlignCenter);
  emptyHint_->setAttribute(Qt::WA_TransparentForMouseEvents);
  emptyHint_->setForegroundRole(QPalette::PlaceholderText);  // muted, yet 4.5:1 or more
  dropPlace_ = new QWidget(qTable()->viewport());
  dropPlace_->setAttribute(Qt::WA_TransparentForMouseEvents);
  dropPlace_->setStyleSheet(QStringLiteral("background: palette(highlight); border: none;"));
  dropPlace_->hide();
  reloadQueueTable();
  qTable()->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(qTable(), &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    const int row = qTable()->rowAt(at.y());
    if (row >= 0) rowMenu(row)->popup(qTable()->viewport()->mapToGlobal(at));
  });
  qTable()->viewport()->setAcceptDrops(true);
  qTable()->viewport()->installEventFilter(this);
  buildPrefsToolbar();
  prefs_.storeFirstRunDefaults();
  buildLogToolbar();
  hideExportWidgets();
  controllerWindow_->installEventFilter(this);
  // Never narrower than the toolbar's items.
  controllerWindow_->setMinimumWidth(std::max(controllerWindow_->minimumWidth(), toolbar_->sizeHint().width()));
  restoreWindowPlaces();
  controllerWindow_->show();
  return true;
}

// The drop always goes after the last row: a line there says so.
void Controller::showDropPlace(bool show) {
  const int rows = queueModel_->rowCount();
  const int y = rows == 0 ? 0 : qTable()->rowViewportPosition(rows - 1) + qTable()->rowHeight(rows - 1);
  dropPlace_->setGeometry(0, std::max(0, y - 1), qTable()->viewport()->width(), 3);
  dropPlace_->setVisible(show);
}

// The status column holds the widest status from the start, so a run's
// "Converting 45%" narrows no other column.
void Controller::keepStatusColumnWide() {
  QHeaderView* header = qTable()->horizontalHeader();
  const int column = QueueTableModel::columnIdentifiers().indexOf(QLatin1String(protocol::QUEUE_ENTRY_STATUS_KEY));
  QFont bold = qTable()->font();
  bold.setBold(true);
  const QFontMetrics metrics(bold);
  int widest = header->sectionSizeHint(column);
  for (const QString& text : {tr("Converting %1%").arg(100), tr("Paused %1%").arg(100)})
    widest = std::max(widest, metrics.horizontalAdvance(text) + 2 * metrics.averageCharWidth() + 8);
  header->setSectionResizeMode(column, QHeaderView::Fixed);
  header->resizeSection(column, widest);
  // "Converting" and "Paused" take the same room before the file's name.
  QLabel* doing = currentExportLabel();
  doing->setMinimumWidth(std::max(doing->fontMetrics().horizontalAdvance(tr("Converting")),
                                  doing->fontMetrics().horizontalAdvance(tr("Paused"))));
}

std::vector<std::pair<const char*, QWidget*>> Controller::rememberedWindows() const {
  return {{"WindowPlaceMain", controllerWindow_},
          {"WindowPlaceLog", logWindow_},
          {"WindowPlacePreferences", prefsWindow_},
          {"WindowPlacePreview", previewPanel_},
          {"WindowPlaceInfo", infoWindow_}};
}

// A remembered place counts only while a screen still shows its middle.
void Controller::restoreWindowPlaces() {
  for (const auto& [key, window] : rememberedWindows()) {
    const auto place = prefs_.stringForKey(key);
    if (!place || !window->restoreGeometry(QByteArray::fromBase64(place->toLatin1()))) continue;
    if (QGuiApplication::screenAt(window->geometry().center())) placed_.insert(window);
  }
}

void Controller::saveWindowPlaces() {
  for (const auto& [key, window] : rememberedWindows()) {
    if (window == controllerWindow_ || placed_.count(window))
      prefs_.setString(key, QString::fromLatin1(window->saveGeometry().toBase64()));
  }
}

void Controller::placeWindow(QWidget* window) {
  if (!placed_.count(window)) {
    QRect geometry(QPoint(), window->size().expandedTo(window->sizeHint()));
    geometry.moveCenter(controllerWindow_->frameGeometry().center());
    window->setGeometry(geometry);
    placed_.insert(window);
  }
  window->setGeometry(fittedPlace(window, window->geometry()));
}

namespace {
// The room a window manager's frame takes around window; nothing before the
// window was first shown.
QMargins frameOf(const QWidget* window) {
  const QRect frame = window->frameGeometry();
  const QRect inner = window->geometry();
  return {inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
          frame.bottom() - inner.bottom()};
}

QMargins largest(const QMargins& a, const QMargins& b) {
  return {std::max(a.left(), b.left()), std::max(a.top(), b.top()), std::max(a.right(), b.right()),
          std::max(a.bottom(), b.bottom())};
}
}  // namespace

QRect Controller::fittedPlace(const QWidget* window, const QRect& geometry) const {
  QScreen* screen = QGuiApplication::screenAt(geometry.center());
  if (!screen) screen = controllerWindow_->screen();
  // A window not shown yet has no frame: the main window's tells its size.
  const QMargins frame = largest(frameOf(window), frameOf(controllerWindow_));
  return fittedOnScreen(geometry, frame, screen->availableGeometry(), window->minimumSize());
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
    case QEvent::DragMove: {
      auto* drag = static_cast<QDragMoveEvent*>(event);
      const Qt::DropAction action = drag->mimeData()->hasUrls() ? tableView(qTable(), drag->mimeData())
                                                                 : Qt::IgnoreAction;
      drag->setDropAction(action);
      drag->setAccepted(action != Qt::IgnoreAction);
      showDropPlace(action != Qt::IgnoreAction);
      return true;
    }
    case QEvent::DragLeave:
      showDropPlace(false);
      return true;
    case QEvent::Drop: {
      showDropPlace(false);
      auto* drop = static_cast<QDropEvent*>(event);
      drop->setDropAction(Qt::CopyAction);
      drop->setAccepted(tableView(qTable(), drop->mimeData(), true));
      return true;
    }
    case QEvent::Resize:
      if (watched == qTable()->viewport()) emptyHint_->setGeometry(qTable()->viewport()->rect());
      break;
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

// Quitting mid-export throws the export away: the user says so first.
bool Controller::confirmQuit() {
  if (!outstanding_ || quitWithoutAsking_) return true;
  const AlertSpec alert{tr("A movie is being converted. Quitting stops the export, and it starts again from the "
                           "beginning next time."),
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

}  // namespace tovix

namespace tovix {

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
