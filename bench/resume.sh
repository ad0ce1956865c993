#!/usr/bin/env bash
# An interrupted export goes on from its kept pieces: MINUTES (default 10)
# of 1080p30 to Apple TV, exported whole, then killed with SIGKILL at 50 %
# and at 90 % of that time and run again. Prints each second run's time as a
# share of the whole export's, and checks the joined files against the whole
# one: frame count, duration, SSIM against the source around each join
# beside the movie's mean.
# Usage: MINUTES=10 bench/resume.sh
set -euo pipefail
cd "$(dirname "$0")/.."
make -s build >/dev/null
source bench/common.sh
needs bc bc
minutes=${MINUTES:-10}
out=$PWD/bench/out; mkdir -p "$out"
export XDG_CACHE_HOME=$out/cache  # the kept pieces, away from the user's own cache
movie=$(resume_movie "$minutes")
now() { date +%s.%N; }
whole_run() { local start; start=$(now); build/bin/bench_export "$movie" "$1" M4VH >/dev/null; echo "$(now) - $start" | bc; }
rm -f "$out"/resume_*_ATV.m4v
whole=$(whole_run "$out/resume_whole_ATV.m4v")
echo "whole export: $whole s"
for share in 0.5 0.9; do
  output="$out/resume_${share}_ATV.m4v"
  build/bin/bench_export "$movie" "$output" M4VH >/dev/null & pid=$!
  sleep "$(echo "$whole * $share" | bc)"
  kill -KILL $pid; wait $pid 2>/dev/null || true
  again=$(whole_run "$output")
  echo "killed at $share: the second run took $again s = $(echo "scale=3; $again / $whole" | bc) of the whole"
done
frames() { ffprobe -v error -select_streams v -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$1"; }
length() { ffprobe -v error -show_entries format=duration -of csv=p=0 "$1"; }
for file in "$out"/resume_whole_ATV.m4v "$out"/resume_0.5_ATV.m4v "$out"/resume_0.9_ATV.m4v; do
  echo "$(basename "$file"): $(frames "$file") frames, $(length "$file") s, $(stat -c %s "$file") bytes"
done
# The picture's peak bit rate over any one-second window.
peak() {
  ffprobe -v error -select_streams v -show_entries packet=dts_time,size -of csv=p=0 "$1" | python3 -c '
import sys, collections
window, total, best = collections.deque(), 0, 0
for line in sys.stdin:
    t, size = line.strip().split(",")[:2]
    t, size = float(t), int(size) * 8
    window.append((t, size)); total += size
    while window[0][0] <= t - 1: total -= window.popleft()[1]
    best = max(best, total)
print(f"{best / 1e6:.2f} Mb/s")'
}
for file in "$out"/resume_whole_ATV.m4v "$out"/resume_0.5_ATV.m4v "$out"/resume_0.9_ATV.m4v; do
  echo "$(basename "$file"): peak $(peak "$file")"
done
# SSIM against the source, frame by frame: the mean, and the frames within a
# second of each join (every 60 s).
for file in "$out"/resume_whole_ATV.m4v "$out"/resume_0.5_ATV.m4v; do
  ffmpeg -v error -i "$file" -i "$movie" -lavfi "[0:v][1:v]ssim=stats_file=$out/ssim_$(basename "$file").txt" -f null -
  awk -v fps=30 '{ split($5, a, ":"); s = a[2]; n = $1; sub("n:", "", n); t = (n - 1) / fps;
                   all += s; count++; m = t - int(t / 60) * 60;
                   if (t > 1 && (m < 1 || m > 59)) { seam += s; seams++ } }
                 END { printf "%s: SSIM mean %.5f, at the joins %.5f (%d frames)\n", FILENAME, all / count, seam / seams, seams }' \
    "$out/ssim_$(basename "$file").txt" | sed "s|$out/ssim_||; s|.txt:|:|"
done
