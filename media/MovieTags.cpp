#include "media/MovieTags.h"

extern "C" {
#include <libavutil/dict.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <string_view>

namespace tovix::media {
namespace {

// The source's keys (matched without regard to case, so Matroska's "TITLE"
// counts) and the names the MP4 muxer writes them under.
struct TagName {
  const char* source;
  const char* output;
};
constexpr TagName kMovieTags[] = {
    {"title", "title"},           {"artist", "artist"},           {"album_artist", "album_artist"},
    {"album", "album"},           {"date", "date"},               {"date_released", "date"},
    {"genre", "genre"},           {"description", "description"}, {"synopsis", "synopsis"},
    {"comment", "comment"},       {"copyright", "copyright"},     {"show", "show"},
    {"season_number", "season_number"}, {"episode_sort", "episode_sort"}, {"episode_id", "episode_id"},
    {"composer", "composer"},     {"track", "track"},
};

const char* valueOf(const AVDictionary* tags, const char* key) {
  const AVDictionaryEntry* entry = av_dict_get(tags, key, nullptr, 0);
  return entry && entry->value && *entry->value ? entry->value : nullptr;
}

}  // namespace

void copyMovieTags(const AVFormatContext* source, AVFormatContext* output) {
  for (const TagName& tag : kMovieTags) {
    if (av_dict_get(output->metadata, tag.output, nullptr, 0)) continue;  // the first name found wins
    if (const char* value = valueOf(source->metadata, tag.source)) av_dict_set(&output->metadata, tag.output, value, 0);
  }
}

bool copyChapters(const AVFormatContext* source, AVFormatContext* output, int64_t startUs) {
  if (source->nb_chapters == 0) return true;
  auto** chapters = static_cast<AVChapter**>(av_calloc(source->nb_chapters, sizeof(AVChapter*)));
  if (!chapters) return false;
  // The output context owns them from here: avformat_free_context frees each.
  output->chapters = chapters;
  for (unsigned i = 0; i < source->nb_chapters; ++i) {
    const AVChapter* from = source->chapters[i];
    if (from->time_base.num <= 0 || from->time_base.den <= 0) continue;
    const int64_t start = av_rescale_q(startUs, AV_TIME_BASE_Q, from->time_base);
    if (av_sat_sub64(from->end, start) <= 0) continue;
    auto* to = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
    if (!to) return false;
    to->id = from->id;
    to->time_base = from->time_base;
    to->start = std::max<int64_t>(0, av_sat_sub64(from->start, start));
    to->end = av_sat_sub64(from->end, start);
    av_dict_copy(&to->metadata, from->metadata, 0);
    output->chapters[output->nb_chapters++] = to;
  }
  return true;
}

void fitChapters(AVFormatContext* output, int64_t endUs) {
  if (endUs <= 0) return;
  unsigned kept = 0;
  for (unsigned i = 0; i < output->nb_chapters; ++i) {
    AVChapter* chapter = output->chapters[i];
    const int64_t end = av_rescale_q(endUs, AV_TIME_BASE_Q, chapter->time_base);
    if (chapter->start >= end && i > 0) {
      av_dict_free(&chapter->metadata);
      av_freep(&output->chapters[i]);
      continue;
    }
    if (chapter->start >= end) chapter->start = 0;  // the first, past the end: it covers the movie
    chapter->end = std::min(chapter->end, end);
    output->chapters[kept++] = chapter;
  }
  output->nb_chapters = kept;
}

void copyTrackTags(const AVStream* source, AVStream* output) {
  if (const char* language = valueOf(source->metadata, "language"); language && std::string_view(language) != "und")
    av_dict_set(&output->metadata, "language", language, 0);
  if (const char* title = valueOf(source->metadata, "title")) {
    av_dict_set(&output->metadata, "title", title, 0);
    av_dict_set(&output->metadata, "handler_name", title, 0);
  }
}

}  // namespace tovix::media
