#pragma once
// What the rest of Tovix asks of a movie file: whether it can be converted,
// its name, size, copyright, tracks and duration.
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace tovix::media {

// A duration as a count of ticks of a time scale.
struct MediaTime {
  int64_t value = 0;
  int32_t scale = 1000;
};

// The movie-open test: true only for a regular file that FFmpeg opens and in
// which at least one audio or video stream decodes.
bool canOpen(const QString& path);

// The name shown for a movie: the file's name.
QString movieDisplayName(const QString& path);

// "days:hh:mm:ss.ticks/scale", for example "0:01:23:45.250/1000".
QString timeText(MediaTime time);

class Movie {
 public:
  // The opened movie, or null when FFmpeg cannot open the file.
  static std::unique_ptr<Movie> open(const QString& path);
  ~Movie();

  QString displayName() const;
  std::optional<QString> copyright() const;
  std::optional<int64_t> dataSize() const;
  // One entry per track in file order: a short format text ("H.264, 1920 ×
  // 1080, interlaced", "AAC, Stereo, 48.000 kHz (French)", "Subtitles, SRT
  // (English)"), or nullopt for tracks without one. A picture says when it is
  // interlaced, telecined or HDR, and the size its black bars are cropped
  // to; a track names its language when the file does.
  std::vector<std::optional<QString>> trackFormatSummaries() const;
  int chapterCount() const;
  // What a device export would do with the picture, one line per device
  // target: "iPhone: converted (1920 × 1080 is larger than 1280 × 720)",
  // "Apple TV: copied as it is". Empty without a picture. Samples frames and
  // may read the whole picture stream: call it off the window's thread.
  std::vector<QString> devicePictureFates(bool copyWhatPlays) const;
  MediaTime duration() const;

 private:
  struct Impl;
  explicit Movie(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace tovix::media
