// Makes a test source the ffmpeg command line cannot: a Matroska file with
// one DVD (picture) subtitle track, since its encoder takes bitmaps only.
// Usage: picture_subtitles OUT.mkv WIDTH HEIGHT FROM_MS TO_MS
// The track shows one opaque white box, a quarter of the canvas wide and a
// tenth high, centred near the bottom, from FROM_MS to TO_MS.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: picture_subtitles OUT.mkv WIDTH HEIGHT FROM_MS TO_MS\n");
    return 2;
  }
  const int width = std::atoi(argv[2]), height = std::atoi(argv[3]);
  const int64_t fromMs = std::atoll(argv[4]), toMs = std::atoll(argv[5]);
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
  const uint32_t palette[4] = {0x00000000, 0xffffffff, 0xff000000, 0xff808080};
  rect.data[0] = pixels.data();
  rect.linesize[0] = rect.w;
  rect.data[1] = reinterpret_cast<uint8_t*>(const_cast<uint32_t*>(palette));
  AVSubtitleRect* rects[] = {&rect};
  AVSubtitle subtitle{};
  subtitle.num_rects = 1;
  subtitle.rects = rects;
  subtitle.end_display_time = uint32_t(toMs - fromMs);
  subtitle.pts = fromMs * 1000;
  std::vector<uint8_t> buffer(1 << 20);
  const int size = avcodec_encode_subtitle(encoder, buffer.data(), int(buffer.size()), &subtitle);
  AVPacket* packet = av_packet_alloc();
  if (size <= 0 || av_new_packet(packet, size) < 0) return 1;
  std::memcpy(packet->data, buffer.data(), size_t(size));
  packet->pts = packet->dts = fromMs;
  packet->duration = toMs - fromMs;
  packet->stream_index = stream->index;
  if (av_write_frame(output, packet) < 0 || av_write_trailer(output) < 0) return 1;
  av_packet_free(&packet);
  avio_closep(&output->pb);
  avformat_free_context(output);
  avcodec_free_context(&encoder);
  return 0;
}
