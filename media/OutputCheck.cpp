#include "media/OutputCheck.h"

#include "media/FFmpegPtr.h"

#include <algorithm>
#include <cstdlib>

namespace tovix::media {

std::optional<QString> checkWrittenMovie(const QString& path, const PlannedOutput& planned) {
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, fileUrl(path).constData(), nullptr, nullptr) < 0)
    return QStringLiteral("the written file does not open");
  const InputPtr written(raw);
  PlannedOutput found;
  for (unsigned i = 0; i < written->nb_streams; ++i) {
    const AVStream* stream = written->streams[i];
    switch (stream->codecpar->codec_type) {
      case AVMEDIA_TYPE_VIDEO: ++((stream->disposition & AV_DISPOSITION_ATTACHED_PIC) ? found.covers : found.pictures); break;
      case AVMEDIA_TYPE_AUDIO: ++found.sounds; break;
      case AVMEDIA_TYPE_SUBTITLE: ++found.subtitles; break;
      default: break;
    }
  }
  if (found.pictures != planned.pictures || found.sounds != planned.sounds || found.subtitles != planned.subtitles ||
      found.covers != planned.covers)
    return QStringLiteral("the written file holds %1 picture, %2 sound, %3 subtitle and %4 cover tracks, not %5, %6, %7 and %8")
        .arg(found.pictures).arg(found.sounds).arg(found.subtitles).arg(found.covers)
        .arg(planned.pictures).arg(planned.sounds).arg(planned.subtitles).arg(planned.covers);
  // As long as its longest track, chapters included.
  int64_t length = written->duration > 0 ? written->duration : 0;
  for (unsigned i = 0; i < written->nb_streams; ++i) {
    const AVStream* stream = written->streams[i];
    if (stream->duration > 0) length = std::max(length, av_rescale_q(stream->duration, stream->time_base, AV_TIME_BASE_Q));
  }
  if (planned.endUs > 0 && std::llabs(length - planned.endUs) > planned.frameUs)
    return QStringLiteral("the written file lasts %1 s, the movie %2 s")
        .arg(double(length) / AV_TIME_BASE, 0, 'f', 3)
        .arg(double(planned.endUs) / AV_TIME_BASE, 0, 'f', 3);
  return std::nullopt;
}

}  // namespace tovix::media
