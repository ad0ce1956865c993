#!/usr/bin/env bash
# Export speed and quality against ffmpeg's command line with identical
# settings and HandBrakeCLI's nearest built-in presets, on three 12 s 1080p30
# clips: a synthetic test picture with grain, a slow pan across a forest
# photograph with film grain, and two photographs cross-faded while panning
# faster (photographs from Debian's plasma-workspace-wallpapers).
# The clips are encoded as a phone camera records them.
# Usage: bench/run-bench.sh [speed-presets...]   (default: veryfast)
# CLIPS="forest crossfade" limits the clips (default: synthetic forest crossfade);
# REPS=n runs every encoder n times in turn (default 3).
# Prints, per target and encoder: the median wall time (and every run's),
# its ratio to ffmpeg's, frames per second, output bytes (and the video
# stream's), SSIM against the source, and peak memory. Debian's FFmpeg has no libvmaf, so no VMAF.
set -euo pipefail
cd "$(dirname "$0")/.."
make -s build >/dev/null
source bench/common.sh
# The peers and tools only the benchmark needs (Debian packages).
needs HandBrakeCLI handbrake-cli
needs bc bc
photos=/usr/share/wallpapers
[ -f "$photos/Path/contents/images/2560x1600.jpg" ] ||
  $sudo apt-get install -y -qq --no-install-recommends plasma-workspace-wallpapers >/dev/null
out=bench/out; mkdir -p "$out"
presets=("${@:-veryfast}")
seconds=12
frames=$((seconds * 30))
tone="sine=frequency=330:sample_rate=48000:duration=$seconds"
# Writes clip NAME from a filter graph whose output is [v] (input 0 is the tone,
# further inputs follow), encoded the way a phone camera records 1080p30:
# H.264 High at 18 Mb/s in BT.709 colours, with AAC sound. (A near-lossless 250 Mb/s intermediate
# would measure the decoder: decoding it alone takes 5.4 s of an 8.6 s export.)
make_clip() {
  local name=$1 graph=$2; shift 2
  [ -f "$out/camera_$name.mp4" ] && return
  ffmpeg -v error -y -f lavfi -i "$tone" "$@" -filter_complex "$graph;[v]scale=out_color_matrix=bt709:out_range=tv[c]" \
    -map "[c]" -map 0:a -t "$seconds" -r 30 -ac 2 -c:v libx264 -preset fast -profile:v high -b:v 18M -maxrate 24M \
    -bufsize 36M -g 30 -pix_fmt yuv420p -colorspace bt709 -color_primaries bt709 -color_trc bt709 -color_range tv \
    -c:a aac -b:a 256k "$out/camera_$name.mp4"
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

# SSIM against the source, as "mean (n off by one)". Frames are paired by
# their number, not their timestamps: encoders start their timestamps
# differently. Each output frame is scored against source frames k-1, k and
# k+1 and keeps the best: HandBrakeCLI drops a frame and repeats the next at
# places on these clips (while reporting none dropped), and on a pan one frame
# of misplacement costs far more SSIM than any encoder setting. How many
# frames matched a neighbour better is reported beside the mean.
ssim() {
  local stats; stats=$(mktemp -d)
  ffmpeg -nostdin -v error -i "$1" -i "$src" -lavfi "\
[0:v]setpts=N/30/TB,scale=1920:1080:flags=bicubic,split=3[o0][o1][o2];[1:v]setpts=N/30/TB,split=3[s0][s1][s2];\
[s1]trim=start_frame=1,setpts=N/30/TB[next];[o2]trim=start_frame=1,setpts=N/30/TB[late];\
[o0][s0]ssim=stats_file=$stats/same:shortest=1;[o1][next]ssim=stats_file=$stats/next:shortest=1[n];\
[late][s2]ssim=stats_file=$stats/prev:shortest=1[p]" -map "[n]" -f null - -map "[p]" -f null - 2>/dev/null
  awk 'function all(line,  i, a) { for (i = 1; i <= split(line, f, " "); i++) if (f[i] ~ /^All:/) { split(f[i], a, ":"); return a[2] } }
       FILENAME ~ /same$/ { same[FNR] = all($0); n = FNR } FILENAME ~ /next$/ { next_[FNR] = all($0) }
       FILENAME ~ /prev$/ { prev[FNR + 1] = all($0) }
       END { for (k = 1; k <= n; k++) { best = same[k]
               if ((k in next_) && next_[k] > best + 0.01) { best = next_[k]; off++ }
               else if ((k in prev) && prev[k] > best + 0.01) { best = prev[k]; off++ }
               s += best }
             if (n) printf "%.4f (%d off by one)", s / n, off; else print "n/a" }' \
    "$stats/same" "$stats/next" "$stats/prev"
  rm -rf "$stats"
}

# The median of the numbers given.
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }

