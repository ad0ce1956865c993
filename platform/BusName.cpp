#include "platform/BusName.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>

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

BusNameWatcher::BusNameWatcher(const QString& name, QObject* parent)
    : QObject(parent),
      watcher_(new QDBusServiceWatcher(name, QDBusConnection::sessionBus(),
                                       QDBusServiceWatcher::WatchForOwnerChange, this)) {
  connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
          [this](const QString&, const QString&, const QString& newOwner) {
            if (newOwner.isEmpty())
              emit ownerVanished();
            else
              emit ownerAppeared();
          });
}

ApplicationService::ApplicationService(QObject* parent) : QObject(parent) {}

bool ApplicationService::claim() {
  if (!claimBusName(QLatin1String(kApplicationBusName))) return false;
  QDBusConnection::sessionBus().registerObject(QLatin1String(kActivationPath), this,
                                               QDBusConnection::ExportScriptableSlots);
  return true;
}

bool ApplicationService::activateRunning() {
  const QDBusMessage call = QDBusMessage::createMethodCall(
      QLatin1String(kApplicationBusName), QLatin1String(kActivationPath),
      QLatin1String(kActivationInterface), QStringLiteral("Activate"));
  return QDBusConnection::sessionBus().call(call, QDBus::Block, 2000).type() ==
         QDBusMessage::ReplyMessage;
}

void ApplicationService::Activate() { emit activateRequested(); }
void ApplicationService::StartQueue() { emit startRequested(); }
void ApplicationService::StopQueue() { emit stopRequested(); }

}  // namespace tovix
