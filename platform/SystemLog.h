#pragma once
#include <QString>

namespace tovix {

// Writes one diagnostic line, "YYYY-MM-DD HH:MM:SS.mmm Program[pid] message",
// to standard error and the same message to syslog.
void systemLog(const QString& message);

}  // namespace tovix
