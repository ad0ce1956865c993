#!/usr/bin/env bash
# A device-ready movie to Apple TV: 60 s of 1080p30 H.264 High 4.0 at about
# 6 Mb/s in Matroska, with AC3 5.1 sound, an SRT track and chapters. Tovix
# copies the picture; the same export with copying off (TOVIX_COPY=0)
# converts it; HandBrakeCLI's "Apple 1080p30 Surround" converts it too.
# ffmpeg's command line makes what Tovix's copy makes (the picture and the
# AC3 copied, stereo AAC at 160 kb/s, the subtitles as text, chapters, fast
# start); it and Tovix's copy also export ten minutes of the same movie.
# Usage: REPS=3 bench/device-copy.sh
# Prints each one's median wall time and the ratios, whether the copy's
# picture packets are the source's (MD5 of the packet data), and whether
# every output plays through without an error.
set -euo pipefail
cd "$(dirname "$0")/.."
make -s build >/dev/null
source bench/common.sh
needs HandBrakeCLI handbrake-cli
needs bc bc
reps=${REPS:-3}
out=bench/out; mkdir -p "$out"
movie="$out/ready_1080p.mkv"
if [ ! -f "$movie" ]; then
  python3 - "$out/ready.srt" "$out/ready_chapters.txt" <<'PY'
import sys
with open(sys.argv[1], "w") as f:
    for n, s in enumerate(range(2, 56, 6)):
        f.write(f"{n + 1}\n00:00:{s:02d},000 --> 00:00:{s + 3:02d},000\nLine {n + 1}\n\n")
with open(sys.argv[2], "w") as f:
    f.write(";FFMETADATA1\n")
    for m in range(4):
        f.write(f"[CHAPTER]\nTIMEBASE=1/1000\nSTART={m * 15000}\nEND={(m + 1) * 15000}\ntitle=Part {m + 1}\n")
PY
  # A web download's picture: High 4.0, capped at 6 Mb/s with a 1 s buffer.
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=1920x1080:rate=30:duration=60" \
    -f lavfi -i "sine=frequency=300:sample_rate=48000:duration=60" -i "$out/ready.srt" -i "$out/ready_chapters.txt" \
    -map 0 -map 1 -map 2 -map_chapters 3 -filter:v "noise=alls=6:allf=t" -pix_fmt yuv420p \
    -c:v libx264 -preset veryfast -profile:v high -level 40 -b:v 5M -maxrate 6M -bufsize 6M \
    -af "pan=5.1|FL=c0|FR=c0|FC=c0|LFE=c0|BL=c0|BR=c0" -c:a ac3 -b:a 448k -c:s srt "$movie"
fi
longMovie="$out/ready_10min.mkv"
[ -f "$longMovie" ] || ffmpeg -v error -y -stream_loop 9 -i "$movie" -map 0:v -map 0:a -c copy "$longMovie"
# What Tovix's copy makes, by ffmpeg's command line.
ffmpeg_copy() {
  ffmpeg -v error -y -i "$1" -map 0:v -map 0:a -map 0:a -map 0:s? -c:v copy -c:a:0 aac -ac:a:0 2 -b:a:0 160k \
    -c:a:1 copy -c:s mov_text -movflags +faststart "$2"
}
median() { tr ' ' '\n' | grep -v '^$' | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
seconds() { local start end; start=$(date +%s.%N); "$@" >/dev/null 2>&1 || echo "FAILED: $*" >&2; end=$(date +%s.%N); echo "$end - $start" | bc; }
declare -A runs
for ((r = 0; r < reps; r++)); do
  rm -f "$out"/ready_*_ATV.m4v "$out"/ready_handbrake.m4v "$out"/ready_*ffmpeg.m4v
  runs[copy]+="$(seconds build/bin/bench_export "$movie" "$PWD/$out/ready_copy_ATV.m4v" M4VH) "
  runs[ffmpeg]+="$(seconds ffmpeg_copy "$movie" "$out/ready_ffmpeg.m4v") "
  runs[long]+="$(seconds build/bin/bench_export "$longMovie" "$PWD/$out/ready_10min_ATV.m4v" M4VH) "
  runs[longffmpeg]+="$(seconds ffmpeg_copy "$longMovie" "$out/ready_10min_ffmpeg.m4v") "
  runs[convert]+="$(TOVIX_COPY=0 seconds build/bin/bench_export "$movie" "$PWD/$out/ready_convert_ATV.m4v" M4VH) "
  runs[handbrake]+="$(seconds HandBrakeCLI -i "$movie" -o "$out/ready_handbrake.m4v" --preset "Apple 1080p30 Surround") "
done
copy=$(echo "${runs[copy]}" | median); convert=$(echo "${runs[convert]}" | median); hb=$(echo "${runs[handbrake]}" | median)
ff=$(echo "${runs[ffmpeg]}" | median); long=$(echo "${runs[long]}" | median); longff=$(echo "${runs[longffmpeg]}" | median)
echo "Tovix copy:        ${copy} s (runs: ${runs[copy]})"
echo "ffmpeg, the same:  ${ff} s (runs: ${runs[ffmpeg]})"
echo "Tovix convert:     ${convert} s (runs: ${runs[convert]})"
echo "HandBrakeCLI:      ${hb} s (runs: ${runs[handbrake]})"
echo "convert / copy:    $(echo "scale=1; $convert / $copy" | bc)"
echo "HandBrake / copy:  $(echo "scale=1; $hb / $copy" | bc)"
echo "ffmpeg / copy:     $(echo "scale=2; $ff / $copy" | bc)"
echo "ten minutes:       Tovix ${long} s, ffmpeg ${longff} s (ffmpeg / Tovix $(echo "scale=2; $longff / $long" | bc))"
md5() { ffmpeg -v error -i "$1" -map 0:v:0 -c copy -f md5 - 2>&1; }
echo "picture packets:   source $(md5 "$movie"), copy $(md5 "$out/ready_copy_ATV.m4v")"
for file in "$out/ready_copy_ATV.m4v" "$out/ready_convert_ATV.m4v" "$out/ready_handbrake.m4v"; do
  errors=$(ffmpeg -v error -i "$file" -f null - 2>&1 | wc -l)
  echo "plays through:     $file: $errors error lines"
done
