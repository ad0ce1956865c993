#include "app/update/SoftwareUpdater.h"

#include "app/update/SystemCheck.h"
#include "app/store/Preferences.h"
#include "platform/Desktop.h"
#include "platform/Paths.h"
#include "platform/PropertyList.h"
#include "platform/SystemLog.h"
#include "ui_SoftwareUpdate.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QEventLoop>
#include <QKeyEvent>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSaveFile>
#include <QThread>
#include <climits>

namespace tovix {

namespace {

// A version list is a few hundred bytes; anything far larger is refused.
constexpr qint64 kMaxVersionListBytes = 64 * 1024;
constexpr int kFetchTimeoutMs = 15000;

QNetworkRequest requestFor(const QString& address) {
  QNetworkRequest request{QUrl(address)};
  request.setTransferTimeout(kFetchTimeoutMs);
  return request;
}

bool succeeded(const QNetworkReply* reply) {
  return reply->error() == QNetworkReply::NoError &&
         reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200;
}

struct Fetched {
  QByteArray body;
  QString failure;  // why nothing usable came, in plain words; empty on success
};

// Fetches a small document synchronously on the calling (worker) thread.
Fetched fetchSmallDocument(const QString& address) {
  QNetworkAccessManager manager;
  QNetworkReply* reply = manager.get(requestFor(address));
  QByteArray body;
  bool tooLarge = false;
  QObject::connect(reply, &QNetworkReply::readyRead, reply, [&] {
    body += reply->readAll();
    if (body.size() > kMaxVersionListBytes) {
      tooLarge = true;
      reply->abort();
    }
  });
  QEventLoop loop;
  QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
  loop.exec();
  if (!tooLarge) body += reply->readAll();
  QString failure;
  const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  if (tooLarge || body.size() > kMaxVersionListBytes)
    failure = QObject::tr("the server's answer is far too large");
  else if (reply->error() != QNetworkReply::NoError && status == 0)
    failure = QObject::tr("the server could not be reached (%1)").arg(reply->errorString());
  else if (!succeeded(reply))
    failure = QObject::tr("the server answered with status %1").arg(status);
  delete reply;
  return {failure.isEmpty() ? body : QByteArray(), failure};
}

// The numbers of a fetched version list, or why there are none.
std::pair<VersionNumbers, QString> readCheck(const Fetched& fetched) {
  if (!fetched.failure.isEmpty()) return {{}, fetched.failure};
  const auto list = plist::parse(fetched.body);
  if (!list || !list->toMap().contains(QStringLiteral("Major Version")))
    return {{}, QObject::tr("the server's version list cannot be read")};
  return {parseVersionList(fetched.body), {}};
}

}  // namespace

int versionNumberValue(const QVariant& value) {
  switch (value.typeId()) {
    case QMetaType::LongLong:
    case QMetaType::Int:
      return static_cast<int>(std::clamp<qlonglong>(value.toLongLong(), INT_MIN, INT_MAX));
    case QMetaType::QString: {
      const QString text = value.toString();
      qsizetype i = 0;
      while (i < text.size() && text.at(i).isSpace()) ++i;
      bool negative = false;
      if (i < text.size() && (text.at(i) == u'-' || text.at(i) == u'+')) negative = text.at(i++) == u'-';
      qlonglong number = 0;
      for (; i < text.size() && text.at(i).isDigit() && text.at(i).unicode() < 128; ++i)
        number = std::min<qlonglong>(number * 10 + (text.at(i).unicode() - '0'), qlonglong(INT_MAX) + 1);
      return static_cast<int>(std::clamp<qlonglong>(negative ? -number : number, INT_MIN, INT_MAX));
    }
    default:
      return 0;
  }
}

VersionNumbers parseVersionList(const QByteArray& document) {
  const QVariantMap list = plist::parse(document).value_or(QVariant()).toMap();
  return {versionNumberValue(list.value(QStringLiteral("Major Version"))),
          versionNumberValue(list.value(QStringLiteral("Minor Version"))),
          versionNumberValue(list.value(QStringLiteral("Build Version")))};
}

SoftwareUpdater::SoftwareUpdater(const Preferences& prefs, QWidget* mainWindow, QString baseAddress,
                                 QObject* parent)
    : QObject(parent),
      openWebAddress(desktop::openWebAddress),
      prefs_(prefs),
      mainWindow_(mainWindow),
      baseAddress_(std::move(baseAddress)),
      panel_(new QWidget(mainWindow, Qt::Dialog)),
      ui_(std::make_unique<Ui::SoftwareUpdate>()),
      network_(new QNetworkAccessManager(this)) {
  ui_->setupUi(panel_);
  panel_->installEventFilter(this);
  connect(ui_->softwareUpdateDownloadButton, &QPushButton::clicked, this, &SoftwareUpdater::doDownloadUpdate);
  connect(ui_->softwareUpdateVisitOrvaneButton, &QPushButton::clicked, this, &SoftwareUpdater::doVisitOrvaneSite);
  connect(ui_->closeButton, &QPushButton::clicked, this, &SoftwareUpdater::closePanel);
  connect(ui_->tryAgainButton, &QPushButton::clicked, this, &SoftwareUpdater::initManual);
  // Download and the product page mean something only once a newer version
  // is known; until then they are not shown at all.
  ui_->softwareUpdateDownloadButton->hide();
  ui_->softwareUpdateVisitOrvaneButton->hide();
}

// The panel may already be gone with the main window that owns it.
SoftwareUpdater::~SoftwareUpdater() { delete panel_.data(); }

void SoftwareUpdater::init() {
  if (prefs_.hasValue(Preferences::SoftwareUpdateCheck) && !prefs_.softwareUpdateCheck()) return;
  runningManual_ = false;
  systemNote(QStringLiteral("Starting software update check for Tovix."));
  if (const auto refusal = minimumSystemRefusal(interfaceFrameworkVersion())) {
    systemLog(*refusal);
    QCoreApplication::exit(1);
    return;
  }
  startCheck();
}

void SoftwareUpdater::initManual() {
  runningManual_ = true;
  systemNote(QStringLiteral("Starting software update check for Tovix."));
  startCheck();
}

void SoftwareUpdater::initVersionInfo() { current_ = kCurrentVersion; }

void SoftwareUpdater::startCheck() {
  initVersionInfo();
  // The fetch blocks its own thread only; the result comes back to the GUI
  // thread as a queued call. Each check keeps its own numbers.
  const QString address = baseAddress_ + QStringLiteral("/tovix/TovixVersion.xml");
  QPointer<SoftwareUpdater> self(this);
  QThread* worker = QThread::create([address, self] {
    const auto [published, failure] = readCheck(fetchSmallDocument(address));
    QMetaObject::invokeMethod(qApp, [self, published = published, failure = failure] {
      if (self) self->reportCheck(published, failure);
    }, Qt::QueuedConnection);
  });
  connect(worker, &QThread::finished, worker, &QObject::deleteLater);
  worker->start();
}

void SoftwareUpdater::reportCheck(VersionNumbers published, const QString& failure) {
  latest_ = published;
  ui_->tryAgainButton->setVisible(!failure.isEmpty());
  if (!failure.isEmpty()) {
    // A check that could not check never claims there is nothing newer; an
    // automatic one stays silent.
    systemNote(QStringLiteral("Software update check failed: %1.").arg(failure));
    if (runningManual_) {
      ui_->updateMsg->setText(tr("Tovix could not check for updates: %1.").arg(failure));
      ui_->updateMsg->show();
      loadPanel();
    }
  } else if (published > current_) {
    ui_->updateMsg->setText(tr("A new version of Tovix is available."));
    ui_->updateMsg->show();
    for (QPushButton* button : {ui_->softwareUpdateDownloadButton, ui_->softwareUpdateVisitOrvaneButton}) {
      button->setEnabled(true);
      button->show();
    }
    loadPanel();
  } else if (runningManual_) {
    ui_->updateMsg->show();
    ui_->updateMsg->setText(tr("You have the latest version of Tovix."));
    loadPanel();
  }
  systemNote(QStringLiteral("Finished software update check for Tovix."));
  emit checkFinished();
}

void SoftwareUpdater::loadPanel() {
  panel_->show();
  panel_->raise();
  panel_->activateWindow();
}

void SoftwareUpdater::doDownloadUpdate() {
  ui_->softwareUpdateDownloadButton->setEnabled(false);
  ui_->updateProgress->show();
  downloadNewDiscImage();
}

void SoftwareUpdater::downloadNewDiscImage() {
  QDir().mkpath(paths::desktopFolder());
  // QSaveFile writes beside the target and renames only on commit, so a
  // download that fails half way leaves nothing on the desktop.
  discImage_ = std::make_unique<QSaveFile>(paths::desktopFolder() + QStringLiteral("/Tovix.dmg"));
  if (!discImage_->open(QIODevice::WriteOnly)) {
    finishDownload(false);
    return;
  }
  download_ = network_->get(requestFor(baseAddress_ + QStringLiteral("/Download/Tovix.dmg")));
  connect(download_, &QNetworkReply::readyRead, this, [this] {
    const QByteArray chunk = download_->readAll();
    if (discImage_->write(chunk) != chunk.size()) download_->abort();
  });
  connect(download_, &QNetworkReply::finished, this, [this] {
    const QByteArray rest = download_->readAll();
    const bool written = succeeded(download_) && discImage_->write(rest) == rest.size() && discImage_->commit();
    if (!written) discImage_->cancelWriting();
    download_->deleteLater();
    finishDownload(written);
  });
}

void SoftwareUpdater::finishDownload(bool written) {
  ui_->updateProgress->hide();
  ui_->softwareUpdateDownloadButton->setEnabled(!written);  // a failed download can be tried again
  ui_->updateMsg->setText(written ? tr("A disc image containing the new version of Tovix has been downloaded to "
                                       "your desktop.")
                                  : tr("The new version could not be downloaded. Please try again later."));
  ui_->updateMsg->show();
  emit downloadFinished(written);
}

void SoftwareUpdater::doVisitOrvaneSite() {
  if (openWebAddress) openWebAddress(baseAddress_ + QStringLiteral("/tovix/"));
}

void SoftwareUpdater::closePanel() {
  ui_->updateMsg->setText(QStringLiteral(" "));
  panel_->close();
}

bool SoftwareUpdater::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Close) windowWillClose(watched);
  // The panel is a plain window, not a dialog: Escape, which no control in
  // it uses, closes it as a dialog's would.
  if (watched == panel_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    closePanel();
    return true;
  }
  return QObject::eventFilter(watched, event);
}

void SoftwareUpdater::windowWillClose(QObject* window) {
  if (window != panel_ || !mainWindow_) return;
  mainWindow_->raise();
  mainWindow_->activateWindow();
}

}  // namespace tovix
