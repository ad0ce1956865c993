#include "app/store/Queue.h"

#include "app/store/Preferences.h"
#include "media/MediaProbe.h"

namespace tovix {

using protocol::Target;

namespace {

const char* flagKey(Target target) { return protocol::info(target).typeKey; }

QString flagIn(const QVariantMap& entry, Target target) {
  return protocol::stringValue(entry, flagKey(target)).value_or(QLatin1String(flag::OffDone));
}

bool isExactly(const QVariantMap& entry, Target target, const char* value) {
  return protocol::stringValue(entry, flagKey(target)) == QLatin1String(value);
}

// The completion rule: the target becomes "OnDone"; earlier "Off" targets
// become "OffDone"; later targets become "OffDone" when all of them are "Off",
// which completes the entry, else they stay and the entry is started.
QVariantMap settled(QVariantMap entry, Target done, protocol::ExportResult result) {
  // A later target already done counts as settled: only a retried earlier
  // target can complete after it, and the entry is then complete too.
  bool laterAllOff = true;
  for (const auto& other : protocol::kTargets) {
    if (other.target > done && !isExactly(entry, other.target, flag::Off) &&
        !isExactly(entry, other.target, flag::OnDone) && !isExactly(entry, other.target, flag::OffDone))
      laterAllOff = false;
  }
  for (const auto& other : protocol::kTargets) {
    const bool turnsOffDone = other.target < done ? isExactly(entry, other.target, flag::Off)
                                                  : other.target > done && laterAllOff &&
                                                        isExactly(entry, other.target, flag::Off);
    if (turnsOffDone) entry.insert(QLatin1String(other.typeKey), QLatin1String(flag::OffDone));
  }
  entry.insert(QLatin1String(flagKey(done)), QLatin1String(flag::OnDone));
  const bool alreadyFailed = protocol::stringValue(entry, protocol::QUEUE_ENTRY_STATUS_KEY) ==
                             QLatin1String(status::Failed);
  const char* newStatus = laterAllOff ? status::Complete : status::Started;
  if (alreadyFailed || result == protocol::ExportResult::Failed) newStatus = status::Failed;
  entry.insert(QLatin1String(protocol::QUEUE_ENTRY_STATUS_KEY), QLatin1String(newStatus));
  return entry;
}

QStringList failedKeysOf(const QVariantMap& entry) {
  return protocol::stringValue(entry, protocol::QUEUE_ENTRY_FAILED_KEY).value_or(QString()).split(u',', Qt::SkipEmptyParts);
}

}  // namespace

Queue::Queue(PlistListStore store, const Preferences& prefs)
    : store_(std::move(store)), prefs_(prefs) {}

std::unique_ptr<Queue> Queue::init(const Preferences& prefs) {
  auto store = PlistListStore::open(QStringLiteral("Queue"), QStringLiteral("Queue.xml"));
  if (!store) return nullptr;
  return std::unique_ptr<Queue>(new Queue(std::move(*store), prefs));
}

std::optional<QString> Queue::movie(int i) const {
  return store_.string(i, protocol::QUEUE_ENTRY_MOVIE_PATH_KEY);
}

std::optional<QString> Queue::movieDisplayName(int i) const {
  return store_.string(i, protocol::QUEUE_ENTRY_DISPLAY_KEY);
}

std::optional<QString> Queue::status(int i) const {
  return store_.string(i, protocol::QUEUE_ENTRY_STATUS_KEY);
}

QString Queue::flag(int i, Target target) const {
  const auto found = store_.entry(i);
  return found ? flagIn(*found, target) : QLatin1String(flag::OffDone);
}

void Queue::addMovies(const QStringList& moviePaths) {
  QVariantList entries;
  for (const QString& moviePath : moviePaths) {
    if (moviePath.isEmpty()) continue;
    QVariantMap entry{
        {QLatin1String(protocol::QUEUE_ENTRY_MOVIE_PATH_KEY), moviePath},
        {QLatin1String(protocol::QUEUE_ENTRY_DISPLAY_KEY), media::movieDisplayName(moviePath)},
        {QLatin1String(protocol::QUEUE_ENTRY_STATUS_KEY), QLatin1String(status::Queued)},
    };
    for (const auto& target : protocol::kTargets) {
      const bool on = prefs_.boolForKey(target.preferenceKey);
      entry.insert(QLatin1String(target.typeKey), QLatin1String(on ? flag::On : flag::Off));
    }
    entries.append(entry);
  }
  store_.append(entries);
}

std::optional<QVariantMap> Queue::findMatchingEntry(const QVariantMap& d, int* index) const {
  const auto path = protocol::stringValue(d, protocol::QUEUE_ENTRY_MOVIE_PATH_KEY);
  const auto type = protocol::stringValue(d, protocol::EXPORT_TYPE_KEY);
  if (!path || !type) return std::nullopt;
  const auto target = protocol::targetForTypeKey(*type);
  int firstWithPath = -1;
  for (int i = 0; i < count(); ++i) {
    const auto candidate = store_.entry(i);
    if (!candidate || protocol::stringValue(*candidate, protocol::QUEUE_ENTRY_MOVIE_PATH_KEY) != *path)
      continue;
    if (firstWithPath < 0) firstWithPath = i;
    if (target && isExactly(*candidate, *target, flag::On)) {
      firstWithPath = i;
      break;
    }
  }
  if (firstWithPath < 0) return std::nullopt;
  if (index) *index = firstWithPath;
  return store_.entry(firstWithPath);
}

void Queue::updateMovie(const QVariantMap& completion) {
  int index = -1;
  if (findMatchingEntry(completion, &index)) updateMovie(completion, index);
}

void Queue::updateMovie(const QVariantMap& completion, int i) {
  const auto entry = store_.entry(i);
  if (!entry) return;
  const auto target =
      protocol::targetForTypeKey(protocol::stringValue(completion, protocol::EXPORT_TYPE_KEY).value_or(QString()));
  if (!target) return;
  const auto result = protocol::resultOf(completion);
  // What an interrupted export kept for the next one, shown in its status.
  QVariantMap updated = *entry;
  const auto kept = protocol::stringValue(completion, protocol::EXPORT_KEPT_FRACTION_KEY);
  if (kept && kept->toDouble() > 0 && kept->toDouble() < 1)
    updated.insert(QLatin1String(protocol::QUEUE_ENTRY_KEPT_KEY), *kept);
  else
    updated.remove(QLatin1String(protocol::QUEUE_ENTRY_KEPT_KEY));
  // A cancelled export is still to do: its flag was never changed for the
  // request, so it stays "On", or "Off" when the user unticked it meanwhile.
  if (result == protocol::ExportResult::Cancelled) {
    if (updated != *entry) store_.replace(i, updated);
    return;
  }
  updated = settled(updated, *target, result);
  if (result == protocol::ExportResult::Failed) {
    updated.insert(QLatin1String(protocol::QUEUE_ENTRY_ERROR_TEXT_KEY),
                   protocol::stringValue(completion, protocol::EXPORT_ERROR_TEXT_KEY).value_or(QString()));
    QStringList failedKeys = failedKeysOf(updated);
    failedKeys << QLatin1String(flagKey(*target));
    updated.insert(QLatin1String(protocol::QUEUE_ENTRY_FAILED_KEY), failedKeys.join(u','));
  }
  const auto written = protocol::stringValue(completion, protocol::EXPORT_OUTPUT_PATH_KEY);
  if (result == protocol::ExportResult::Finished && written) updated.insert(QLatin1String(protocol::QUEUE_ENTRY_OUTPUT_PATH_KEY), *written);
  store_.replace(i, updated);
}

bool Queue::failed(int i, Target target) const {
  const auto found = store_.entry(i);
  return found && failedKeysOf(*found).contains(QLatin1String(flagKey(target)));
}

std::optional<QString> Queue::latestOutput(int i) const {
  const auto found = store_.entry(i);
  if (!found) return std::nullopt;
  return protocol::stringValue(*found, protocol::QUEUE_ENTRY_OUTPUT_PATH_KEY);
}

void Queue::retryFailed(int i) {
  auto found = store_.entry(i);
  if (!found) return;
  const QStringList failedKeys = failedKeysOf(*found);
  if (failedKeys.isEmpty()) return;
  bool otherDone = false;
  for (const auto& target : protocol::kTargets) {
    const bool retried = failedKeys.contains(QLatin1String(target.typeKey));
    if (retried) found->insert(QLatin1String(target.typeKey), QLatin1String(flag::On));
    else otherDone |= isExactly(*found, target.target, flag::OnDone);
  }
  found->insert(QLatin1String(protocol::QUEUE_ENTRY_STATUS_KEY), QLatin1String(otherDone ? status::Started : status::Queued));
  found->remove(QLatin1String(protocol::QUEUE_ENTRY_FAILED_KEY));
  found->remove(QLatin1String(protocol::QUEUE_ENTRY_ERROR_TEXT_KEY));
  store_.replace(i, *found);
}

void Queue::toggle(int i, Target target) {
  auto found = store_.entry(i);
  if (!found) return;
  const QString old = flagIn(*found, target);
  if (old == QLatin1String(flag::OnDone) || old == QLatin1String(flag::OffDone)) return;
  const bool wasOn = old == QLatin1String(flag::On);
  found->insert(QLatin1String(flagKey(target)), QLatin1String(wasOn ? flag::Off : flag::On));
  store_.replace(i, *found);
}

void Queue::clearFinished() {
  store_.removeWhere([](const QVariant& item) {
    return protocol::stringValue(item.toMap(), protocol::QUEUE_ENTRY_STATUS_KEY) == QLatin1String(status::Complete);
  });
}

std::optional<protocol::Target> Queue::pendingTarget(int i) const {
  for (const auto& target : protocol::kTargets)
    if (flag(i, target.target) == QLatin1String(flag::On)) return target.target;
  return std::nullopt;
}

std::optional<int> Queue::nextEntry() const {
  for (int i = 0; i < count(); ++i)
    if (movie(i) && pendingTarget(i)) return i;
  return std::nullopt;
}

int Queue::pendingExports() const {
  int pending = 0;
  for (int i = 0; i < count(); ++i)
    for (const auto& target : protocol::kTargets) pending += flag(i, target.target) == QLatin1String(flag::On);
  return pending;
}

}  // namespace tovix
