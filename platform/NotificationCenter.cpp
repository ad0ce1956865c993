#include "platform/NotificationCenter.h"

#include "platform/SystemLog.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>

namespace tovix {
namespace detail {

// Receives one notification name's signals and hands them to a handler.
class NotificationObserver : public QObject {
  Q_OBJECT
 public:
  NotificationObserver(QString name, NotificationCenter::Handler handler, QObject* parent)
      : QObject(parent), name_(std::move(name)), handler_(std::move(handler)) {}

 public slots:
  void deliver(const QDBusMessage& message);

 private:
  QString name_;
  NotificationCenter::Handler handler_;
};

namespace {

bool isPlainValue(const QVariant& value) {
  switch (value.typeId()) {
    case QMetaType::QString:
    case QMetaType::Bool:
    case QMetaType::Double:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::UChar:
      return true;
    default:
      return false;
  }
}

QVariantMap plainEntries(const QVariantMap& raw, const QString& name) {
  QVariantMap plain;
  for (auto it = raw.cbegin(); it != raw.cend(); ++it) {
    if (isPlainValue(it.value()))
      plain.insert(it.key(), it.value());
    else
      systemLog(QStringLiteral("Dropped key %1 of %2: not a string or number.").arg(it.key(), name));
  }
  return plain;
}

}  // namespace

void NotificationObserver::deliver(const QDBusMessage& message) {
  const QList<QVariant> args = message.arguments();
  if (args.isEmpty()) {
    handler_(std::nullopt);
    return;
  }
  if (args.size() != 1 || message.signature() != QLatin1String("a{sv}")) {
    systemLog(QStringLiteral("Ignored %1 from %2: unexpected arguments (%3).")
                  .arg(name_, message.service(), message.signature()));
    return;
  }
  const auto raw = qdbus_cast<QVariantMap>(args.first());
  handler_(plainEntries(raw, name_));
}

}  // namespace detail

NotificationCenter::NotificationCenter(QObject* parent) : QObject(parent) {}

bool NotificationCenter::isConnected() const {
  return QDBusConnection::sessionBus().isConnected();
}

bool NotificationCenter::post(const QString& name, const UserInfo& userInfo) const {
  QDBusMessage signal =
      QDBusMessage::createSignal(QLatin1String(kObjectPath), QLatin1String(kInterface), name);
  if (userInfo) signal << *userInfo;
  return QDBusConnection::sessionBus().send(signal);
}

bool NotificationCenter::observe(const QString& name, Handler handler) {
  auto* observer = new detail::NotificationObserver(name, std::move(handler), this);
  return QDBusConnection::sessionBus().connect(QString(), QLatin1String(kObjectPath),
                                               QLatin1String(kInterface), name, observer,
                                               SLOT(deliver(QDBusMessage)));
}

}  // namespace tovix

#include "NotificationCenter.moc"
