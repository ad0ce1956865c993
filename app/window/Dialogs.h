#pragma once
// Alerts and file panels behind one interface, so that tests answer them
// instead of a person and no modal dialog ever blocks a test.
#include <QPointer>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class QFileDialog;
class QMessageBox;
class QWidget;

namespace tovix {

struct AlertSpec {
  QString messageText;
  QString firstButton;   // answering it returns 0
  QString secondButton;  // returns 1; Escape answers it
  // Which button Return presses: the second where the first destroys
  // something (clearing the queue, a reset).
  bool secondIsDefault = false;
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // Where the open panel starts.
  QString startFolder;
  // Shows a warning alert modally; answers the index of the chosen button.
  virtual int runAlert(QWidget* parent, const AlertSpec& alert);
  // The Add Movies panel for several files with these extensions, and
  // folders, in startFolder; nullopt on cancel.
  virtual std::optional<QStringList> chooseFiles(QWidget* parent, const QStringList& extensions);
  // The panel chooseFiles shows.
  static std::unique_ptr<QFileDialog> addMoviesPanel(QWidget* parent, const QStringList& extensions,
                                                     const QString& folder);
  // A panel for one folder; nullopt on cancel.
  virtual std::optional<QString> chooseFolder(QWidget* parent);
  // Tells the user something, with a list of details below; one OK button.
  // Never waits: the message stays up beside the window, and a later call
  // while it is up changes its words instead of opening another.
  virtual void inform(QWidget* parent, const QString& text, const QString& details);
  // Whether that message is up.
  virtual bool informShown() const;
  // The message box inform() shows.
  static std::unique_ptr<QMessageBox> informBox(QWidget* parent, const QString& text, const QString& details);

 private:
  static void placeBesideParent(QWidget* box, const QWidget* parent);
  QPointer<QMessageBox> shownInform_;
};

}  // namespace tovix
