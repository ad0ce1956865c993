#pragma once
// One update check with its own panel: fetches the vendor's version list on a
// worker thread, says whether a newer Tovix exists, and downloads its disc
// image to the desktop without blocking the window.
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QSaveFile;

namespace Ui {
class SoftwareUpdate;
}

namespace tovix {

class Preferences;

// A version as (major, minor, build).
struct VersionNumbers {
  int major = 0;
  int minor = 0;
  int build = 0;
  friend auto operator<=>(const VersionNumbers&, const VersionNumbers&) = default;
};

// The numbers of a version list document; every missing or unreadable entry
// (or a document that is not a property-list dictionary) reads as 0.
VersionNumbers parseVersionList(const QByteArray& document);

// A value read as a signed 32-bit integer: integers as they are, strings by
// the decimal number at their start; anything else is 0.
int versionNumberValue(const QVariant& value);

class SoftwareUpdater : public QObject {
  Q_OBJECT
 public:
  // The vendor's server (a reserved example domain).
  static constexpr const char* kVendorBaseAddress = "http://www.tovix.example";
  // This build's version, from the project's (CMakeLists.txt).
  static constexpr VersionNumbers kCurrentVersion{TOVIX_VERSION_MAJOR, TOVIX_VERSION_MINOR, TOVIX_VERSION_PATCH};

  SoftwareUpdater(const Preferences& prefs, QWidget* mainWindow,
                  QString baseAddress = QLatin1String(kVendorBaseAddress), QObject* parent = nullptr);
  ~SoftwareUpdater() override;

  // The automatic check: nothing (not even a log line) when turned off.
  void init();
  // A check the user asked for: always runs and always answers.
  void initManual();
  void initVersionInfo();
  void loadPanel();
  void doDownloadUpdate();
  void doVisitOrvaneSite();
  void closePanel();
  void downloadNewDiscImage();
  void windowWillClose(QObject* window);

  QWidget* softwareUpdatePanel() const { return panel_; }
  Ui::SoftwareUpdate& ui() const { return *ui_; }
  bool runningManual() const { return runningManual_; }
  const VersionNumbers& latestVersion() const { return latest_; }
  // What opens the product page; replaceable by tests.
  std::function<bool(const QString&)> openWebAddress;

 signals:
  void checkFinished();
  void downloadFinished(bool written);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void startCheck();
  // The worker thread's result, handed to the GUI thread.
  void reportCheck(VersionNumbers published, const QString& failure);
  void finishDownload(bool written);

  const Preferences& prefs_;
  QPointer<QWidget> mainWindow_;
  QString baseAddress_;
  QPointer<QWidget> panel_;  // owned by the main window when there is one
  std::unique_ptr<Ui::SoftwareUpdate> ui_;
  VersionNumbers current_;
  VersionNumbers latest_;
  bool runningManual_ = false;
  QNetworkAccessManager* network_ = nullptr;
  QPointer<QNetworkReply> download_;
  std::unique_ptr<QSaveFile> discImage_;
};

}  // namespace tovix
