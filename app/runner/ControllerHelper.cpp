// The helper process as the runner sees it: requests wait until a helper
// listens; a helper that goes away during an export fails that export and
// the run goes on with a new helper; one that cannot start ends the run with
// a message in the window.
#include "app/Controller.h"

#include "media/Exporter.h"
#include "platform/SystemLog.h"
#include "protocol/Protocol.h"

#include <QFile>
#include <QLabel>

namespace tovix {

void Controller::postExportRequest() {
  requestDelivered_ = helperTask_->isReady();
  if (requestDelivered_) notificationCenter_.post(QLatin1String(protocol::kExportRequest), outstanding_->request);
}

void Controller::onHelperReady() {
  helperMessage()->hide();
  if (!outstanding_ || requestDelivered_) return;
  postExportRequest();
}

void Controller::onHelperLost() {
  if (shuttingDown_ || !outstanding_ || !requestDelivered_) return;
  systemLog(QStringLiteral("TovixHelper went away during an export."));
  // A helper killed outright leaves its temporary file; nobody else removes it.
  QFile::remove(media::temporaryOutputPath(outstanding_->expectedOutput));
  QVariantMap failed = outstanding_->request;
  failed.insert(QLatin1String(protocol::EXPORT_RESULT_KEY), QLatin1String(protocol::kResultFailed));
  failed.insert(QLatin1String(protocol::EXPORT_ERROR_TEXT_KEY),
                tr("the converter TovixHelper stopped during the export."));
  settleCompletion(failed);
}

void Controller::onHelperUnavailable(const QString& reason) {
  systemLog(reason);
  helperMessage()->setText(reason);
  helperMessage()->show();
  if (!qRunning()) return;
  // The request never reached a helper: its target stays "On" for a later Start.
  outstanding_.reset();
  hideExportWidgets();
  finishRun(true);
}

}  // namespace tovix
