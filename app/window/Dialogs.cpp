#include "app/window/Dialogs.h"

#include "app/window/WindowPlace.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

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

namespace {
// Qt's own file dialog, so that folders can be chosen among the files: Open
// with a folder chosen adds the movies inside it; a double click still
// opens the folder.
class AddMoviesPanel : public QFileDialog {
 public:
  AddMoviesPanel(QWidget* parent, const QString& folder, const QString& filter)
      : QFileDialog(parent, QObject::tr("Add Movies"), folder, filter) {
    setOption(QFileDialog::DontUseNativeDialog);
    setFileMode(QFileDialog::ExistingFiles);
    setAcceptMode(QFileDialog::AcceptOpen);
  }
  void accept() override {
    const QStringList chosen = selectedFiles();
    const bool allThere = !chosen.isEmpty() && std::all_of(chosen.begin(), chosen.end(), [](const QString& path) {
      return QFileInfo::exists(path);
    });
    if (allThere)
      QDialog::accept();
    else
      QFileDialog::accept();
  }
};
}  // namespace

std::unique_ptr<QFileDialog> Dialogs::addMoviesPanel(QWidget* parent, const QStringList& extensions,
                                                     const QString& folder) {
  QStringList patterns;
  for (const QString& extension : extensions) patterns << QStringLiteral("*.") + extension;
  return std::make_unique<AddMoviesPanel>(parent, folder, QObject::tr("Movies (%1)").arg(patterns.join(u' ')));
}

std::optional<QStringList> Dialogs::chooseFiles(QWidget* parent, const QStringList& extensions) {
  const auto panel = addMoviesPanel(parent, extensions, startFolder);
  if (panel->exec() != QDialog::Accepted || panel->selectedFiles().isEmpty()) return std::nullopt;
  return panel->selectedFiles();
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
