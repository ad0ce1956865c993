#pragma once
// The second half of a long converted sound track, encoded on a thread of
// its own from a second reader of the source while the export encodes the
// first half: two cores make the track in little more than half the time.
// The halves join only where the join cannot be heard (joinsAt); where they
// cannot, the first half goes on to the end as if there were no second.
// Only media/ includes this header.
#include "media/ExportPlan.h"
#include "media/FFmpegPtr.h"

#include <QString>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace tovix::media {

class SecondHalf {
 public:
  // Frames after the seam where the halves may join, tried in turn.
  static constexpr int kJoins = 48;
  // How long the second half is encoded before the seam: its encoder's rate
  // control settles on the bits a frame takes within a few seconds.
  static constexpr int64_t kSettleSeconds = 8;

  // Encodes stream index of path as settings say, beginning well before
  // seam (in the encoder's time base, a multiple of its frame): long enough
  // for the encoder to settle as the first half's has.
  SecondHalf(const QString& path, int index, const SoundOutput& settings, bool globalHeader, int64_t seam, int frame);
  ~SecondHalf();
  SecondHalf(const SecondHalf&) = delete;
  SecondHalf& operator=(const SecondHalf&) = delete;

  int64_t seam() const { return seam_; }
  // The samples each half keeps to compare, from the first join's to the last's.
  int64_t keepFrom() const { return seam_ - 2 * frame_; }
  int64_t keepTo() const { return seam_ + (kJoins + 1) * frame_; }

  // Whether the first half hands over to this one at `at`: the samples both
  // encoders were given around at are the same (first: the first half's,
  // from keepFrom()), and both coded the frame before at (before: the first
  // half's packet) with the same windows, so that what one frame leaves
  // overlapping the next adds up as within one encoding. Waits for this half
  // to be past at.
  bool joinsAt(int64_t at, const AVPacket* before, const std::vector<std::vector<float>>& first);
  // This half's next packet from the join on, in its encoder's time base;
  // waits for it. False at the end of the track, or when this half failed
  // (failure() says why).
  bool next(AVPacket* packet);
  std::optional<QString> failure();

 private:
  void run(const QString& path, int index, const SoundOutput& settings, bool globalHeader);
  void end(const std::optional<QString>& failure);

  const int64_t seam_;
  const int frame_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<PacketPtr> packets_;           // from where this half began, or from the join on
  std::vector<std::vector<float>> samples_;  // kept from keepFrom(), once this half is past keepTo()
  bool ended_ = false;
  std::optional<QString> failure_;
  std::atomic_bool stop_{false};
  std::thread thread_;
};

}  // namespace tovix::media
