#!/usr/bin/env bash
# Export speed and quality against ffmpeg's command line with identical
# settings and HandBrakeCLI's nearest built-in presets, on three 12 s 1080p30
# clips: a synthetic test picture with grain, a slow pan across a forest
# photograph with film grain, and two photographs cross-faded while panning
# faster (photographs from Debian's plasma-workspace-wallpapers).
# Usage: bench/run-bench.sh [speed-presets...]   (default: veryfast)
# CLIPS="forest crossfade" limits the clips (default: synthetic forest crossfade).
# Prints, per target and encoder: wall time, ratio to ffmpeg, frames per
# second, output bytes, SSIM against the source, and peak memory.
set -euo pipefail
cd "$(dirname "$0")/.."
make -s build >/dev/null
# The peers and tools only the benchmark needs (Debian packages).
sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
command -v HandBrakeCLI >/dev/null || $sudo apt-get install -y -qq handbrake-cli >/dev/null
command -v bc >/dev/null || $sudo apt-get install -y -qq bc >/dev/null
photos=/usr/share/wallpapers
[ -f "$photos/Path/contents/images/2560x1600.jpg" ] ||
  $sudo apt-get install -y -qq --no-install-recommends plasma-workspace-wallpapers >/dev/null
out=bench/out; mkdir -p "$out"
presets=("${@:-veryfast}")
seconds=12
frames=$((seconds * 30))
tone="sine=frequency=330:sample_rate=48000:duration=$seconds"
# Writes clip NAME from a filter graph whose output is [v] (input 0 is the tone,
# further inputs follow); near-lossless.
make_clip() {
  local name=$1 graph=$2; shift 2
  [ -f "$out/source_$name.mkv" ] && return
  ffmpeg -v error -y -f lavfi -i "$tone" "$@" -filter_complex "$graph" -map "[v]" -map 0:a \
    -t "$seconds" -r 30 -ac 2 -c:v libx264 -preset ultrafast -qp 10 -pix_fmt yuv420p -c:a flac "$out/source_$name.mkv"
}
forest="$photos/Path/contents/images/2560x1600.jpg"
water="$photos/BytheWater/contents/images/2560x1600.jpg"
# Moving detail with grain: something an encoder must work for.
make_clip synthetic "testsrc2=size=1920x1080:rate=30:duration=$seconds,noise=alls=4:allf=t[v]"
# A slow pan across a photograph, with light film grain.
make_clip forest "[1:v]crop=1920:1080:x='t*(iw-1920)/$seconds':y='(ih-1080)/2',noise=alls=6:allf=t,format=yuv420p[v]" \
  -loop 1 -framerate 30 -i "$forest"
# Two photographs cross-faded while each pans three times as fast.
make_clip crossfade "[1:v]crop=1920:1080:x='mod(t*200,iw-1920)':y='(ih-1080)/3',format=yuv420p,setsar=1[a];\
[2:v]crop=1920:1080:x='iw-1920-mod(t*200,iw-1920)':y='(ih-1080)/2',format=yuv420p,setsar=1[b];\
[a][b]xfade=transition=fade:duration=4:offset=4,noise=alls=6:allf=t[v]" \
  -loop 1 -framerate 30 -t "$seconds" -i "$forest" -loop 1 -framerate 30 -t "$seconds" -i "$water"

# Runs a command; prints "seconds peak_kib".
measure() {
  local log; log=$(mktemp)
  /usr/bin/time -f "%e %M" -o "$log" "$@" >/dev/null 2>&1 || { echo "FAILED: $*" >&2; }
  cat "$log"; rm -f "$log"
}

# Frames are paired by their number, not their timestamps: encoders start
# their timestamps differently, and on moving pictures a pairing one frame
# off costs far more SSIM than any encoder setting.
ssim() {
  ffmpeg -v error -i "$1" -i "$src" \
    -lavfi "[0:v]setpts=N/30/TB,scale=1920:1080:flags=bicubic[a];[1:v]setpts=N/30/TB[b];[a][b]ssim=stats_file=-" \
    -f null - 2>/dev/null |
    awk '{for(i=1;i<=NF;i++) if ($i ~ /^All:/) {split($i,a,":"); s+=a[2]; n++}} END {if (n) printf "%.4f", s/n; else print "n/a"}'
}

report() { # name seconds peak file ffmpeg_seconds
  local size; size=$(stat -c %s "$4")
  printf "%-22s %7.2f s  x%5.3f  %6.1f fps  %10d B  SSIM %s  %7d KiB\n" \
    "$1" "$2" "$(echo "$2 / $5" | bc -l)" "$(echo "$frames / $2" | bc -l)" "$size" "$(ssim "$4")" "$3"
}

declare -A code=([iPhone]=M4VP [iPod]="M4V " [AppleTV]=M4VH [QuickTime]=MooV)
declare -A ffargs=(
  [iPhone]="-vf scale=1280:720 -c:v libx264 -profile:v high -level 31 -crf 19 -maxrate 5000k -bufsize 10000k -c:a aac -b:a 128k -f ipod"
  [iPod]="-vf scale=640:360 -c:v libx264 -profile:v baseline -level 30 -refs 1 -crf 22 -maxrate 1500k -bufsize 3000k -c:a aac -b:a 128k -f ipod"
  [AppleTV]="-c:v libx264 -profile:v high -level 40 -crf 21 -maxrate 10000k -bufsize 20000k -c:a aac -b:a 160k -f ipod"
  [QuickTime]="-c:v copy -c:a aac -b:a 192k -f mov")
declare -A hb=([iPhone]="Apple 720p30 Surround" [iPod]="Apple 540p30 Surround" [AppleTV]="Apple 1080p30 Surround")

for clip in ${CLIPS:-synthetic forest crossfade}; do
src="$out/source_$clip.mkv"
for target in iPhone iPod AppleTV QuickTime; do
  for preset in "${presets[@]}"; do
    echo "== $clip: $target (x264 $preset)"
    read -r fs fm < <(measure ffmpeg -y -i "$src" ${ffargs[$target]/-c:v libx264/-c:v libx264 -preset $preset} \
      -pix_fmt yuv420p -ac 2 -movflags +faststart -threads 0 "$out/ffmpeg_$target.m4v")
    report "ffmpeg" "$fs" "$fm" "$out/ffmpeg_$target.m4v" "$fs"
    # Tovix never replaces a file: the previous clip's output must go first.
    rm -f "$out/tovix_$target.m4v"
    read -r ts tm < <(measure build/bin/bench_export "$src" "$PWD/$out/tovix_$target.m4v" "${code[$target]}" "$preset")
    report "Tovix" "$ts" "$tm" "$out/tovix_$target.m4v" "$fs"
    if [ -n "${hb[$target]:-}" ]; then
      read -r hs hm < <(measure HandBrakeCLI -i "$src" -o "$out/hb_$target.m4v" --preset "${hb[$target]}")
      report "HandBrakeCLI" "$hs" "$hm" "$out/hb_$target.m4v" "$fs"
    fi
  done
done
done
