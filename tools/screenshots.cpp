// Takes the README's screenshots: the real Controller and TovixHelper convert
// a small queue while each window is grabbed to a PNG.
// Usage: screenshots OUTPUT_DIR MOVIE... (run by scripts/take-screenshots.sh)
#include "app/Controller.h"
#include "app/window/Dialogs.h"
#include "app/update/SoftwareUpdater.h"
#include "app/window/Theme.h"
#include "ui_GeneralPrefs.h"

#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QDeadlineTimer>
#include <QMainWindow>
#include <QMessageBox>
#include <QProgressBar>
#include <QTableView>

namespace {

void wait(int ms, const std::function<bool()>& until = [] { return false; }) {
  QDeadlineTimer deadline(ms);
  while (!deadline.hasExpired() && !until()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

void save(QWidget* window, const QString& path) {
  window->window()->grab().save(path);
  std::printf("wrote %s\n", qPrintable(path));
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tovix"));
  // TOVIX_LIGHT=1 takes the pictures in the light look, into a light/ folder.
  const bool light = qEnvironmentVariableIntValue("TOVIX_LIGHT") == 1;
  tovix::applyTheme(application, light);
  if (argc < 3) return 2;
  const QString out = QString::fromLocal8Bit(argv[1]) + (light ? QStringLiteral("/light") : QString());
  QDir().mkpath(out);
  tovix::NotificationCenter center;
  const QString helper = QCoreApplication::applicationDirPath() + QStringLiteral("/TovixHelper");
  tovix::Controller controller(center, std::make_unique<tovix::HelperSupervisor>(helper));
  controller.init();
  if (!controller.awakeFromNib()) return 1;
  controller.prefs().setBool(tovix::Preferences::PrefExportCompletePref, true);
  // The first "movie" is no movie at all: its export fails, as a damaged file's would.
  for (int i = 2; i < argc; ++i) controller.q()->addMovie(QString::fromLocal8Bit(argv[i]));
  controller.q()->toggleqt(2);
  controller.q()->toggleiPod(3);
  controller.reloadQueueTable();
  controller.controllerWindow()->resize(900, 470);
  wait(3000, [&] { return controller.fadeFinished(); });
  controller.startQ();
  wait(60000, [&] { return controller.q()->status(1) == QLatin1String("Complete"); });
  wait(60000, [&] { return controller.exportProgress()->value() > 400; });
  controller.qTable()->selectRow(3);  // the highlight runs across the check boxes too
  wait(200);
  save(controller.controllerWindow(), out + "/main-window.png");
  // The same from the screen, with the window manager's frame around it.
  const QRect framed = controller.controllerWindow()->frameGeometry().adjusted(-8, -8, 8, 8);
  QGuiApplication::primaryScreen()->grabWindow(0, framed.x(), framed.y(), framed.width(), framed.height())
      .save(out + "/main-window-framed.png");

  // The message that names refused files, shown without waiting for an answer.
  QStringList refusals;
  for (int episode = 1; episode <= 14; ++episode)
    refusals << QStringLiteral("/home/me/Movies/Season 2/Episode %1.avi: it is not a movie Tovix can read").arg(episode);
  const auto refused = tovix::Dialogs::informBox(controller.controllerWindow(), QObject::tr("14 files were not added to the queue."),
                                                 refusals.join(u'\n'));
  refused->show();
  wait(400);
  save(refused.get(), out + "/refused-files.png");
  refused->hide();

  // An update check with no server to answer it.
  controller.setUpdateBaseAddress(QStringLiteral("http://127.0.0.1:9"));
  controller.checkSoftwareUpdate();
  wait(10000, [&] { return controller.lastUpdater() && controller.lastUpdater()->softwareUpdatePanel()->isVisible(); });
  wait(300);
  save(controller.lastUpdater()->softwareUpdatePanel(), out + "/update-failed.png");
  controller.lastUpdater()->closePanel();

  controller.openQueueLog();
  controller.logWindow()->resize(820, 300);
  wait(400);
  save(controller.logWindow(), out + "/log-window.png");

  controller.openPrefsWindow();
  wait(400);
  save(controller.prefsWindow(), out + "/preferences-general.png");
  controller.toggleUpdatePreferenceView();
  wait(600);
  save(controller.prefsWindow(), out + "/preferences-update.png");

  controller.qTable()->selectRow(1);
  controller.showInfo();
  wait(2000);  // the tracks are described on a thread
  save(controller.infoWindow(), out + "/movie-info.png");
  controller.showInfo();
  controller.previewMovie();
  controller.previewPanel()->resize(560, 360);
  controller.previewToggle();
  wait(1500);
  // Video is drawn by the display server, so take this one from the screen.
  QGuiApplication::primaryScreen()->grabWindow(controller.previewPanel()->winId()).save(out + "/preview.png");
  controller.stopQ();
  return 0;
}
