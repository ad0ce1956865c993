// The main, preferences and log toolbars, and the menus.
#include "app/Controller.h"

#include "ui_GeneralPrefs.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QIcon>
#include <QMainWindow>
#include <QMenuBar>
#include <QToolBar>

namespace tovix {

namespace {

struct ToolbarItemRow {
  const char* identifier;
  const char* label;
  const char* image;
  const char* toolTip;
  void (Controller::*action)();
  // How the keyboard reaches the same command: its shortcut, else its menu.
  const char* keys = nullptr;
};

// Every toolbar item, in the order in which tool tips and actions are matched.
const ToolbarItemRow kToolbarItems[] = {
    {"AddToQToolbarItem", "Add Movie", "TB_Add.png", "Add a movie to the converter queue.", &Controller::addToQ, "Ctrl+O"},
    {"DeleteFromQToolbarItem", "Delete", "b_remove_red_up.png", "Delete a movie from the converter queue.",
     &Controller::deleteFromQ, "Del"},
    {"PreviewToolbarItem", "Preview", "TB_preview.png", "Preview movie.", &Controller::previewMovie, "Ctrl+Y"},
    {"InfoToolbarItem", "Info", "TB_GetInfo.png", "Show movie info.", &Controller::showInfo, "Ctrl+I"},
    {"StartQToolbarItem", "Start", "TB_Start.png", "Start converting the items on the queue.", &Controller::startQ, "Ctrl+R"},
    {"StopQToolbarItem", "Stop", "TB_Stop.png", "Stop the queue.", &Controller::stopQ, "Ctrl+."},
    {"ClearQToolbarItem", "Clear All", "TB_clear_all.png", "Clear the queue.", &Controller::clearQ, "Queue menu"},
    {"ClearFinishedToolbarItem", "Clear Finished", "TB_clear_finished.png", "Clear Finished items from the queue.",
     &Controller::clearFinished, "Queue menu"},
    {"ShowLogToolbarItem", "Show Log", "TB_log.png", "Open Log window.", &Controller::openQueueLog, "Ctrl+L"},
    {"PrefsToolbarItem", "Preferences", "preficon_general.png", "Open the preferences panel.",
     &Controller::openPrefsWindow, "Ctrl+,"},
    {"GeneralToolbarItem", "General", "preficon_general.png", "General preferences.",
     &Controller::toggleGeneralPreferenceView},
    {"UpdateToolbarItem", "Software Update", "preficon_SWUpdate.png", "Software Update.",
     &Controller::toggleUpdatePreferenceView},
    {"ClearLogToolbarItem", "Clear Log", "TB_clear_log.png", "Remove all entries from the log.", &Controller::clearLog},
};

const QStringList kMainItems{"AddToQToolbarItem",      "DeleteFromQToolbarItem", "PreviewToolbarItem",
                             "InfoToolbarItem",        "StartQToolbarItem",      "StopQToolbarItem",
                             "ClearQToolbarItem",      "ClearFinishedToolbarItem", "ShowLogToolbarItem",
                             "PrefsToolbarItem"};
const QStringList kPrefsItems{"GeneralToolbarItem", "UpdateToolbarItem"};
const QStringList kLogItems{"ClearLogToolbarItem"};

QToolBar* makeToolbar(const char* identifier, QMainWindow* window, Qt::ToolButtonStyle style) {
  auto* toolbar = new QToolBar(QString::fromLatin1(identifier), window);
  toolbar->setObjectName(QLatin1String(identifier));
  toolbar->setMovable(false);
  toolbar->setFloatable(false);
  toolbar->setToolButtonStyle(style);
  toolbar->setIconSize(QSize(32, 32));
  toolbar->toggleViewAction()->setEnabled(false);
  window->addToolBar(Qt::TopToolBarArea, toolbar);
  return toolbar;
}

}  // namespace

// Makes and keeps the items of the rows named in identifiers.
void Controller::makeToolbarItems(const QStringList& identifiers, bool selectable) {
  for (const ToolbarItemRow& row : kToolbarItems) {
    if (!identifiers.contains(QLatin1String(row.identifier))) continue;
    auto* item = new QAction(QIcon(QStringLiteral(":/images/") + row.image), tr(row.label), this);
    item->setObjectName(QLatin1String(row.identifier));
    item->setProperty("imageName", QLatin1String(row.image));
    item->setCheckable(selectable);
    toolbarItems_[QLatin1String(row.identifier)] = item;
  }
}

void Controller::buildMainToolbar() {
  makeToolbarItems(kMainItems, false);
  toolbar_ = makeToolbar("TovixToolbar", controllerWindow_, Qt::ToolButtonTextUnderIcon);
  fillToolbar(toolbar_);
}

void Controller::buildPrefsToolbar() {
  makeToolbarItems(kPrefsItems, true);
  prefsToolbar_ = makeToolbar("prefs toolbar", prefsWindow_, Qt::ToolButtonTextUnderIcon);
  auto* selection = new QActionGroup(prefsToolbar_);
  selection->setExclusive(true);
  fillToolbar(prefsToolbar_);
  for (QAction* item : prefsToolbar_->actions()) selection->addAction(item);
  setActivePrefView(generalPrefView_, false);
  toolbarItems_.at(QStringLiteral("GeneralToolbarItem"))->setChecked(true);
}

void Controller::buildLogToolbar() {
  makeToolbarItems(kLogItems, false);
  logToolbar_ = makeToolbar("log toolbar", logWindow_, Qt::ToolButtonTextUnderIcon);
  fillToolbar(logToolbar_);
}

void Controller::fillToolbar(QToolBar* bar) {
  for (const QString& identifier : toolbarDefaultItemIdentifiers(bar)) {
    if (identifier == QLatin1String(kSeparatorItemIdentifier)) {
      bar->addSeparator();
    } else if (identifier == QLatin1String(kFlexibleSpaceItemIdentifier)) {
      auto* space = new QWidget(bar);
      space->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
      space->setObjectName(QLatin1String(kFlexibleSpaceItemIdentifier));
      bar->addWidget(space);
    } else if (QAction* item = toolbar(bar, identifier, true)) {
      toolbarWillAddItem(item);
      bar->addAction(item);
    }
  }
}

QStringList Controller::toolbarDefaultItemIdentifiers(QToolBar* bar) const {
  if (bar && bar == toolbar_)
    return {"AddToQToolbarItem", kSeparatorItemIdentifier, "StartQToolbarItem", "StopQToolbarItem",
            kFlexibleSpaceItemIdentifier, "PreviewToolbarItem", "InfoToolbarItem", "ShowLogToolbarItem",
            "ClearFinishedToolbarItem", "ClearQToolbarItem"};
  if (bar && bar == prefsToolbar_) return kPrefsItems;
  if (bar && bar == logToolbar_) return {kFlexibleSpaceItemIdentifier, "ClearLogToolbarItem"};
  return {};
}

QStringList Controller::toolbarAllowedItemIdentifiers(QToolBar* bar) const {
  return toolbarDefaultItemIdentifiers(bar);
}

QStringList Controller::toolbarSelectableItemIdentifiers(QToolBar* bar) const {
  return bar && bar == prefsToolbar_ ? kPrefsItems : QStringList();
}

QAction* Controller::toolbar(QToolBar* bar, const QString& itemIdentifier, bool) const {
  const QStringList* answered = bar == toolbar_         ? &kMainItems
                                : bar == prefsToolbar_ ? &kPrefsItems
                                : bar == logToolbar_   ? &kLogItems
                                                       : nullptr;
  if (!bar || !answered || !answered->contains(itemIdentifier)) return nullptr;
  const auto found = toolbarItems_.find(itemIdentifier);
  return found == toolbarItems_.end() ? nullptr : found->second;
}

void Controller::toolbarWillAddItem(QAction* item) {
  for (const ToolbarItemRow& row : kToolbarItems) {
    if (item->objectName() != QLatin1String(row.identifier)) continue;
    // Every command of the toolbar has a shortcut or a menu item; the tool
    // tip names it for those who do not use a mouse.
    item->setToolTip(row.keys ? tr("%1 (%2)").arg(tr(row.toolTip), tr(row.keys)) : tr(row.toolTip));
    if (item->isCheckable()) {
      // A pane is chosen by whatever checks its item: a click, or a screen
      // reader's toggle, which checks it without triggering it.
      connect(item, &QAction::toggled, this, [this, action = row.action](bool on) {
        if (on) (this->*action)();
      });
    } else {
      connect(item, &QAction::triggered, this, row.action, Qt::UniqueConnection);
    }
    return;
  }
}

void Controller::buildMenus() {
  QMenuBar* bar = controllerWindow_->menuBar();
  QMenu* application = applicationMenu_ = bar->addMenu(tr("&Tovix"));
  application->addAction(tr("About Tovix"), this, &Controller::openAboutPanel);
  application->addAction(tr("Preferences…"), QKeySequence(tr("Ctrl+,")), this, &Controller::openPrefsWindow);
  application->addAction(tr("Check for Updates…"), this, &Controller::checkSoftwareUpdate);
  application->addSeparator();
  application->addAction(tr("Reset Tovix…"), this, &Controller::factoryReset);
  application->addSeparator();
  application->addAction(tr("Quit Tovix"), QKeySequence::Quit, controllerWindow_, &QWidget::close);
  QMenu* queue = bar->addMenu(tr("&Queue"));
  queue->addAction(tr("Add Movie…"), QKeySequence::Open, this, &Controller::addToQ);
  deleteAction_ = queue->addAction(tr("Delete Movie"), QKeySequence::Delete, this, &Controller::deleteFromQ);
  queue->addSeparator();
  queue->addAction(tr("Start"), QKeySequence(tr("Ctrl+R")), this, &Controller::startQ);
  stopAction_ = queue->addAction(tr("Stop"), QKeySequence(tr("Ctrl+.")), this, &Controller::stopQ);
  pauseAction_ = queue->addAction(tr("Pause or Resume"), QKeySequence(tr("Ctrl+P")), this, &Controller::pauseQ);
  QAction* retry = queue->addAction(tr("Retry Failed"), this, &Controller::retryFailed);
  // Greyed out when nothing it would act on has failed.
  connect(queue, &QMenu::aboutToShow, retry, [this, retry] { retry->setEnabled(canRetryFailed()); });
  queue->addSeparator();
  queue->addAction(tr("Clear Finished"), this, &Controller::clearFinished);
  queue->addAction(tr("Clear All…"), this, &Controller::clearQ);
  QMenu* window = bar->addMenu(tr("&Window"));
  window->addAction(tr("Preview"), QKeySequence(tr("Ctrl+Y")), this, &Controller::previewMovie);
  window->addAction(tr("Movie Info"), QKeySequence(tr("Ctrl+I")), this, &Controller::showInfo);
  window->addAction(tr("Log"), QKeySequence(tr("Ctrl+L")), this, &Controller::openQueueLog);
}

// Commands that could not act now look so: Stop and Pause or Resume while no
// export is under way, Delete with no row chosen.
void Controller::showCommandStates() {
  const bool running = qRunning_;
  const bool chosen = deleteAction_ && selectedRow() >= 0;  // no menus yet: nothing to grey
  const auto item = [this](const char* identifier) {
    const auto found = toolbarItems_.find(QLatin1String(identifier));
    return found == toolbarItems_.end() ? nullptr : found->second;
  };
  for (QAction* action : {stopAction_, pauseAction_, item("StopQToolbarItem")})
    if (action) action->setEnabled(running);
  for (QAction* action : {deleteAction_, item("DeleteFromQToolbarItem")})
    if (action) action->setEnabled(chosen);
}

}  // namespace tovix
