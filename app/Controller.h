#pragma once
// The application's central object: it holds the windows, the queue and log
// stores, the preferences, the helper process and the queue runner's state,
// all for the life of the process. Its member functions live in one source
// file per concern, in the folder of that concern (runner/, window/,
// update/): each group below is headed by the file that defines it.
// Everything runs on the GUI thread.
#include "app/runner/HelperSupervisor.h"
#include "app/runner/MovieIntake.h"
#include "app/store/Preferences.h"
#include "app/store/Queue.h"
#include "app/store/QueueLog.h"
#include "app/runner/RunState.h"
#include "platform/DesktopSession.h"
#include "platform/NotificationCenter.h"

#include <QFutureWatcher>
#include <QObject>
#include <QTimer>
#include <functional>
#include <map>
#include <set>
#include <vector>
#include <memory>
#include <optional>

class QAbstractButton;
class QAction;
class QAudioOutput;
class QLabel;
class QMenu;
class QMainWindow;
class QMediaPlayer;
class QMimeData;
class QProgressBar;
class QPushButton;
class QTableView;
class QToolBar;
class QWidget;

namespace Ui {
class MainWindow;
class LogWindow;
class GeneralPrefs;
class UpdatePrefs;
class PreviewPanel;
class InfoPanel;
class AboutPanel;
}

namespace tovix {

class Dialogs;
class ElidedLabel;
class SoftwareUpdater;
class LogTableModel;
class QueueTableModel;

class Controller : public QObject {
  Q_OBJECT
 public:
  // --- Controller.cpp: the windows, the accessors, the dialogs and desktop ---
  Controller(NotificationCenter& notificationCenter, std::unique_ptr<HelperSupervisor> helperTask,
             QObject* parent = nullptr);
  ~Controller() override;
  QTableView* qTable() const;
  QTableView* logTable() const;
  QProgressBar* exportProgress() const;
  QLabel* currentExportLabel() const;
  ElidedLabel* currentExportFilename() const;
  QPushButton* showInFinderButton() const;
  QLabel* helperMessage() const;
  QLabel* storeMessage() const;
  QLabel* runStatus() const;
  void reloadQueueTable();
  void reloadLogTable();
  // Replaces the alerts and panels (tests answer them instead of a person).
  void setDialogs(std::unique_ptr<Dialogs> dialogs);
  // Replaces what the desktop is told about runs (tests record it).
  void setDesktopSession(std::unique_ptr<DesktopSession> desktop);

  // --- window/ControllerStartup.cpp: start-up, fade-in, store notices and shut-down ---
  // Start-up steps 1 to 5: flags, observers, stale flag files.
  void init();
  // Steps 6 to 19: window, preferences, system check, helper, stores,
  // tables, first-run defaults. False when start-up must end with status 1.
  bool awakeFromNib();
  void fadeinMainWindow();
  // Whether the main window may close now; asks while an export runs.
  bool confirmQuit();
  // Closes the window without asking, even mid-export (logout, SIGTERM).
  void quitWithoutAsking();
  // The main window closes: quit flag when a run has had no completion yet,
  // "Export cancelled." logged for an export under way, abort, one second,
  // terminate the helper, end with status 0.
  void windowWillClose(QObject* window);
  // Shows a sentence about the stored queue or log in the main window.
  void showStoreNotice(const QString& notice);

  // --- window/ControllerWindows.cpp: where the windows open ---
  // The places of the windows, restored at start and saved at the end.
  void restoreWindowPlaces();
  void saveWindowPlaces();

  // --- runner/ControllerRunner.cpp: the queue runner ---
  void startQ();
  void stopQ();
  void qHandler();                                               // a start
  void qHandler(const UserInfo& error, const QString& sender);   // "TovixExportError"
  void qHandlerNextEntry();
  bool qHandlerFindExportRequest(int i);
  // Notifications count only from the helper Tovix started, and only when
  // they answer the outstanding request; anything else is logged and ignored.
  void qHandlerCompletionReceived(const UserInfo& userInfo, const QString& sender);
  void qHandlerExportProgress(const UserInfo& userInfo, const QString& sender);
  // Pause and Resume: the helper is held where it is and goes on later.
  void pauseQ();

  // --- runner/ControllerHelper.cpp: the helper process ---
  // Posts a request now when the helper listens, else once it does.
  void postExportRequest();
  void onHelperReady();
  void onHelperLost();
  void onHelperUnavailable(const QString& reason);

  // --- window/ControllerStatus.cpp: the run's status, retrying and the row menu ---
  // The failed targets of the selected row, or of every row when none is
  // selected, are tried again; an idle queue starts.
  void retryFailed();
  bool canRetryFailed() const;
  void keepRunStatusInPlace(bool exporting);
  std::vector<int> rowsToRetry() const;
  // The menu of a queue row: Preview, Info, Show in Folder, Retry Failed, Remove.
  QMenu* rowMenu(int row);

