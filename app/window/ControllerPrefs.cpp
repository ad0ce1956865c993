// The preferences window with its two panes, and the about panel.
#include "app/Controller.h"

#include "app/window/Dialogs.h"
#include "ui_GeneralPrefs.h"
#include "ui_UpdatePrefs.h"

#include <QAbstractButton>
#include <QAction>
#include <QMainWindow>
#include <QPropertyAnimation>

namespace tovix {

namespace {
// Room above a pane for the window's toolbar.
constexpr int kToolbarRoom = 78;
constexpr int kPaneSwapMs = 160;
}  // namespace

void Controller::connectPreferenceControls() {
  const Ui::GeneralPrefs& g = *generalUi_;
  const std::pair<QAbstractButton*, void (Controller::*)()> actions[] = {
      {g.exportiPhonePrefButton, &Controller::toggleExportiPhonePref},
      {g.exportiPodPrefButton, &Controller::toggleExportiPodPref},
      {g.exportAppleTVPrefButton, &Controller::toggleExportAppleTVPref},
      {g.exportQTPrefButton, &Controller::toggleExportQTPref},
      {g.exportDiffLocationPrefButton, &Controller::toggleExportDiffLocation},
      {g.dockBouncePref, &Controller::toggleDockBounce},
      {g.exportCompleteAlert, &Controller::toggleExportCompletePref},
      {g.queueNotificationPref, &Controller::toggleQueueNotificationPref},
      {g.copyDevicePicturesPref, &Controller::toggleCopyDevicePicturesPref},
      {g.chooseExportDirectory, &Controller::toggleExportDirectory},
      {updateUi_->autoCheckForUpdatesPref, &Controller::toggleSoftwareUpdateCheck},
  };
  for (const auto& [control, action] : actions) connect(control, &QAbstractButton::clicked, this, action);
}

void Controller::loadPreferenceSwitches() {
  const Ui::GeneralPrefs& g = *generalUi_;
  g.exportiPhonePrefButton->setChecked(prefs_.boolForKey(Preferences::iPhoneExportSwitch));
  g.exportiPodPrefButton->setChecked(prefs_.boolForKey(Preferences::iPodExportSwitch));
  g.exportAppleTVPrefButton->setChecked(prefs_.boolForKey(Preferences::AppleTVExportSwitch));
  g.exportQTPrefButton->setChecked(prefs_.boolForKey(Preferences::QTExportSwitch));
  g.exportDiffLocationPrefButton->setChecked(prefs_.boolForKey(Preferences::PrefExportDiffDirectory));
  g.exportCompleteAlert->setChecked(prefs_.boolForKey(Preferences::PrefExportCompletePref));
  g.queueNotificationPref->setChecked(prefs_.queueNotification());
  g.copyDevicePicturesPref->setChecked(prefs_.copyDevicePictures());
  g.dockBouncePref->setChecked(prefs_.boolForKey(Preferences::PrefDockBounce));
}

void Controller::openPrefsWindow() {
  if (!showOrHide(prefsWindow_, true)) return;
  updateUi_->autoCheckForUpdatesPref->setChecked(prefs_.softwareUpdateCheck());
  loadPreferenceSwitches();
  if (const auto folder = prefs_.stringForKey(Preferences::PrefExportDirectory))
    generalUi_->exportDirectoryPref->setText(*folder);
}

void Controller::toggleGeneralPreferenceView() {
  setActivePrefView(generalPrefView_, true);
  loadPreferenceSwitches();
}

void Controller::toggleUpdatePreferenceView() { setActivePrefView(updatePrefView_, true); }

void Controller::setActivePrefView(QWidget* view, bool animate) {
  const QRect window = prefsWindow_->geometry();
  const QSize pane = view->size();
  if (activePrefView_ && activePrefView_ != view) activePrefView_->hide();
  prefsWindow_->setFixedSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  prefsWindow_->setMinimumSize(0, 0);
  // The top-left corner stays where the screen allows; the window takes the
  // pane's width, and its height is the pane's plus the room for the toolbar.
  const QRect target =
      fittedPlace(prefsWindow_, QRect(window.x(), window.y(), pane.width(), pane.height() + kToolbarRoom));
  view->setParent(activePrefContentView_);
  view->move(0, 0);
  view->show();
  activePrefView_ = view;
  if (animate && prefsWindow_->isVisible()) {
    auto* swap = new QPropertyAnimation(prefsWindow_, "geometry", prefsWindow_);
    swap->setDuration(kPaneSwapMs);
    swap->setEndValue(target);
    connect(swap, &QPropertyAnimation::finished, prefsWindow_, [this, target] { prefsWindow_->setFixedSize(target.size()); });
    swap->start(QAbstractAnimation::DeleteWhenStopped);
    return;
  }
  prefsWindow_->setGeometry(target);
  prefsWindow_->setFixedSize(target.size());
}

void Controller::storeSwitch(const char* key, bool on) { prefs_.setBool(key, on); }

void Controller::toggleExportiPhonePref() {
  storeSwitch(Preferences::iPhoneExportSwitch, generalUi_->exportiPhonePrefButton->isChecked());
}
void Controller::toggleExportiPodPref() {
  storeSwitch(Preferences::iPodExportSwitch, generalUi_->exportiPodPrefButton->isChecked());
}
void Controller::toggleExportAppleTVPref() {
  storeSwitch(Preferences::AppleTVExportSwitch, generalUi_->exportAppleTVPrefButton->isChecked());
}
void Controller::toggleExportQTPref() {
  storeSwitch(Preferences::QTExportSwitch, generalUi_->exportQTPrefButton->isChecked());
}
void Controller::toggleExportDiffLocation() {
  storeSwitch(Preferences::PrefExportDiffDirectory, generalUi_->exportDiffLocationPrefButton->isChecked());
}
void Controller::toggleDockBounce() {
  storeSwitch(Preferences::PrefDockBounce, generalUi_->dockBouncePref->isChecked());
}

void Controller::flipPreference(const char* key, bool currentValue, QAbstractButton* control) {
  prefs_.setBool(key, !currentValue);
  control->setChecked(!currentValue);
}

void Controller::toggleSoftwareUpdateCheck() {
  flipPreference(Preferences::SoftwareUpdateCheck, prefs_.softwareUpdateCheck(), updateUi_->autoCheckForUpdatesPref);
}

void Controller::toggleExportCompletePref() {
  flipPreference(Preferences::PrefExportCompletePref, prefs_.boolForKey(Preferences::PrefExportCompletePref),
                 generalUi_->exportCompleteAlert);
}

void Controller::toggleQueueNotificationPref() {
  flipPreference(Preferences::PrefQueueNotification, prefs_.queueNotification(), generalUi_->queueNotificationPref);
}

void Controller::toggleCopyDevicePicturesPref() {
  flipPreference(Preferences::PrefCopyDevicePictures, prefs_.copyDevicePictures(), generalUi_->copyDevicePicturesPref);
}

void Controller::toggleExportDirectory() {
  const auto folder = dialogs_->chooseFolder(prefsWindow_);
  if (!folder) return;
  generalUi_->exportDirectoryPref->setText(*folder);
  prefs_.setString(Preferences::PrefExportDirectory, *folder);
  // Choosing a folder means saving there.
  generalUi_->exportDiffLocationPrefButton->setChecked(true);
  storeSwitch(Preferences::PrefExportDiffDirectory, true);
}

void Controller::openAboutPanel() {
  if (!aboutPanel_->isVisible()) placeWindow(aboutPanel_);
  aboutPanel_->show();
  aboutPanel_->raise();
  aboutPanel_->activateWindow();
}

}  // namespace tovix
