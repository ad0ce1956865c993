#!/usr/bin/env bash
# A long movie at a small size, where the cost per frame and per packet of
# everything but the picture encoder shows: MINUTES (default 120) of 160x90
# at 5 fps with mono sound, an SRT line every 10 s and a chapter a minute,
# exported for iPhone by Tovix, by ffmpeg's command line with the same
# settings, and by HandBrakeCLI's "Apple 720p30 Surround". The AAC sound is
# one the iPhone plays: Tovix copies it, and so does ffmpeg here.
# Usage: MINUTES=120 REPS=3 bench/long-movie.sh
# Prints each one's median wall time (and every run's), its ratio to
# ffmpeg's, and peak memory.
set -euo pipefail
cd "$(dirname "$0")/.."
make -s build >/dev/null
source bench/common.sh
needs HandBrakeCLI handbrake-cli
needs bc bc
minutes=${MINUTES:-120}
reps=${REPS:-3}
out=bench/out; mkdir -p "$out"
movie="$out/long_${minutes}min.mkv"
seconds=$((minutes * 60))
if [ ! -f "$movie" ]; then
  python3 - "$out/long.srt" "$out/long_chapters.txt" "$seconds" <<'PY'
import sys
srt, chapters, seconds = sys.argv[1], sys.argv[2], int(sys.argv[3])
stamp = lambda s: f"{s // 3600:02d}:{s // 60 % 60:02d}:{s % 60:02d},000"
with open(srt, "w") as f:
    for n, s in enumerate(range(1, seconds - 4, 10)):
        f.write(f"{n + 1}\n{stamp(s)} --> {stamp(s + 3)}\nLine {n + 1}\n\n")
with open(chapters, "w") as f:
    f.write(";FFMETADATA1\n")
    for m in range(seconds // 60):
        f.write(f"[CHAPTER]\nTIMEBASE=1/1000\nSTART={m * 60000}\nEND={(m + 1) * 60000}\ntitle=Minute {m + 1}\n")
PY
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=160x90:rate=5:duration=$seconds" \
    -f lavfi -i "sine=frequency=300:sample_rate=48000:duration=$seconds" -i "$out/long.srt" -i "$out/long_chapters.txt" \
    -map 0 -map 1 -map 2 -map_chapters 3 -c:v libx264 -preset veryfast -c:a aac -c:s srt "$movie"
fi

# The target's own x264 settings, from the code.
read -r -a x264 <<<"$(build/bin/bench_export --encoder-arguments M4VP)"
measure() {
  local log; log=$(mktemp)
  /usr/bin/time -f "%e %M" -o "$log" "$@" >/dev/null 2>&1 || echo "FAILED: $*" >&2
  cat "$log"; rm -f "$log"
}
declare -A runs memory
for ((r = 0; r < reps; r++)); do
  rm -f "$out"/long_tovix*.m4v
  # The small H.264 source would be copied as it is; this measures converting it.
  read -r t m < <(TOVIX_COPY=0 measure build/bin/bench_export "$movie" "$out/long_tovix_iPhone.m4v" M4VP)
  runs[tovix]+="$t "; memory[tovix]=$m
  read -r t m < <(measure ffmpeg -v error -y -i "$movie" -map 0 -c:v libx264 -preset veryfast "${x264[@]}" \
    -profile:v high -level 31 -maxrate 5000k -bufsize 10000k -c:a copy -c:s mov_text \
    -movflags +faststart "$out/long_ffmpeg.m4v")
  runs[ffmpeg]+="$t "; memory[ffmpeg]=$m
  read -r t m < <(measure HandBrakeCLI -i "$movie" -o "$out/long_handbrake.m4v" -Z "Apple 720p30 Surround" \
    --all-subtitles)
  runs[handbrake]+="$t "; memory[handbrake]=$m
done
median() { tr ' ' '\n' <<<"$1" | grep . | sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }
base=$(median "${runs[ffmpeg]}")
echo "$minutes min of 160x90 at 5 fps to iPhone, median of $reps"
for who in tovix ffmpeg handbrake; do
  m=$(median "${runs[$who]}")
  printf '%-10s %8.1f s  (%s)  %.2fx ffmpeg  peak %d MB\n' "$who" "$m" "${runs[$who]% }" \
    "$(echo "$m / $base" | bc -l)" $((memory[$who] / 1024))
done
