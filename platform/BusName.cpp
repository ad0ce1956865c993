#include "platform/BusName.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDir>
#include <QFileInfo>
#include <algorithm>

namespace tovix {
namespace {
constexpr const char* kActivationPath = "/org/tovix/Application";
constexpr const char* kActivationInterface = "org.tovix.Application";
}  // namespace

bool claimBusName(const QString& name) {
  QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
  if (!bus) return false;
  const auto reply = bus->registerService(name, QDBusConnectionInterface::DontQueueService,
                                          QDBusConnectionInterface::DontAllowReplacement);
  return reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered;
}

bool isBusNameOwned(const QString& name) {
  QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
  return bus && bus->isServiceRegistered(name).value();
}

qint64 busNamePid(const QString& name) {
  QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
  if (!bus) return 0;
  const QDBusReply<uint> reply = bus->servicePid(name);
  return reply.isValid() ? qint64(reply.value()) : 0;
}

BusNameWatcher::BusNameWatcher(const QString& name, QObject* parent)
    : QObject(parent),
      watcher_(new QDBusServiceWatcher(name, QDBusConnection::sessionBus(),
                                       QDBusServiceWatcher::WatchForOwnerChange, this)) {
  connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
          [this](const QString&, const QString&, const QString& newOwner) {
            if (newOwner.isEmpty())
              emit ownerVanished();
            else
              emit ownerAppeared(newOwner);
          });
}

ApplicationService::ApplicationService(QObject* parent) : QObject(parent) {}

bool ApplicationService::claim() {
  if (!claimBusName(QLatin1String(kApplicationBusName))) return false;
  QDBusConnection::sessionBus().registerObject(QLatin1String(kActivationPath), this,
                                               QDBusConnection::ExportScriptableSlots);
  return true;
}

bool ApplicationService::activateRunning(const QStringList& files) {
  QDBusMessage call = QDBusMessage::createMethodCall(
      QLatin1String(kApplicationBusName), QLatin1String(kActivationPath), QLatin1String(kActivationInterface),
      files.isEmpty() ? QStringLiteral("Activate") : QStringLiteral("OpenFiles"));
  if (!files.isEmpty()) call << files;
  const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 2000);
  if (reply.type() != QDBusMessage::ReplyMessage) return false;
  // An answer without a value comes from an older Tovix, which is not closing.
  return reply.arguments().isEmpty() || reply.arguments().first().toBool();
}

bool ApplicationService::Activate() {
  if (closing_) return false;
  emit activateRequested();
  return true;
}

namespace {
// The working folder of the process behind a bus connection; empty when it
// cannot be read.
QString workingFolderOf(const QString& connection) {
  const qint64 pid = busNamePid(connection);
  return pid > 0 ? QFileInfo(QStringLiteral("/proc/%1/cwd").arg(pid)).symLinkTarget() : QString();
}
}  // namespace

bool ApplicationService::OpenFiles(const QStringList& paths) {
  if (closing_) return false;
  QStringList absolute = paths;
  const bool anyRelative = std::any_of(paths.begin(), paths.end(), QDir::isRelativePath);
  if (anyRelative && calledFromDBus()) {
    const QString folder = workingFolderOf(message().service());
    for (QString& path : absolute) {
      if (!folder.isEmpty() && QDir::isRelativePath(path)) path = QDir(folder).absoluteFilePath(path);
    }
  }
  emit activateRequested();
  emit openRequested(absolute);
  return true;
}
void ApplicationService::StartQueue() { emit startRequested(); }
void ApplicationService::StopQueue() { emit stopRequested(); }

}  // namespace tovix
