#!/usr/bin/env bash
# Rate-distortion curves of Tovix against HandBrakeCLI's Apple presets on
# seven short scenes of different character, and the Bjøntegaard rate
# difference (BD-rate) on SSIM and on PSNR of Tovix against HandBrake.
# Scenes, 4 s of 1080p30 each, encoded as a phone camera records them (H.264
# High, 18 Mb/s), from Debian's plasma-workspace-wallpapers photographs and
# FFmpeg's generators: grain (a sharp photograph panned, film grain), soft (the
# same out of focus, light grain), dark (low light, strong noise), fast (a
# quick pan), still (a near-static head-and-shoulders-like frame with a small
# moving part), flat (flat-colour animation), crossfade (two photographs
# cross-faded while panning).
# Usage: bench/rd-curve.sh [TARGET...]   (iPhone, AppleTV, iPod; default iPhone AppleTV)
# TOVIX_X264="opt=v:opt=v" adds x264 options to Tovix's encodes (the tuning runs);
# TOVIX_CRFS / HB_RFS set the points (defaults 17 19 21 23 25 / 18 20 22 24 26; 22 is
# HandBrake's default);
# SCENES limits the scenes. Prints per scene and target each point's video
# bytes, SSIM and PSNR, then the BD-rates and their means.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x build/bin/bench_export ] || make -s build >/dev/null
sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
command -v HandBrakeCLI >/dev/null || $sudo apt-get install -y -qq handbrake-cli >/dev/null
photos=/usr/share/wallpapers
[ -f "$photos/Path/contents/images/2560x1600.jpg" ] ||
  $sudo apt-get install -y -qq --no-install-recommends plasma-workspace-wallpapers >/dev/null
out=bench/out/rd; mkdir -p "$out"
seconds=4
forest="$photos/Path/contents/images/2560x1600.jpg"
water="$photos/BytheWater/contents/images/2560x1600.jpg"
targets=("${@:-iPhone AppleTV}"); targets=(${targets[*]})
crfs=(${TOVIX_CRFS:-17 19 21 23 25})
rfs=(${HB_RFS:-18 20 22 24 26})
declare -A code=([iPhone]=M4VP [iPod]="M4V " [AppleTV]=M4VH)
declare -A hb=([iPhone]="Apple 720p30 Surround" [iPod]="Apple 540p30 Surround" [AppleTV]="Apple 1080p30 Surround")
declare -A hbsize=([iPod]="--maxWidth 640 --maxHeight 480 --non-anamorphic")

make_clip() { # name graph [inputs...]
  local name=$1 graph=$2; shift 2
  [ -f "$out/scene_$name.mp4" ] && return
  ffmpeg -nostdin -v error -y "$@" -filter_complex "$graph;[v]scale=1920:1080,format=yuv420p[c]" -map "[c]" -t $seconds -r 30 \
    -c:v libx264 -preset fast -profile:v high -b:v 18M -maxrate 24M -bufsize 36M -g 30 -colorspace bt709 \
    -color_primaries bt709 -color_trc bt709 -color_range tv "$out/scene_$name.mp4"
}
photo() { echo -loop 1 -framerate 30 -t $seconds -i "$1"; }
make_clip grain "[0:v]crop=1920:1080:x='t*120':y=200,noise=alls=8:allf=t[v]" $(photo "$forest")
make_clip soft "[0:v]crop=1920:1080:x='t*60':y=300,gblur=sigma=5,noise=alls=3:allf=t[v]" $(photo "$water")
make_clip dark "[0:v]crop=1920:1080:x='t*40':y=250,eq=brightness=-0.25:gamma=0.6,noise=alls=14:allf=t[v]" $(photo "$forest")
make_clip fast "[0:v]crop=1920:1080:x='mod(t*600,iw-1920)':y=200,noise=alls=4:allf=t[v]" $(photo "$water")
make_clip still "[0:v]crop=1920:1080:x=300:y=200,gblur=sigma=2[bg];[1:v]scale=360:480[f];[bg][f]overlay=x='780+20*sin(2*t)':y='300+8*sin(3*t)',noise=alls=3:allf=t[v]" \
  $(photo "$water") $(photo "$forest")
make_clip flat "[0:v]drawbox=x='200+300*t':y=200:w=400:h=300:color=orange@1:t=fill,drawbox=x=1200:y='100+150*t':w=300:h=300:color=navy@1:t=fill[v]" \
  -f lavfi -i "color=c=0x7fb8e0:size=1920x1080:rate=30:duration=$seconds"
make_clip crossfade "[0:v]crop=1920:1080:x='t*200':y=300,format=yuv420p,setsar=1[a];[1:v]crop=1920:1080:x='400-t*100':y=200,format=yuv420p,setsar=1[b];[a][b]xfade=transition=fade:duration=2:offset=1,noise=alls=5:allf=t[v]" \
  $(photo "$forest") $(photo "$water")

