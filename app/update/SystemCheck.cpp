#include "app/update/SystemCheck.h"

#include <QtGlobal>
#include <cmath>
#include <utility>

namespace tovix {

std::optional<QString> minimumSystemRefusal(double version) {
  const double whole = std::floor(version);
  const std::pair<double, const char*> rows[] = {
      {577, "Running on Mac OS X 10.0"}, {620, "Running on Mac OS X 10.1"},
      {663, "Running on Mac OS X 10.2"}, {743, "Running on Mac OS X 10.3"},
      {824, "Running on Mac OS X 10.4"},
  };
  for (const auto& [limit, line] : rows) {
    if (whole <= limit) return QLatin1String(line);
  }
  return std::nullopt;
}

double interfaceFrameworkVersion() {
  return QT_VERSION_MAJOR * 1000 + QT_VERSION_MINOR * 10 + QT_VERSION_PATCH;
}

}  // namespace tovix
