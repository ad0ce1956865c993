// Makes a test source the ffmpeg command line cannot: a Matroska file with
// one DVD (picture) subtitle track, since its encoder takes bitmaps only.
// Usage: picture_subtitles OUT.mkv WIDTH HEIGHT SPANS [AARRGGBB]
// The track shows one opaque box (white unless a colour is given), a quarter
// of the canvas wide and a tenth high, centred near the bottom, in each span
// of SPANS: "1000-2000" from 1 s to 2 s; "1000-,3000-3500" from 1 s with no
// end of its own (until the next one), then from 3 s to 3.5 s.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 5 && argc != 6) {
    std::fprintf(stderr, "usage: picture_subtitles OUT.mkv WIDTH HEIGHT SPANS [AARRGGBB]\n");
    return 2;
  }
  const int width = std::atoi(argv[2]), height = std::atoi(argv[3]);
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_DVD_SUBTITLE);
  AVCodecContext* encoder = avcodec_alloc_context3(codec);
  encoder->width = width;
  encoder->height = height;
  encoder->time_base = {1, 1000};
  AVFormatContext* output = nullptr;
  if (avcodec_open2(encoder, codec, nullptr) < 0 || avformat_alloc_output_context2(&output, nullptr, "matroska", argv[1]) < 0)
    return 1;
  AVStream* stream = avformat_new_stream(output, nullptr);
  avcodec_parameters_from_context(stream->codecpar, encoder);
  stream->time_base = {1, 1000};
  if (avio_open(&output->pb, argv[1], AVIO_FLAG_WRITE) < 0 || avformat_write_header(output, nullptr) < 0) return 1;

  AVSubtitleRect rect{};
  rect.type = SUBTITLE_BITMAP;
  rect.w = width / 4;
  rect.h = height / 10;
  rect.x = (width - rect.w) / 2;
  rect.y = height - 2 * rect.h;
  rect.nb_colors = 4;
  std::vector<uint8_t> pixels(size_t(rect.w) * size_t(rect.h), 1);
  const uint32_t box = argc == 6 ? uint32_t(std::strtoul(argv[5], nullptr, 16)) : 0xffffffff;
  const uint32_t palette[4] = {0x00000000, box, 0xff000000, 0xff808080};
  rect.data[0] = pixels.data();
  rect.linesize[0] = rect.w;
  rect.data[1] = reinterpret_cast<uint8_t*>(const_cast<uint32_t*>(palette));
  AVSubtitleRect* rects[] = {&rect};
  AVSubtitle subtitle{};
  subtitle.num_rects = 1;
  subtitle.rects = rects;
  std::vector<uint8_t> buffer(1 << 20);
  AVPacket* packet = av_packet_alloc();
  for (const char* span = argv[4]; *span; span += std::strcspn(span, ",") + (span[std::strcspn(span, ",")] == ',')) {
    char* rest = nullptr;
    const int64_t fromMs = std::strtoll(span, &rest, 10);
    const int64_t toMs = rest[0] == '-' && std::isdigit(static_cast<unsigned char>(rest[1])) ? std::atoll(rest + 1) : 0;
    // No end: the packet carries no stop command and no duration.
    subtitle.end_display_time = toMs ? uint32_t(toMs - fromMs) : 0;
    subtitle.pts = fromMs * 1000;
    const int size = avcodec_encode_subtitle(encoder, buffer.data(), int(buffer.size()), &subtitle);
    if (size <= 0 || av_new_packet(packet, size) < 0) return 1;
    std::memcpy(packet->data, buffer.data(), size_t(size));
    packet->pts = packet->dts = fromMs;
    packet->duration = toMs ? toMs - fromMs : 0;
    packet->stream_index = stream->index;
    if (av_write_frame(output, packet) < 0) return 1;
    av_packet_unref(packet);
  }
  if (av_write_trailer(output) < 0) return 1;
  av_packet_free(&packet);
  avio_closep(&output->pb);
  avformat_free_context(output);
  avcodec_free_context(&encoder);
  return 0;
}
