#!/usr/bin/env bash
# TovixHelper's resident memory over a long batch in one process: EXPORTS
# (default 100) requests cycling over varied small sources (1080p H.264,
# a 720x576 MPEG-2 picture with AC3 5.1 and text subtitles, HDR HEVC, a
# letterboxed film, a song with a cover) and the four targets, one at a time
# as Tovix sends them. Prints the helper's resident memory after the first
# export, every tenth, and the last, and its peak.
# Usage: EXPORTS=100 bench/helper-memory.sh
set -euo pipefail
cd "$(dirname "$0")/.."
make -s build >/dev/null
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
export HOME="$work" XDG_CONFIG_HOME="$work/.config" XDG_DATA_HOME="$work/.local/share"
mk() { ffmpeg -v error -y "$@"; }
printf '1\n00:00:00,500 --> 00:00:01,500\nHello\n\n' >"$work/s.srt"
mk -f lavfi -i testsrc2=size=1920x1080:rate=30:duration=2 -f lavfi -i sine=duration=2 -c:v libx264 -preset ultrafast -c:a aac "$work/hd.mp4"
mk -f lavfi -i testsrc2=size=720x576:rate=25:duration=2 -f lavfi -i "sine=duration=2" -i "$work/s.srt" \
  -filter_complex "[1]asplit=6[a][b][c][d][e][f];[a][b][c][d][e][f]join=inputs=6:channel_layout=5.1[s]" \
  -map 0:v -map "[s]" -map 2 -c:v mpeg2video -c:a ac3 -c:s srt "$work/dvd.mkv"
mk -f lavfi -i testsrc2=size=640x360:rate=25:duration=1 -vf format=yuv420p10le -color_trc smpte2084 \
  -colorspace bt2020nc -color_primaries bt2020 -c:v libx265 -x265-params log-level=error "$work/hdr.mp4"
mk -f lavfi -i testsrc2=size=640x268:rate=25:duration=2 -vf pad=640:360:0:46 -c:v libx264 "$work/scope.mp4"
mk -f lavfi -i testsrc2=size=64x64:rate=1:duration=1 -frames:v 1 "$work/cover.jpg"
mk -f lavfi -i sine=duration=3 -i "$work/cover.jpg" -map 0 -map 1 -c:a libmp3lame -c:v copy \
  -disposition:v attached_pic "$work/song.mp3"
dbus-run-session -- bash -s "$work" "${EXPORTS:-100}" "$PWD/build/bin/TovixHelper" 2>/dev/null <<'IN'
set -uo pipefail
work=$1 exports=$2 helper=$3
"$helper" >/dev/null 2>&1 & pid=$!
until gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
  --method org.freedesktop.DBus.NameHasOwner org.tovix.TovixHelper 2>/dev/null | grep -q true; do sleep 0.05; done
sources=(hd.mp4 dvd.mkv hdr.mp4 scope.mp4 song.mp3)
targets=(QUEUE_ENTRY_IPHONE_KEY QUEUE_ENTRY_IPOD_KEY QUEUE_ENTRY_APPLETV_KEY QUEUE_ENTRY_QT_KEY)
rss() { awk '/^VmRSS/ {print int($2 / 1024)}' /proc/$pid/status; }
for ((n = 1; n <= exports; n++)); do
  source=${sources[$((n % ${#sources[@]}))]} target=${targets[$(((n / ${#sources[@]}) % ${#targets[@]}))]}
  grep -m1 -q TovixExportComplete \
    < <(dbus-monitor --session "type='signal',interface='org.tovix.Tovix',member='TovixExportComplete'" 2>/dev/null) &
  listener=$!
  sleep 0.3
  gdbus emit --session --object-path /org/tovix/Tovix --signal org.tovix.Tovix.TovixExportRequest \
    "{'QUEUE_ENTRY_MOVIE_PATH_KEY': <'$work/$source'>, 'EXPORT_TYPE_KEY': <'$target'>}" >/dev/null
  wait $listener
  rm -f "$work"/*_iPhone*.m4v "$work"/*_iPod*.m4v "$work"/*_ATV*.m4v "$work"/*_QT*.mov
  if ((n == 1 || n % 10 == 0 || n == exports)); then echo "after $n exports: $(rss) MB resident"; fi
done
echo "peak: $(awk '/^VmHWM/ {print int($2 / 1024)}' /proc/$pid/status) MB"
kill $pid
IN