  // --- window/ControllerTable.cpp: the tables, drops and files coming in ---
  // Drag over a table: the copy action for the queue table (the drop goes
  // after the last row), none for any other table.
  Qt::DropAction tableView(QTableView* table, const QMimeData* dragged) const;
  // Drop on the queue table: sorted by name, each path that passes the
  // extension and movie-open tests is queued; true when a file list came.
  bool tableView(QTableView* table, const QMimeData* dropped, bool accept);
  void tableViewSelectionDidChange();
  // Queues files given by the desktop (command line, file manager, drop):
  // sorted by name, each one that passes the extension and movie-open tests;
  // one message names the others and why. Returns at once: the files are
  // tested in the background and queued as they pass.
  void openFiles(QStringList paths);
  // The row Info and Preview show (the current chosen row), or -1.
  int selectedRow() const;
  std::vector<int> selectedRows() const;
  void selectRows(const std::vector<int>& rows, int column);

  // --- window/ControllerToolbars.cpp: the three toolbars and the menus ---
  // Toolbar identifiers of the standard items.
  static constexpr const char* kSeparatorItemIdentifier = "SeparatorToolbarItem";
  static constexpr const char* kFlexibleSpaceItemIdentifier = "FlexibleSpaceToolbarItem";
  QStringList toolbarDefaultItemIdentifiers(QToolBar* toolbar) const;
  QStringList toolbarAllowedItemIdentifiers(QToolBar* toolbar) const;
  QStringList toolbarSelectableItemIdentifiers(QToolBar* toolbar) const;
  // The stored item for an identifier on behalf of a toolbar, or null.
  QAction* toolbar(QToolBar* toolbar, const QString& itemIdentifier, bool willBeInserted) const;
  // Gives an item about to be added its tool tip and action.
  void toolbarWillAddItem(QAction* item);

  // --- window/ControllerCommands.cpp: queue commands and the log window ---
  void addToQ();
  void deleteFromQ();
  void clearQ();
  void clearFinished();
  void toggleiPhone();
  void toggleiPod();
  void toggleAppleTV();
  void toggleQT();
  void openQueueLog();
  void clearLog();

  // --- window/ControllerPreview.cpp: preview, movie information, reveal ---
  void previewMovie();
  void previewToggle();
  void previewPlay();
  void previewPause();
  void volumeToggle();
  void showInfo();
  void movieMetaData();
  void showInFinder();
  // Connects output to player when the system has a sound device and answers
  // whether it has one. Without a device the player stays silent: Qt's FFmpeg
  // backend crashes when it renders sound to no device.
  static bool attachAudioIfPresent(QMediaPlayer* player, QAudioOutput* output);

  // --- window/ControllerPrefs.cpp: the preferences window and the about panel ---
  void openPrefsWindow();
  void toggleGeneralPreferenceView();
  void toggleUpdatePreferenceView();
  void setActivePrefView(QWidget* view, bool animate);
  void toggleExportiPhonePref();
  void toggleExportiPodPref();
  void toggleExportAppleTVPref();
  void toggleExportQTPref();
  void toggleExportDiffLocation();
  void toggleDockBounce();
  void toggleSoftwareUpdateCheck();
  void toggleExportCompletePref();
  void toggleQueueNotificationPref();
  void toggleCopyDevicePicturesPref();
  void toggleExportDirectory();
  void openAboutPanel();

  // --- update/ControllerReset.cpp: software update and factory reset ---
  // A manual update check with a panel of its own; the updater lives on.
  void checkSoftwareUpdate();
  // After the user confirms: stop, abort, end the helper, clear the queue and
  // the log, remove the data folder and the preferences file, end with 0.
  void factoryReset();