# The bytes of a file's video stream: HandBrake's "Surround" presets add an
# AC3 track of 640 kb/s, so whole files alone would not compare the pictures.
video_bytes() {
  ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 "$1" | awk '{s += $1} END {print s}'
}

report() { # name peak file seconds... (one per repetition)
  local name=$1 peak=$2 file=$3; shift 3
  local mid size; mid=$(median "$@"); size=$(stat -c %s "$file")
  times["$name"]=$mid
  printf "%-26s %6.2f s (%s)  x%5.3f  %6.1f fps  %10d B (video %d B)  SSIM %s  %7d KiB\n" "$name" "$mid" "$*" \
    "$(echo "$mid / ${times[ffmpeg]}" | bc -l)" "$(echo "$frames / $mid" | bc -l)" "$size" "$(video_bytes "$file")" \
    "$(ssim "$file")" "$peak"
}

declare -A code=([iPhone]=M4VP [iPod]="M4V " [AppleTV]=M4VH [QuickTime]=MooV)
# ffmpeg's command line with Tovix's settings; the CRF and the x264 options
# beyond the speed preset come from Tovix itself.
tuning() { build/bin/bench_export --encoder-arguments "$1"; }
declare -A ffargs=(
  [iPhone]="-vf scale=1280:720:flags=lanczos -c:v libx264 -profile:v high -level 31 $(tuning M4VP) -maxrate 5000k -bufsize 10000k -c:a aac -b:a 128k -f ipod"
  [iPod]="-vf scale=640:360:flags=lanczos -c:v libx264 -profile:v baseline -level 30 $(tuning "M4V ") -maxrate 1500k -bufsize 3000k -c:a aac -b:a 128k -f ipod"
  [AppleTV]="-c:v libx264 -profile:v high -level 40 $(tuning M4VH) -maxrate 10000k -bufsize 20000k -c:a aac -b:a 160k -f ipod"
  [QuickTime]="-c:v copy -c:a copy -f mov")
declare -A hb=([iPhone]="Apple 720p30 Surround" [iPod]="Apple 540p30 Surround" [AppleTV]="Apple 1080p30 Surround")
reps=${REPS:-3}

for clip in ${CLIPS:-synthetic forest crossfade}; do
src="$out/camera_$clip.mp4"
for target in iPhone iPod AppleTV QuickTime; do
  for preset in "${presets[@]}"; do
    echo "== $clip: $target (x264 $preset; median of $reps runs, taken in turn)"
    declare -A runs=() peaks=() times=() files=()
    engines=(ffmpeg Tovix)
    [ -n "${hb[$target]:-}" ] && engines+=(HandBrakeCLI)
    # The iPod plays 640x480 at most: HandBrake's preset again at the iPod's size.
    [ "$target" = iPod ] && engines+=("HandBrakeCLI at 640x360")
    # Each repetition starts with the next engine, so none always runs first.
    for ((rep = 0; rep < reps; rep++)); do
      for ((turn = 0; turn < ${#engines[@]}; turn++)); do
        engine=${engines[(rep + turn) % ${#engines[@]}]}
        case $engine in
          ffmpeg) file="$out/ffmpeg_$target.m4v"
            cmd=(ffmpeg -y -i "$src" ${ffargs[$target]/-c:v libx264/-c:v libx264 -preset $preset} \
                 -pix_fmt yuv420p -ac 2 -movflags +faststart -threads 0 "$file") ;;
          Tovix) file="$out/tovix_$target.m4v"
            rm -f "$file"  # Tovix never replaces a file
            cmd=(build/bin/bench_export "$src" "$PWD/$file" "${code[$target]}" "$preset") ;;
          HandBrakeCLI) file="$out/hb_$target.m4v"
            cmd=(HandBrakeCLI -i "$src" -o "$file" --preset "${hb[$target]}") ;;
          *) file="$out/hb_${target}_small.m4v"
            cmd=(HandBrakeCLI -i "$src" -o "$file" --preset "${hb[$target]}" --maxWidth 640 --maxHeight 480 --non-anamorphic) ;;
        esac
        read -r seconds peak < <(measure "${cmd[@]}")
        runs["$engine"]+="$seconds "; peaks["$engine"]=$peak; files["$engine"]=$file
      done
    done
    for engine in "${engines[@]}"; do
      # shellcheck disable=SC2086
      report "$engine" "${peaks[$engine]}" "${files[$engine]}" ${runs[$engine]}
    done
  done
done
done
