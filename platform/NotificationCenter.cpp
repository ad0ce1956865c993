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

// The entries of one dictionary argument with string keys, whatever its value
// type; nullopt for any other argument.
std::optional<QVariantMap> stringKeyedMap(const QDBusMessage& message) {
  if (message.arguments().size() != 1 || !message.signature().startsWith(QLatin1String("a{s")))
    return std::nullopt;
  const QVariant argument = message.arguments().first();
  if (!argument.canConvert<QDBusArgument>()) return argument.toMap();
  const QDBusArgument dbus = argument.value<QDBusArgument>();
  QVariantMap map;
  dbus.beginMap();
  while (!dbus.atEnd()) {
    QString key;
    dbus.beginMapEntry();
    dbus >> key;
    QVariant value = dbus.asVariant();
    dbus.endMapEntry();
    if (value.userType() == qMetaTypeId<QDBusVariant>()) value = value.value<QDBusVariant>().variant();
    map.insert(key, value);
  }
  dbus.endMap();
  return map;
}

}  // namespace

void NotificationObserver::deliver(const QDBusMessage& message) {
  if (message.arguments().isEmpty()) {
    handler_(std::nullopt, message.service());
    return;
  }
  const std::optional<QVariantMap> map = stringKeyedMap(message);
  if (!map) {
    systemLog(QStringLiteral("Read %1 from %2 as an empty dictionary: unexpected arguments (%3).")
                  .arg(name_, message.service(), message.signature()));
  }
  handler_(plainEntries(map.value_or(QVariantMap()), name_), message.service());
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
