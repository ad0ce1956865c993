#pragma once
// Session-bus test tools: records notifications as they arrive, posts
// requests through an independent peer (gdbus emit), and waits on conditions.
#include "platform/NotificationCenter.h"

#include <QString>
#include <functional>
#include <vector>

namespace tovix::test {

// Processes events until condition holds or timeoutMs pass; answers condition().
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 10000);

struct Received {
  QString name;
  UserInfo userInfo;
};

class NotificationRecorder {
 public:
  explicit NotificationRecorder(const QStringList& names);
  const std::vector<Received>& all() const { return received_; }
  std::vector<Received> named(const QString& name) const;
  // Waits for the count-th notification of that name.
  bool waitFor(const QString& name, size_t count = 1, int timeoutMs = 30000);
  void clear() { received_.clear(); }

 private:
  NotificationCenter center_;
  std::vector<Received> received_;
};

// GVariant text of a dictionary of strings, as gdbus reads it.
QString gvariantDictionary(const QVariantMap& strings);

// Emits a TovixExport… signal with gdbus; without text the signal has no
// argument. Answers gdbus's exit status.
int gdbusEmit(const QString& name, const std::optional<QString>& gvariantText);

}  // namespace tovix::test
