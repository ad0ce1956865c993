// The manual update check and the factory reset.
#include "app/Controller.h"

#include "app/window/Dialogs.h"
#include "app/update/SoftwareUpdater.h"
#include "platform/Paths.h"
#include "protocol/Protocol.h"

#include <QDir>
#include <QFile>
#include <QMainWindow>
#include <QThread>

namespace tovix {

void Controller::checkSoftwareUpdate() {
  // Repeated checks answer in the one panel instead of stacking panels.
  if (!lastUpdater_) lastUpdater_ = new SoftwareUpdater(prefs_, controllerWindow_, updateBaseAddress_, this);
  lastUpdater_->initManual();
}

void Controller::factoryReset() {
  const AlertSpec alert{tr("The queue and the log will be cleared, your Tovix preferences will be reset, other "
                           "data saved by Tovix will be deleted and the application will exit."),
                        tr("OK"), tr("Cancel"), true};
  if (dialogs_->runAlert(controllerWindow_, alert) != 0) return;
  shuttingDown_ = true;
  stopQ();
  notificationCenter_.post(QLatin1String(protocol::kExportAbort));
  QThread::sleep(1);
  helperTask_->terminate();
  if (q_) q_->clear();
  reloadQueueTable();
  clearLog();
  const QString dataFolder = paths::applicationDataFolder();
  if (QDir(dataFolder).absolutePath() != QDir(paths::home()).absolutePath()) QDir(dataFolder).removeRecursively();
  if (QFile::exists(prefs_.fileName())) QFile::remove(prefs_.fileName());
  QDir(paths::keptWorkRoot()).removeRecursively();  // what interrupted exports kept, and nothing beside it
  endProcess(0);
}

}  // namespace tovix
