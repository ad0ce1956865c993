#include "media/SecondHalf.h"

#include "media/SoundEncoder.h"

#include <algorithm>
#include <cstring>

namespace tovix::media {
namespace {

// The window sequence and shape of an AAC frame's first element, which the
// next frame's window is fitted to; none when the frame begins with neither
// a single channel nor a pair of channels sharing one window.
std::optional<int> windowsOf(const AVPacket* packet) {
  if (!packet || packet->size < 3) return std::nullopt;
  const uint8_t* data = packet->data;
  const auto bits = [data](int at, int count) {
    int value = 0;
    for (int i = at; i < at + count; ++i) value = value << 1 | (data[i / 8] >> (7 - i % 8) & 1);
    return value;
  };
  // An element's kind (3 bits) and tag (4); a single channel's gain (8)
  // comes before its window, a pair's "one window" bit (1) before theirs;
  // then a reserved bit, the sequence (2) and the shape (1).
  const int element = bits(0, 3);
  if (element == 0) return bits(16, 3);
  if (element == 1 && bits(7, 1)) return bits(9, 3);
  return std::nullopt;
}

// Whether a and b, kept from one place on, hold the same samples in [from, to).
bool sameSamples(const std::vector<std::vector<float>>& a, const std::vector<std::vector<float>>& b, int64_t from,
                 int64_t to) {
  if (a.size() != b.size() || a.empty() || from < 0) return false;
  for (size_t channel = 0; channel < a.size(); ++channel) {
    if (int64_t(a[channel].size()) < to || int64_t(b[channel].size()) < to) return false;
    if (std::memcmp(a[channel].data() + from, b[channel].data() + from, size_t(to - from) * sizeof(float)) != 0)
      return false;
  }
  return true;
}

}  // namespace

SecondHalf::SecondHalf(const QString& path, int index, const SoundOutput& settings, bool globalHeader, int64_t seam,
                       int frame)
    : seam_(seam), frame_(frame) {
  thread_ = std::thread(&SecondHalf::run, this, path, index, settings, globalHeader);
}

SecondHalf::~SecondHalf() {
  stop_ = true;
  thread_.join();
}

void SecondHalf::run(const QString& path, int index, const SoundOutput& settings, bool globalHeader) {
  InputPtr input = openInput(path);
  PacketPtr packet(av_packet_alloc());
  if (!input || !packet || index >= int(input->nb_streams)) return end(QStringLiteral("cannot open %1 again").arg(path));
  for (unsigned i = 0; i < input->nb_streams; ++i)
    if (int(i) != index) input->streams[i]->discard = AVDISCARD_ALL;
  const AVStream* stream = input->streams[index];
  const int64_t startOffset = movieStartIn(input.get(), stream);
  QString error;
  auto encoder = SoundEncoder::create(stream, startOffset, settings, globalHeader, error);
  if (!encoder) return end(error);
  encoder->startOnFrameGrid();
  encoder->keepSamples(keepFrom(), keepTo());
  const int64_t begin = seam_ - kSettleSeconds * settings.sampleRate;
  if (av_seek_frame(input.get(), index, startOffset + av_rescale_q(begin, {1, settings.sampleRate}, stream->time_base),
                    AVSEEK_FLAG_BACKWARD) < 0)
    return end(QStringLiteral("cannot seek in %1").arg(path));
  const SoundEncoder::Sink keep = [this](AVPacket* encoded) -> SoundEncoder::Error {
    PacketPtr copy(av_packet_clone(encoded));
    if (!copy) return QStringLiteral("out of memory");
    const std::lock_guard lock(mutex_);
    packets_.push_back(std::move(copy));
    return std::nullopt;
  };
  const auto publish = [&] {
    const std::lock_guard lock(mutex_);
    if (samples_.empty() && encoder->fedUntil() >= keepTo()) samples_ = encoder->samplesKept();
    changed_.notify_all();
  };
  std::optional<QString> failure;
  int rc = 0;
  while (!failure && !stop_ && (rc = av_read_frame(input.get(), packet.get())) >= 0) {
    if (packet->stream_index == index) failure = encoder->push(packet.get(), keep);
    av_packet_unref(packet.get());
    publish();
  }
  if (!failure && rc < 0 && rc != AVERROR_EOF) failure = QStringLiteral("cannot read %1: %2").arg(path, errorText(rc));
  if (!failure && !stop_) failure = encoder->finish(keep);
  publish();
  end(failure);
}

void SecondHalf::end(const std::optional<QString>& failure) {
  const std::lock_guard lock(mutex_);
  ended_ = true;
  failure_ = failure;
  changed_.notify_all();
}

bool SecondHalf::joinsAt(int64_t at, const AVPacket* before, const std::vector<std::vector<float>>& first) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return ended_ || !samples_.empty(); });
  if (failure_ || samples_.empty()) return false;
  const auto own = std::find_if(packets_.begin(), packets_.end(),
                                [&](const PacketPtr& packet) { return packet->pts == at - frame_; });
  const std::optional<int> windows = windowsOf(before);
  if (own == packets_.end() || !windows || windowsOf(own->get()) != windows ||
      !sameSamples(first, samples_, at - 2 * frame_ - keepFrom(), at + 2 * frame_ - keepFrom()))
    return false;
  while (!packets_.empty() && packets_.front()->pts < at) packets_.pop_front();
  return true;
}

bool SecondHalf::next(AVPacket* packet) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return ended_ || !packets_.empty(); });
  if (packets_.empty() || failure_) return false;
  av_packet_move_ref(packet, packets_.front().get());
  packets_.pop_front();
  return true;
}

std::optional<QString> SecondHalf::failure() {
  const std::lock_guard lock(mutex_);
  return failure_;
}

}  // namespace tovix::media
