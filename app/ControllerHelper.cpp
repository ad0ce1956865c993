// The helper process as the runner sees it: requests wait until a helper
// listens; a helper that goes away during an export fails that export and
// the run goes on with a new helper; one that cannot start ends the run with
// a message in the window.
#include "app/Controller.h"

#include "platform/SystemLog.h"
#include "protocol/Protocol.h"

#include <QLabel>

namespace tovix {

void Controller::postExportRequest(const QVariantMap& request) {
  outstandingRequest_ = request;
  requestDelivered_ = helperTask_->isReady();
  if (requestDelivered_) notificationCenter_.post(QLatin1String(protocol::kExportRequest), request);
}

void Controller::onHelperReady() {
  helperMessage()->hide();
  if (!outstandingRequest_ || requestDelivered_) return;
  requestDelivered_ = true;
  notificationCenter_.post(QLatin1String(protocol::kExportRequest), *outstandingRequest_);
}

void Controller::onHelperLost() {
  if (shuttingDown_ || !outstandingRequest_ || !requestDelivered_) return;
  systemLog(QStringLiteral("TovixHelper went away during an export."));
  QVariantMap failed = *outstandingRequest_;
  failed.insert(QLatin1String(protocol::EXPORT_RESULT_KEY), QLatin1String(protocol::kResultFailed));
  qHandlerCompletionReceived(failed);
}

void Controller::onHelperUnavailable(const QString& reason) {
  systemLog(reason);
  helperMessage()->setText(reason);
  helperMessage()->show();
  if (!qRunning()) return;
  // The request never reached a helper: its target stays "On" for a later Start.
  outstandingRequest_.reset();
  hideExportWidgets();
  updateqRunning(false);
}

}  // namespace tovix
