#include "app/window/Dialogs.h"

#include "app/window/WindowPlace.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

namespace tovix {

int Dialogs::runAlert(QWidget* parent, const AlertSpec& alert) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Tovix"), alert.messageText, QMessageBox::NoButton, parent);
  QPushButton* first = box.addButton(alert.firstButton, QMessageBox::AcceptRole);
  QPushButton* second = box.addButton(alert.secondButton, QMessageBox::RejectRole);
  box.setDefaultButton(alert.secondIsDefault ? second : first);
  box.setEscapeButton(second);
  box.exec();
  return box.clickedButton() == first ? 0 : 1;
}

std::optional<QStringList> Dialogs::chooseFiles(QWidget* parent, const QStringList& extensions) {
  QStringList patterns;
  for (const QString& extension : extensions) patterns << QStringLiteral("*.") + extension;
  const QString filter = QObject::tr("Movies (%1)").arg(patterns.join(u' '));
  const QStringList files = QFileDialog::getOpenFileNames(parent, QString(), startFolder, filter);
  if (files.isEmpty()) return std::nullopt;
  return files;
}

namespace {
// Lines of details shown in the message itself; the rest under Show Details.
constexpr qsizetype kShownDetailLines = 12;

void setDetails(QMessageBox& box, const QString& details) {
  const QStringList lines = details.split(u'\n');
  const bool long_ = lines.size() > kShownDetailLines;
  const QString more = QObject::tr("… and %1 more (Show Details)").arg(lines.size() - kShownDetailLines);
  box.setInformativeText(long_ ? lines.mid(0, kShownDetailLines).join(u'\n') + u'\n' + more : details);
  box.setDetailedText(long_ ? details : QString());
}
}  // namespace

std::unique_ptr<QMessageBox> Dialogs::informBox(QWidget* parent, const QString& text, const QString& details) {
  auto box = std::make_unique<QMessageBox>(QMessageBox::Information, QStringLiteral("Tovix"), text, QMessageBox::Ok, parent);
  setDetails(*box, details);
  return box;
}

void Dialogs::inform(QWidget* parent, const QString& text, const QString& details) {
  if (!shownInform_) {
    shownInform_ = informBox(parent, text, details).release();  // owned by parent
    shownInform_->setWindowModality(Qt::NonModal);
  } else {
    shownInform_->setText(text);
    setDetails(*shownInform_, details);
  }
  shownInform_->show();
  shownInform_->raise();
  placeBesideParent(shownInform_, parent);
}

// Beside or below the window where the screen allows, so the message leaves
// the queue's check boxes in view.
void Dialogs::placeBesideParent(QWidget* box, const QWidget* parent) {
  if (!parent || !parent->screen()) return;
  box->adjustSize();
  const QWidget* window = parent->window();
  const QMargins frame(window->geometry().left() - window->frameGeometry().left(),
                       window->geometry().top() - window->frameGeometry().top(),
                       window->frameGeometry().right() - window->geometry().right(),
                       window->frameGeometry().bottom() - window->geometry().bottom());
  const QPoint corner = besideWindow(window->frameGeometry(), box->size().grownBy(frame),
                                     window->screen()->availableGeometry());
  box->move(corner);
}

bool Dialogs::informShown() const { return shownInform_ && shownInform_->isVisible(); }

std::optional<QString> Dialogs::chooseFolder(QWidget* parent) {
  const QString folder = QFileDialog::getExistingDirectory(parent, QObject::tr("Choose Export Folder"));
  if (folder.isEmpty()) return std::nullopt;
  return folder;
}

}  // namespace tovix
