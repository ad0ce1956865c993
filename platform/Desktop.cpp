#include "platform/Desktop.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>
#include <optional>

namespace tovix::desktop {

bool revealInFileManager(const QString& path) {
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
  // Fully encoded: a space or "#" in a name must not change the address.
  call << QStringList{QString::fromLatin1(QUrl::fromLocalFile(path).toEncoded())} << QString();
  const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 3000);
  if (reply.type() == QDBusMessage::ReplyMessage) return true;
  const QFileInfo file(path);
  return QDesktopServices::openUrl(QUrl::fromLocalFile(file.isDir() ? file.absoluteFilePath() : file.absolutePath()));
}

bool openWebAddress(const QString& url) { return QDesktopServices::openUrl(QUrl(url)); }

namespace {
constexpr uint kPreferLight = 2;

// The setting's number, through the variants it may be wrapped in.
std::optional<uint> schemeOf(QVariant value) {
  while (value.userType() == qMetaTypeId<QDBusVariant>()) value = value.value<QDBusVariant>().variant();
  bool ok = false;
  const uint scheme = value.toUInt(&ok);
  return ok ? std::optional<uint>(scheme) : std::nullopt;
}
}  // namespace

bool prefersLightColors() {
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/org/freedesktop/portal/desktop"),
      QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("Read"));
  call << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme");
  const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 1000);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
  // Read answers a variant that holds the setting's variant.
  return schemeOf(reply.arguments().first()) == kPreferLight;
}

ColorSchemeWatcher::ColorSchemeWatcher(QObject* parent) : QObject(parent) {
  QDBusConnection::sessionBus().connect(
      QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/org/freedesktop/portal/desktop"),
      QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("SettingChanged"), this,
      SLOT(settingChanged(QString, QString, QDBusVariant)));
}

void ColorSchemeWatcher::settingChanged(const QString& nameSpace, const QString& key, const QDBusVariant& value) {
  if (nameSpace != QLatin1String("org.freedesktop.appearance") || key != QLatin1String("color-scheme")) return;
  if (const auto scheme = schemeOf(value.variant())) emit preferenceChanged(*scheme == kPreferLight);
}

}  // namespace tovix::desktop
