#!/usr/bin/env bash
# Export speed and quality against ffmpeg's command line with identical
# settings and HandBrakeCLI's nearest built-in presets, on one 1080p30 clip.
# Usage: bench/run-bench.sh [speed-presets...]   (default: veryfast)
# Prints, per target and encoder: wall time, ratio to ffmpeg, frames per
# second, output bytes, SSIM against the source, and peak memory.
set -euo pipefail
cd "$(dirname "$0")/.."
make -s build >/dev/null
# The peers and tools only the benchmark needs (Debian packages).
sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
command -v HandBrakeCLI >/dev/null || $sudo apt-get install -y -qq handbrake-cli >/dev/null
command -v bc >/dev/null || $sudo apt-get install -y -qq bc >/dev/null
out=bench/out; mkdir -p "$out"
presets=("${@:-veryfast}")
src="$out/source_1080p30.mkv"
seconds=12
frames=$((seconds * 30))
if [ ! -f "$src" ]; then
  # Moving detail with grain and a tone: something an encoder must work for.
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=1920x1080:rate=30:duration=$seconds,noise=alls=4:allf=t" \
    -f lavfi -i "sine=frequency=330:sample_rate=48000:duration=$seconds" -ac 2 \
    -c:v libx264 -preset ultrafast -qp 10 -pix_fmt yuv420p -c:a flac "$src"
fi

# Runs a command; prints "seconds peak_kib".
measure() {
  local log; log=$(mktemp)
  /usr/bin/time -f "%e %M" -o "$log" "$@" >/dev/null 2>&1 || { echo "FAILED: $*" >&2; }
  cat "$log"; rm -f "$log"
}

ssim() {
  ffmpeg -v error -i "$1" -i "$src" -lavfi "[0:v]scale=1920:1080:flags=bicubic[a];[a][1:v]ssim=stats_file=-" -f null - 2>/dev/null |
    awk '{for(i=1;i<=NF;i++) if ($i ~ /^All:/) {split($i,a,":"); s+=a[2]; n++}} END {if (n) printf "%.4f", s/n; else print "n/a"}'
}

report() { # name seconds peak file ffmpeg_seconds
  local size; size=$(stat -c %s "$4")
  printf "%-22s %7.2f s  x%5.3f  %6.1f fps  %10d B  SSIM %s  %7d KiB\n" \
    "$1" "$2" "$(echo "$2 / $5" | bc -l)" "$(echo "$frames / $2" | bc -l)" "$size" "$(ssim "$4")" "$3"
}

declare -A code=([iPhone]=M4VP [iPod]="M4V " [AppleTV]=M4VH [QuickTime]=MooV)
declare -A ffargs=(
  [iPhone]="-vf scale=1280:720 -c:v libx264 -profile:v high -level 31 -crf 21 -maxrate 5000k -bufsize 10000k -c:a aac -b:a 128k -f ipod"
  [iPod]="-vf scale=640:360 -c:v libx264 -profile:v baseline -level 30 -refs 1 -crf 22 -maxrate 1500k -bufsize 3000k -c:a aac -b:a 128k -f ipod"
  [AppleTV]="-c:v libx264 -profile:v high -level 40 -crf 20 -maxrate 10000k -bufsize 20000k -c:a aac -b:a 160k -f ipod"
  [QuickTime]="-c:v copy -c:a aac -b:a 192k -f mov")
declare -A hb=([iPhone]="Apple 720p30 Surround" [iPod]="Apple 540p30 Surround" [AppleTV]="Apple 1080p30 Surround")

for target in iPhone iPod AppleTV QuickTime; do
  for preset in "${presets[@]}"; do
    echo "== $target (x264 $preset)"
    read -r fs fm < <(measure ffmpeg -y -i "$src" ${ffargs[$target]/-c:v libx264/-c:v libx264 -preset $preset} \
      -pix_fmt yuv420p -ac 2 -movflags +faststart -threads 0 "$out/ffmpeg_$target.m4v")
    report "ffmpeg" "$fs" "$fm" "$out/ffmpeg_$target.m4v" "$fs"
    read -r ts tm < <(measure build/bin/bench_export "$src" "$PWD/$out/tovix_$target.m4v" "${code[$target]}" "$preset")
    report "Tovix" "$ts" "$tm" "$out/tovix_$target.m4v" "$fs"
    if [ -n "${hb[$target]:-}" ]; then
      read -r hs hm < <(measure HandBrakeCLI -i "$src" -o "$out/hb_$target.m4v" --preset "${hb[$target]}")
      report "HandBrakeCLI" "$hs" "$hm" "$out/hb_$target.m4v" "$fs"
    fi
  done
done
