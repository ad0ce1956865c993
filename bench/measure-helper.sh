#!/usr/bin/env bash
# TovixHelper's Apple TV export as the window sees it: from the request
# signal on the bus to the completion signal, against the ffmpeg command line
# with identical settings and against the export code alone (bench_export) on
# the same clip, taken in turn (REPS, default 5).
# Usage: bench/measure-helper.sh [CLIP]   (default: bench/out/camera_forest.mp4
# from bench/run-bench.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
make -s build >/dev/null
source bench/common.sh
needs bc bc
clip=$(realpath "${1:-bench/out/camera_forest.mp4}")
[ -f "$clip" ] || { echo "no clip $clip: run bench/run-bench.sh first" >&2; exit 1; }
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
cp "$clip" "$work/clip.mp4"
export HOME="$work" XDG_CONFIG_HOME="$work/.config" XDG_DATA_HOME="$work/.local/share"
tuning=$(build/bin/bench_export --encoder-arguments M4VH)
dbus-run-session -- bash -s "$work" "${REPS:-5}" "$PWD/build/bin" "$tuning" <<'IN'
set -uo pipefail  # not -e: the loop's arithmetic answers 1 at times
work=$1 reps=$2 helper=$3/TovixHelper engine=$3/bench_export tuning=$4
"$helper" >/dev/null 2>&1 & pid=$!
until gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
  --method org.freedesktop.DBus.NameHasOwner org.tovix.TovixHelper 2>/dev/null | grep -q true; do sleep 0.05; done
now() { date +%s.%N; }
for ((rep = 0; rep < reps; rep++)); do
  rm -f "$work"/clip_AppleTV.m4v "$work"/ffmpeg.m4v "$work"/engine.m4v
  # A listener that ends with the first completion; it blocks, it does not poll.
  grep -m1 -q TovixExportComplete \
    < <(dbus-monitor --session "type='signal',interface='org.tovix.Tovix',member='TovixExportComplete'" 2>/dev/null) &
  listener=$!
  sleep 0.5
  start=$(now)
  gdbus emit --session --object-path /org/tovix/Tovix --signal org.tovix.Tovix.TovixExportRequest \
    "{'QUEUE_ENTRY_MOVIE_PATH_KEY': <'$work/clip.mp4'>, 'EXPORT_TYPE_KEY': <'QUEUE_ENTRY_APPLETV_KEY'>}" >/dev/null
  wait $listener
  pkill -f "member='TovixExportComplete'" || true  # the monitor lingers until its next line
  helper_s=$(echo "$(now) - $start" | bc -l)
  start=$(now)
  ffmpeg -nostdin -v error -y -i "$work/clip.mp4" -c:v libx264 -preset veryfast -profile:v high -level 40 $tuning \
    -maxrate 10000k -bufsize 20000k -c:a aac -b:a 160k -pix_fmt yuv420p -ac 2 -movflags +faststart -f ipod "$work/ffmpeg.m4v"
  ffmpeg_s=$(echo "$(now) - $start" | bc -l)
  engine_s=$("$engine" "$work/clip.mp4" "$work/engine.m4v" M4VH)
  printf "request to completion %.2f s, the export code alone %.2f s, ffmpeg %.2f s: ratios %.3f and %.3f\n" \
    "$helper_s" "$engine_s" "$ffmpeg_s" "$(echo "$helper_s / $ffmpeg_s" | bc -l)" "$(echo "$engine_s / $ffmpeg_s" | bc -l)"
done
kill $pid 2>/dev/null || true
IN
