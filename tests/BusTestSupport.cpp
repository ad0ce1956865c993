#include "BusTestSupport.h"

#include "TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

namespace tovix::test {

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  while (!condition()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

NotificationRecorder::NotificationRecorder(const QStringList& names) {
  for (const QString& name : names)
    center_.observe(name, [this, name](const UserInfo& info, const QString&) { received_.push_back({name, info}); });
}

std::vector<Received> NotificationRecorder::named(const QString& name) const {
  std::vector<Received> matching;
  for (const Received& r : received_)
    if (r.name == name) matching.push_back(r);
  return matching;
}

bool NotificationRecorder::waitFor(const QString& name, size_t count, int timeoutMs) {
  return waitUntil([&] { return named(name).size() >= count; }, timeoutMs);
}

QString gvariantDictionary(const QVariantMap& strings) {
  QStringList items;
  const auto quote = [](QString text) {
    text.replace("\\", "\\\\").replace("'", "\\'").replace("\n", "\\n");
    return "'" + text + "'";
  };
  for (auto it = strings.cbegin(); it != strings.cend(); ++it)
    items << quote(it.key()) + ": <" + quote(it.value().toString()) + ">";
  return "{" + items.join(", ") + "}";
}

int gdbusEmit(const QString& name, const std::optional<QString>& gvariantText) {
  QStringList arguments{"emit", "--session", "--object-path", NotificationCenter::kObjectPath,
                        "--signal", QString(NotificationCenter::kInterface) + "." + name};
  if (gvariantText) arguments << *gvariantText;
  return runProgram("gdbus", arguments);
}

}  // namespace tovix::test
