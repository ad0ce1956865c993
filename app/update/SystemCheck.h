#pragma once
// Whether the running interface framework is new enough for Tovix: asked at
// start-up and before an update is offered.
#include <QString>
#include <optional>

namespace tovix {

// The refusal logged for an interface framework older than required, or
// nullopt when the version is new enough. version is the framework's version
// number; only its whole part counts.
std::optional<QString> minimumSystemRefusal(double version);

// The version number of the running interface framework: Qt's version as
// major * 1000 + minor * 10 + patch (6.4.2 gives 6042).
double interfaceFrameworkVersion();

}  // namespace tovix
