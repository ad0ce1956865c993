#pragma once
#include <QString>

namespace tovix {

// Writes one line about a problem, "YYYY-MM-DD HH:MM:SS.mmm Program[pid]
// message", to standard error and the same message to syslog.
void systemLog(const QString& message);

// A routine line (a request, a completion, a check): to syslog, and to
// standard error only when verbose.
void systemNote(const QString& message);

// Whether routine lines reach standard error: set by --verbose through the
// environment (TOVIX_VERBOSE=1), so the helper Tovix starts follows it.
bool verboseLog();
void setVerboseLog(bool verbose);

}  // namespace tovix