  // --- State, stores and windows, for the rest of Tovix and its tests ---
  bool fadeFinished() const { return fadeFinished_; }
  const RunState& runState() const { return *runState_; }
  bool qRunning() const { return qRunning_; }
  void updateqRunning(bool running) {
    qRunning_ = running;
    showCommandStates();
  }
  bool abortQHandler() const { return abortQHandler_; }
  void updateabortQHandler(bool abort) { abortQHandler_ = abort; }
  bool sendQuitAtEnd() const { return sendQuitAtEnd_; }
  const QString& showInFinderPath() const { return showInFinderPath_; }
  // Whether files are still being tested on their way into the queue.
  bool takingFiles() const { return intake_->busy(); }
  bool previewIsPlaying() const { return previewIsPlaying_; }
  // Where update checks look; tests point it at a loopback server.
  void setUpdateBaseAddress(const QString& address) { updateBaseAddress_ = address; }
  const QString& updateBaseAddress() const { return updateBaseAddress_; }
  SoftwareUpdater* lastUpdater() const { return lastUpdater_; }
  Queue* q() const { return q_.get(); }
  QueueLog* qLog() const { return qLog_.get(); }
  Preferences& prefs() { return prefs_; }
  QMainWindow* controllerWindow() const { return controllerWindow_; }
  QToolBar* mainToolbar() const { return toolbar_; }
  QToolBar* prefsToolbar() const { return prefsToolbar_; }
  QToolBar* logToolbar() const { return logToolbar_; }
  QMainWindow* logWindow() const { return logWindow_; }
  QMainWindow* prefsWindow() const { return prefsWindow_; }
  QWidget* generalPrefView() const { return generalPrefView_; }
  QWidget* updatePrefView() const { return updatePrefView_; }
  QWidget* activePrefView() const { return activePrefView_; }
  Ui::GeneralPrefs& generalPrefs() const { return *generalUi_; }
  Ui::UpdatePrefs& updatePrefs() const { return *updateUi_; }
  QWidget* previewPanel() const { return previewPanel_; }
  Ui::PreviewPanel& previewUi() const { return *previewUi_; }
  QMediaPlayer* moviePlayer() const { return player_; }
  QAudioOutput* movieAudio() const { return audio_; }
  QWidget* infoWindow() const { return infoWindow_; }
  Ui::InfoPanel& infoUi() const { return *infoUi_; }
  QWidget* aboutPanel() const { return aboutPanel_; }

  // Ends the process with a status (the event loop returns it); replaceable
  // by tests.
  std::function<void(int)> endProcess;
  // End-of-run effects, replaceable by tests.
  std::function<void()> playFinishedSound;
  std::function<void()> requestAttention;
  // What reveals a file in the file manager; replaceable by tests.
  std::function<void(const QString&)> revealFile;

 signals:
  // The main window began to close: the orderly end is under way.
  void closing();

 protected:
  // window/ControllerStartup.cpp: closing asks first; drags go to the table.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // --- Controller.cpp ---
  void buildWindows();
  // Hides a visible window and answers false; otherwise places it (see
  // placeWindow), brings it to the front (as the key window when makeKey)
  // and answers true.
  bool showOrHide(QWidget* window, bool makeKey);

  // --- window/ControllerStartup.cpp ---
  void removeStaleFlagFiles();
  // Tells the user once when a store could not be saved.
  std::function<void(bool saved)> saveObserver();
  void tellOfUnusedDataFolder();

  // --- window/ControllerWindows.cpp ---
  // The windows whose places are remembered, each with its preference key.
  std::vector<std::pair<const char*, QWidget*>> rememberedWindows() const;
  // Before a window other than the main one shows: where it was last time,
  // else centred on the main window; wholly on a screen either way.
  void placeWindow(QWidget* window);
  // geometry moved (and shrunk) so that the window and its frame lie wholly
  // on the screen that holds it, else on the main window's.
  QRect fittedPlace(const QWidget* window, const QRect& geometry) const;

  // --- runner/ControllerRunner.cpp ---
  void hideExportWidgets();
  void endRun();
  // The run is over (every export done, stopped, or cut short): flags, the
  // stop flag file, and what the desktop was told.
  void finishRun(bool stopped);
  void tellDesktopRunEnded(bool stopped);
  void settleCompletion(const QVariantMap& completion);
  bool isHelperAnswer(const char* name, const UserInfo& userInfo, const QString& sender) const;
  void removeStopFlag();
  std::optional<QString> exportDirectoryForRequest() const;
  void forgetKeptWork(int row);

  // --- window/ControllerStatus.cpp ---
  void showRunStatus();
  void revealLatestOutput(int row);

  // --- window/ControllerTable.cpp ---
  void setUpTables();
  // A drag over the queue table; true when it was one.
  bool dragOntoQueue(QEvent* event);
  void queueMovies(const QStringList& paths, bool testExtension);
  void queueTested(const std::vector<MovieIntake::Verdict>& verdicts);
  void tellRefusals(const QStringList& refused);
  void showIntakeProgress();
  void showDropPlace(bool show);
  // Makes the queue table ask for room for every column, with about twenty
  // characters of the Movie column, which takes whatever width is spare.
  void keepMovieColumnReadable();
  void keepStatusColumnWide();

  // --- window/ControllerToolbars.cpp ---
  void showCommandStates();
  void makeToolbarItems(const QStringList& identifiers, bool selectable);
  void buildMainToolbar();
  void buildPrefsToolbar();
  void buildLogToolbar();
  void buildMenus();
  void fillToolbar(QToolBar* toolbar);

