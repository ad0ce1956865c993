// Where the windows open: each keeps the place it was left in while a
// screen still shows it, and opens wholly on the screen, frame included.
#include "app/Controller.h"

#include "app/window/WindowPlace.h"

#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QSettings>
#include <QWidget>

namespace tovix {

std::vector<std::pair<const char*, QWidget*>> Controller::rememberedWindows() const {
  return {{"WindowPlaceMain", controllerWindow_},
          {"WindowPlaceLog", logWindow_},
          {"WindowPlacePreferences", prefsWindow_},
          {"WindowPlacePreview", previewPanel_},
          {"WindowPlaceInfo", infoWindow_}};
}

// A remembered place counts only while a screen still shows its middle.
void Controller::restoreWindowPlaces() {
  for (const auto& [key, window] : rememberedWindows()) {
    const auto place = prefs_.stringForKey(key);
    if (!place || !window->restoreGeometry(QByteArray::fromBase64(place->toLatin1()))) continue;
    if (QGuiApplication::screenAt(window->geometry().center())) placed_.insert(window);
  }
}

void Controller::saveWindowPlaces() {
  for (const auto& [key, window] : rememberedWindows()) {
    if (window == controllerWindow_ || placed_.count(window))
      prefs_.setString(key, QString::fromLatin1(window->saveGeometry().toBase64()));
  }
}

void Controller::placeWindow(QWidget* window) {
  if (!placed_.count(window)) {
    QRect geometry(QPoint(), window->size().expandedTo(window->sizeHint()));
    geometry.moveCenter(controllerWindow_->frameGeometry().center());
    window->setGeometry(geometry);
    placed_.insert(window);
  }
  window->setGeometry(fittedPlace(window, window->geometry()));
}

namespace {
// The room a window manager's frame takes around window; nothing before the
// window was first shown.
QMargins frameOf(const QWidget* window) {
  const QRect frame = window->frameGeometry();
  const QRect inner = window->geometry();
  return {inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
          frame.bottom() - inner.bottom()};
}

QMargins largest(const QMargins& a, const QMargins& b) {
  return {std::max(a.left(), b.left()), std::max(a.top(), b.top()), std::max(a.right(), b.right()),
          std::max(a.bottom(), b.bottom())};
}
}  // namespace

QRect Controller::fittedPlace(const QWidget* window, const QRect& geometry) const {
  QScreen* screen = QGuiApplication::screenAt(geometry.center());
  if (!screen) screen = controllerWindow_->screen();
  // A window not shown yet has no frame: the main window's tells its size.
  const QMargins frame = largest(frameOf(window), frameOf(controllerWindow_));
  return fittedOnScreen(geometry, frame, screen->availableGeometry(), window->minimumSize());
}

}  // namespace tovix
