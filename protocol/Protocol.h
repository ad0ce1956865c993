#pragma once
// What Tovix and TovixHelper share: notification names, dictionary keys, the
// flag files and the rule that names an export's output file.
#include <QString>
#include <QVariantMap>
#include <array>
#include <cstdint>
#include <optional>

namespace tovix::protocol {

// Notification names.
inline constexpr const char* kExportRequest = "TovixExportRequest";
inline constexpr const char* kExportAbort = "TovixExportAbort";
inline constexpr const char* kExportProgress = "TovixExportProgress";
inline constexpr const char* kExportComplete = "TovixExportComplete";
inline constexpr const char* kExportError = "TovixExportError";

// Queue entry keys; the four target keys also name targets in requests.
inline constexpr const char* QUEUE_ENTRY_MOVIE_PATH_KEY = "QUEUE_ENTRY_MOVIE_PATH_KEY";
inline constexpr const char* QUEUE_ENTRY_DISPLAY_KEY = "QUEUE_ENTRY_DISPLAY_KEY";
inline constexpr const char* QUEUE_ENTRY_IPHONE_KEY = "QUEUE_ENTRY_IPHONE_KEY";
inline constexpr const char* QUEUE_ENTRY_IPOD_KEY = "QUEUE_ENTRY_IPOD_KEY";
inline constexpr const char* QUEUE_ENTRY_APPLETV_KEY = "QUEUE_ENTRY_APPLETV_KEY";
inline constexpr const char* QUEUE_ENTRY_QT_KEY = "QUEUE_ENTRY_QT_KEY";
inline constexpr const char* QUEUE_ENTRY_STATUS_KEY = "QUEUE_ENTRY_STATUS_KEY";
// Added to an entry whose export failed: why, in plain words, and which
// targets failed (their keys, separated by commas), so they can be retried.
inline constexpr const char* QUEUE_ENTRY_ERROR_TEXT_KEY = "QUEUE_ENTRY_ERROR_TEXT_KEY";
inline constexpr const char* QUEUE_ENTRY_FAILED_KEY = "QUEUE_ENTRY_FAILED_KEY";
// Added to an entry when one of its exports finished: the file written last,
// so Show in Folder finds it after a restart too.
inline constexpr const char* QUEUE_ENTRY_OUTPUT_PATH_KEY = "QUEUE_ENTRY_OUTPUT_PATH_KEY";
// The share of its next export an interrupted one kept ("0.620"); absent
// when none.
inline constexpr const char* QUEUE_ENTRY_KEPT_KEY = "QUEUE_ENTRY_KEPT_KEY";

// Request, progress and completion keys.
inline constexpr const char* EXPORT_TYPE_KEY = "EXPORT_TYPE_KEY";
inline constexpr const char* EXPORT_DIRECTORY_KEY = "EXPORT_DIRECTORY_KEY";
inline constexpr const char* EXPORT_PROGRESS_KEY = "EXPORT_PROGRESS_KEY";
inline constexpr const char* EXPORT_RESULT_KEY = "EXPORT_RESULT_KEY";
// In a finished completion: the file written, which may carry a number when
// the rule's name was taken. In a failed one: the reason in plain words.
inline constexpr const char* EXPORT_OUTPUT_PATH_KEY = "EXPORT_OUTPUT_PATH_KEY";
inline constexpr const char* EXPORT_ERROR_TEXT_KEY = "EXPORT_ERROR_TEXT_KEY";
// In a finished completion, when the target could not hold all of the movie:
// what was left out, in a few words ("2 picture subtitle tracks").
inline constexpr const char* EXPORT_LEFT_OUT_KEY = "EXPORT_LEFT_OUT_KEY";
// In a request: "NO" when a device's export must convert a picture it could
// copy (the user's choice); absent, such a picture is copied.
inline constexpr const char* EXPORT_COPY_PICTURE_KEY = "EXPORT_COPY_PICTURE_KEY";
// In a finished completion: "YES" when a device's picture went in as it was.
inline constexpr const char* EXPORT_PICTURE_COPIED_KEY = "EXPORT_PICTURE_COPIED_KEY";
// In a finished completion: the share of the movie (0 to 1, as text) that
// an earlier, interrupted export had done and this one went on from.
inline constexpr const char* EXPORT_RESUMED_FROM_KEY = "EXPORT_RESUMED_FROM_KEY";
// In a cancelled or failed completion: the share of the movie kept for the
// next export of the same target to go on from.
inline constexpr const char* EXPORT_KEPT_FRACTION_KEY = "EXPORT_KEPT_FRACTION_KEY";

// Values of EXPORT_RESULT_KEY in a completion; an absent key reads as finished.
inline constexpr const char* kResultFinished = "Finished";
inline constexpr const char* kResultFailed = "Failed";
inline constexpr const char* kResultCancelled = "Cancelled";

enum class ExportResult { Finished, Failed, Cancelled };
QString resultText(ExportResult result);
// The outcome a completion dictionary's result value stands for.
ExportResult resultFromText(const QString& text);
// The outcome a completion dictionary reports (no result key: finished).
ExportResult resultOf(const QVariantMap& completion);

// The four targets, in target order.
enum class Target { iPhone, iPod, AppleTV, QuickTime };

// A four-character code: its four bytes, most significant first.
constexpr uint32_t fourCharCode(const char (&code)[5]) {
  return (uint32_t(uint8_t(code[0])) << 24) | (uint32_t(uint8_t(code[1])) << 16) |
         (uint32_t(uint8_t(code[2])) << 8) | uint32_t(uint8_t(code[3]));
}

// Everything that differs per target; adding a target adds a row here and
// its preset (media/ExportPreset.cpp).
struct TargetInfo {
  Target target;
  const char* typeKey;        // value of EXPORT_TYPE_KEY, and the queue flag key
  const char* fileSuffix;     // appended to the base name for the output file
  uint32_t typeCode;          // the export type, which names its preset
  const char* logLine;        // the helper's log line as an export starts
  const char* startText;      // the action log's line as an export is requested
  const char* preferenceKey;  // the preference that ticks it for new movies
  const char* displayName;    // what the user calls it ("Apple TV")
};

inline constexpr std::array<TargetInfo, 4> kTargets{{
    {Target::iPhone, QUEUE_ENTRY_IPHONE_KEY, "_iPhone.m4v", fourCharCode("M4VP"), "exportiPhone:",
     "Starting iPhone export ...", "iPhoneExportSwitch", "iPhone"},
    {Target::iPod, QUEUE_ENTRY_IPOD_KEY, "_iPod.m4v", fourCharCode("M4V "), "exportiPod:", "Starting iPod export ...",
     "iPodExportSwitch", "iPod"},
    {Target::AppleTV, QUEUE_ENTRY_APPLETV_KEY, "_ATV.m4v", fourCharCode("M4VH"), "exportAppleTV:",
     "Starting Apple TV export ...", "AppleTVExportSwitch", "Apple TV"},
    {Target::QuickTime, QUEUE_ENTRY_QT_KEY, "_QT.mov", fourCharCode("MooV"), "exportQT:",
     "Starting QuickTime export ...", "QTExportSwitch", "QuickTime"},
}};

// A target's row, at compile time too.
constexpr const TargetInfo& info(Target target) {
  for (const TargetInfo& row : kTargets)
    if (row.target == target) return row;
  return kTargets.front();
}

// The target whose key equals typeKey exactly; nullopt for any other text.
std::optional<Target> targetForTypeKey(const QString& typeKey);

// Flag files in the application data folder.
QString stopFlagPath();
QString quitFlagPath();

// The output file of an export: with a directory, directory + "/" + base name
// + suffix (the directory string unchanged); without one, the movie path with
// its last extension removed + suffix, beside the movie.
QString outputPath(const QString& moviePath, Target target,
                   const std::optional<QString>& directory);

// Path helpers with the semantics the naming rule relies on.
QString lastPathComponent(const QString& path);
QString deletingPathExtension(const QString& path);

}  // namespace tovix::protocol

namespace tovix::protocol {
// The string under key of a dictionary; nullopt when absent or not a string.
std::optional<QString> stringValue(const QVariantMap& map, const char* key);

// A dictionary as one log-safe line: {KEY = "value"; KEY = 0.5; }, with
// quotes, backslashes and control characters escaped.
QString describe(const QVariantMap& dictionary);
}  // namespace tovix::protocol