  // --- window/ControllerCommands.cpp ---
  void toggleSelected(protocol::Target target);

  // --- window/ControllerPreview.cpp ---
  void showPlaybackState(bool playing);
  // The seek bar and the time beside it follow the player; the user's moves
  // of the bar (mouse or keyboard) move the player.
  void connectSeekBar();
  void showPreviewTime();
  // Fills the information panel's Format field once its tracks are described.
  void showTrackFormats();

  // --- window/ControllerPrefs.cpp ---
  void connectPreferenceControls();
  void loadPreferenceSwitches();
  void storeSwitch(const char* key, bool on);
  void flipPreference(const char* key, bool currentValue, QAbstractButton* control);

  // Start-up.
  NotificationCenter& notificationCenter_;
  Preferences prefs_;
  std::unique_ptr<HelperSupervisor> helperTask_;
  QMainWindow* controllerWindow_ = nullptr;
  std::unique_ptr<Ui::MainWindow> mainUi_;
  QTimer fadeInTimer_;
  float fadeLevel_ = 0.0f;  // the opacity last set; may exceed 1.0 as the fade ends
  bool fadeFinished_ = false;
  bool shuttingDown_ = false;
  bool quitWithoutAsking_ = false;
  std::set<const QWidget*> placed_;  // windows with a place this session
  bool previewIsPlaying_ = false;

  // Windows, panels and their controls.
  QMainWindow* logWindow_ = nullptr;
  std::unique_ptr<Ui::LogWindow> logUi_;
  QMainWindow* prefsWindow_ = nullptr;
  QWidget* activePrefContentView_ = nullptr;
  QWidget* activePrefView_ = nullptr;
  QWidget* generalPrefView_ = nullptr;
  QWidget* updatePrefView_ = nullptr;
  std::unique_ptr<Ui::GeneralPrefs> generalUi_;
  std::unique_ptr<Ui::UpdatePrefs> updateUi_;
  QWidget* previewPanel_ = nullptr;
  std::unique_ptr<Ui::PreviewPanel> previewUi_;
  QMediaPlayer* player_ = nullptr;
  QAudioOutput* audio_ = nullptr;
  QWidget* infoWindow_ = nullptr;
  QFutureWatcher<std::pair<QString, QString>> infoFormats_;  // a movie's path and its tracks' description
  std::unique_ptr<Ui::InfoPanel> infoUi_;
  QWidget* aboutPanel_ = nullptr;
  std::unique_ptr<Ui::AboutPanel> aboutUi_;
  std::unique_ptr<Dialogs> dialogs_;

  // Toolbars; every item is made once and handed out by identifier.
  QToolBar* toolbar_ = nullptr;
  QToolBar* prefsToolbar_ = nullptr;
  QToolBar* logToolbar_ = nullptr;
  std::map<QString, QAction*> toolbarItems_;
  QMenu* applicationMenu_ = nullptr;
  QAction* deleteAction_ = nullptr;  // greyed while they could not act
  QAction* stopAction_ = nullptr;
  QAction* pauseAction_ = nullptr;

  // Stores and table models.
  std::unique_ptr<Queue> q_;
  std::unique_ptr<QueueLog> qLog_;
  QueueTableModel* queueModel_ = nullptr;
  QLabel* emptyHint_ = nullptr;   // over the empty queue table
  QWidget* dropPlace_ = nullptr;  // where a drag would drop
  LogTableModel* logModel_ = nullptr;

  // Files on their way into the queue, and the refusals the open message names.
  MovieIntake* intake_ = nullptr;
  QLabel* intakeMessage_ = nullptr;
  QTimer intakeReload_;
  QStringList refusedNames_;
  int refusedCount_ = 0;

  // Queue runner: qRunning_ means a request is outstanding.
  bool qRunning_ = false;
  bool abortQHandler_ = false;
  bool sendQuitAtEnd_ = false;
  QString showInFinderPath_;
  RunState* runState_ = nullptr;
  std::unique_ptr<DesktopSession> desktop_;

  QString updateBaseAddress_;
  SoftwareUpdater* lastUpdater_ = nullptr;

  // Helper: the request the runner waits on, the entry (by identity) and
  // target it was made for, and whether it reached a helper.
  struct OutstandingExport {
    QVariantMap request;
    quint64 entryId = 0;
    QString expectedOutput;  // by the naming rule; its temporary file is the helper's
  };
  std::optional<OutstandingExport> outstanding_;
  bool requestDelivered_ = false;
  bool saveFailureShown_ = false;
  // Why the data folder of earlier versions is still used where it is.
  std::optional<QString> dataFolderNotice_;
};

}  // namespace tovix