# "SSIM PSNR" of a file against its scene; each output frame is paired with
# the best of source frames k-1, k and k+1, as HandBrake repeats and drops
# frames at places (bench/run-bench.sh says why).
quality() {
  local file=$1 src=$2 stats; stats=$(mktemp -d)
  ffmpeg -nostdin -v error -i "$file" -i "$src" -lavfi "\
[0:v]setpts=N/30/TB,scale=1920:1080:flags=bicubic,split=3[o0][o1][o2];[1:v]setpts=N/30/TB,split=3[s0][s1][s2];\
[s1]trim=start_frame=1,setpts=N/30/TB[next];[o2]trim=start_frame=1,setpts=N/30/TB[late];\
[o0][s0]ssim=stats_file=$stats/same:shortest=1;[o1][next]ssim=stats_file=$stats/next:shortest=1[n];\
[late][s2]ssim=stats_file=$stats/prev:shortest=1[p]" -map "[n]" -f null - -map "[p]" -f null - 2>/dev/null
  ffmpeg -nostdin -v error -i "$file" -i "$src" -lavfi "[0:v]setpts=N/30/TB,scale=1920:1080:flags=bicubic[o];\
[1:v]setpts=N/30/TB[s];[o][s]psnr=stats_file=$stats/psnr:shortest=1" -f null - 2>/dev/null
  awk 'function all(line,  i, a) { for (i = 1; i <= split(line, f, " "); i++) if (f[i] ~ /^All:/) { split(f[i], a, ":"); return a[2] } }
       function mse(line,  i, a) { for (i = 1; i <= split(line, f, " "); i++) if (f[i] ~ /^mse_avg:/) { split(f[i], a, ":"); return a[2] } }
       FILENAME ~ /same$/ { same[FNR] = all($0); n = FNR } FILENAME ~ /next$/ { next_[FNR] = all($0) }
       FILENAME ~ /prev$/ { prev[FNR + 1] = all($0) } FILENAME ~ /psnr$/ { m += mse($0); pn++ }
       END { for (k = 1; k <= n; k++) { best = same[k]
               if ((k in next_) && next_[k] > best) best = next_[k]
               if ((k in prev) && prev[k] > best) best = prev[k]
               s += best }
             printf "%.5f %.3f", s / n, 10 * log(255 * 255 / (m / pn)) / log(10) }' \
    "$stats/same" "$stats/next" "$stats/prev" "$stats/psnr"
  rm -rf "$stats"
}
video_bytes() { ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 "$1" | awk '{s += $1} END {print s}'; }

summary=$(mktemp)
for target in "${targets[@]}"; do
  for scene in ${SCENES:-grain soft dark fast still flat crossfade}; do
    src="$out/scene_$scene.mp4" points="$out/points_${target}_$scene.txt"
    : > "$points"
    for crf in "${crfs[@]}"; do
      file="$out/tovix_${target}_${scene}_$crf.m4v"; rm -f "$file"
      TOVIX_X264="${TOVIX_X264:-}" build/bin/bench_export "$src" "$PWD/$file" "${code[$target]}" "" "$crf" >/dev/null
      echo "Tovix $(video_bytes "$file") $(quality "$file" "$src") crf=$crf" >> "$points"
    done
    for rf in "${rfs[@]}"; do
      file="$out/hb_${target}_${scene}_$rf.m4v"
      [ -f "$file" ] || HandBrakeCLI -i "$src" -o "$file" --preset "${hb[$target]}" ${hbsize[$target]:-} -q "$rf" >/dev/null 2>&1
      echo "HandBrake $(video_bytes "$file") $(quality "$file" "$src") rf=$rf" >> "$points"
    done
    ssim=$(python3 bench/bd_rate.py ssim "$points" | sed 's/.*: //') psnr=$(python3 bench/bd_rate.py psnr "$points" | sed 's/.*: //')
    echo "== $target $scene: BD-rate on SSIM $ssim, on PSNR $psnr"
    sed 's/^/   /' "$points"
    echo "$target $scene $ssim $psnr" >> "$summary"
  done
done
echo "== mean BD-rate of Tovix against HandBrake (negative: fewer bytes for the same quality)"
awk '{ gsub(/[+%]/, "", $3); gsub(/[+%]/, "", $5); s[$1] += $3; p[$1] += $5; n[$1]++ }
     END { for (t in n) printf "%s: SSIM %+.1f %%, PSNR %+.1f %% over %d scenes\n", t, s[t] / n[t], p[t] / n[t], n[t] }' "$summary"
rm -f "$summary"
