#include "AppTestSupport.h"

namespace tovix::test {

ControllerHarness::ControllerHarness() {
  auto fake = std::make_unique<FakeHelper>();
  helper = fake.get();
  controller = std::make_unique<Controller>(center, std::move(fake));
  controller->playFinishedSound = [this] { ++sounds; };
  controller->requestAttention = [this] { ++attentions; };
  auto scripted = std::make_unique<FakeDialogs>();
  dialogs = scripted.get();
  controller->setDialogs(std::move(scripted));
  auto recording = std::make_unique<FakeDesktop>();
  desktop = recording.get();
  controller->setDesktopSession(std::move(recording));
  controller->init();
  controller->awakeFromNib();
}

void ControllerHarness::add(const QString& path, std::initializer_list<protocol::Target> on) {
  const char* keys[] = {Preferences::iPhoneExportSwitch, Preferences::iPodExportSwitch,
                        Preferences::AppleTVExportSwitch, Preferences::QTExportSwitch};
  for (const auto& t : protocol::kTargets)
    controller->prefs().setBool(keys[int(t.target)], std::find(on.begin(), on.end(), t.target) != on.end());
  controller->q()->addMovie(path);
}

void ControllerHarness::complete(const char* result) {
  QVariantMap completion = center.requests().back();
  completion.insert(protocol::EXPORT_RESULT_KEY, QString(result));
  center.deliver(protocol::kExportComplete, completion);
}

QStringList ControllerHarness::logActions() const {
  QStringList actions;
  for (int i = 0; i < controller->qLog()->count(); ++i) actions << controller->qLog()->action(i).value_or("");
  return actions;
}

}  // namespace tovix::test
