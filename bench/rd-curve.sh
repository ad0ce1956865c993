#!/usr/bin/env bash
# Rate-distortion curves of Tovix against HandBrakeCLI's Apple presets on
# seven short scenes of different character, and the Bjøntegaard rate
# difference (BD-rate) on SSIM and on PSNR of Tovix against HandBrake.
# Scenes, 4 s of 1080p30 each, encoded as a phone camera records them (H.264
# High, 18 Mb/s), from Debian's plasma-workspace-wallpapers photographs and
# FFmpeg's generators: grain (a sharp photograph panned, film grain), soft (the
# same out of focus, light grain), dark (low light, strong noise), fast (a
# quick pan), still (a near-static head-and-shoulders-like frame with a small
# moving part), flat (flat-colour animation: FFmpeg's test picture), crossfade (two photographs
# cross-faded while panning).
# Usage: bench/rd-curve.sh [TARGET...]   (iPhone, AppleTV, iPod; default iPhone AppleTV)
# TOVIX_X264="opt=v:opt=v" sets Tovix's x264 options in place of the target's own
# (the tuning runs; "ref=1" alone gives plain veryfast),
# TOVIX_TAG names such a run's files;
# TOVIX_CRFS / HB_RFS set the points (defaults 17 19 21 23 25 / 18 20 22 24 26; HandBrake's
# presets default to RF 21 at 720p, 22 at 1080p and 20 at 540p);
# TIMES=3 also times both programs' default exports of each scene (median of three)
# and sets their SSIM and bytes side by side; CURVES=0 leaves the curves out;
# SCENES limits the scenes. Prints per scene and target each point's video
# bytes, SSIM and PSNR, then the BD-rates and their means.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x build/bin/bench_export ] || make -s build >/dev/null
source bench/common.sh
needs HandBrakeCLI handbrake-cli
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
make_clip flat "[0:v]null[v]" -f lavfi -i "testsrc2=size=1920x1080:rate=30:duration=$seconds"
make_clip crossfade "[0:v]crop=1920:1080:x='t*200':y=300,format=yuv420p,setsar=1[a];[1:v]crop=1920:1080:x='400-t*100':y=200,format=yuv420p,setsar=1[b];[a][b]xfade=transition=fade:duration=2:offset=1,noise=alls=5:allf=t[v]" \
  $(photo "$forest") $(photo "$water")

# "SSIM PSNR" of a file against its scene; each output frame is paired with
# the best of source frames k-1, k and k+1, as HandBrake repeats and drops
# frames at places (bench/run-bench.sh says why), for both measures.
quality() {
  local file=$1 src=$2 stats; stats=$(mktemp -d)
  ffmpeg -nostdin -v error -i "$file" -i "$src" -lavfi "\
[0:v]setpts=N/30/TB,scale=1920:1080:flags=bicubic,split=6[o0][o1][o2][o3][o4][o5];\
[1:v]setpts=N/30/TB,split=6[s0][s1][s2][s3][s4][s5];\
[s1]trim=start_frame=1,setpts=N/30/TB[sn];[o2]trim=start_frame=1,setpts=N/30/TB[ol];\
[s4]trim=start_frame=1,setpts=N/30/TB[sn2];[o5]trim=start_frame=1,setpts=N/30/TB[ol2];\
[o0][s0]ssim=stats_file=$stats/same:shortest=1[a];[o1][sn]ssim=stats_file=$stats/next:shortest=1[b];\
[ol][s2]ssim=stats_file=$stats/prev:shortest=1[c];[o3][s3]psnr=stats_file=$stats/psame:shortest=1[d];\
[o4][sn2]psnr=stats_file=$stats/pnext:shortest=1[e];[ol2][s5]psnr=stats_file=$stats/pprev:shortest=1[f]" \
    -map "[a]" -f null - -map "[b]" -f null - -map "[c]" -f null - -map "[d]" -f null - -map "[e]" -f null - \
    -map "[f]" -f null - 2>/dev/null
  awk 'function field(line, name,  i, a) { for (i = 1; i <= split(line, f, " "); i++) if (f[i] ~ "^" name ":") { split(f[i], a, ":"); return a[2] } }
       FILENAME ~ /\/same$/ { same[FNR] = field($0, "All"); n = FNR } FILENAME ~ /\/next$/ { nx[FNR] = field($0, "All") }
       FILENAME ~ /\/prev$/ { pv[FNR + 1] = field($0, "All") }
       FILENAME ~ /psame$/ { ms[FNR] = field($0, "mse_avg") } FILENAME ~ /pnext$/ { mn[FNR] = field($0, "mse_avg") }
       FILENAME ~ /pprev$/ { mp[FNR + 1] = field($0, "mse_avg") }
       END { for (k = 1; k <= n; k++) { best = same[k]; low = ms[k]
               if ((k in nx) && nx[k] > best) best = nx[k]
               if ((k in pv) && pv[k] > best) best = pv[k]
               if ((k in mn) && mn[k] < low) low = mn[k]
               if ((k in mp) && mp[k] < low) low = mp[k]
               s += best; m += low }
             printf "%.5f %.3f", s / n, 10 * log(255 * 255 / (m / n)) / log(10) }' \
    "$stats/same" "$stats/next" "$stats/prev" "$stats/psame" "$stats/pnext" "$stats/pprev"
  rm -rf "$stats"
}
video_bytes() { ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 "$1" | awk '{s += $1} END {print s}'; }

# Each run's files carry a tag of their own, so runs with other options can go side by side.
tag=${TOVIX_TAG:-base}
seconds_since() { awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.2f", b - a }'; }

# One scene's curves for one target, and its BD-rates added to the summary.
curves() { # target scene summary
  local target=$1 scene=$2 summary=$3 src="$out/scene_$2.mp4" points="$out/points_$1_$2_$tag.txt" file start crf rf
  : > "$points"
  for crf in "${crfs[@]}"; do
    file="$out/tovix_${target}_${scene}_${crf}_$tag.m4v"; rm -f "$file"
    start=$EPOCHREALTIME
    TOVIX_X264="${TOVIX_X264:-}" build/bin/bench_export "$src" "$PWD/$file" "${code[$target]}" "" "$crf" >/dev/null
    echo "Tovix $(video_bytes "$file") $(quality "$file" "$src") crf=$crf s=$(seconds_since "$start")" >> "$points"
  done
  for rf in "${rfs[@]}"; do
    # HandBrake's files and their measures do not change between runs: kept.
    file="$out/hb_${target}_${scene}_$rf.m4v" measured="$out/hb_${target}_${scene}_$rf.txt"
    [ -f "$file" ] || HandBrakeCLI -i "$src" -o "$file" --preset "${hb[$target]}" ${hbsize[$target]:-} -q "$rf" >/dev/null 2>&1
    [ -s "$measured" ] || echo "HandBrake $(video_bytes "$file") $(quality "$file" "$src") rf=$rf" > "$measured"
    cat "$measured" >> "$points"
  done
  local ssim psnr
  ssim=$(python3 bench/bd_rate.py ssim "$points" | sed 's/.*: //') psnr=$(python3 bench/bd_rate.py psnr "$points" | sed 's/.*: //')
  echo "== $target $scene: BD-rate on SSIM $ssim, on PSNR $psnr"
  sed 's/^/   /' "$points"
  echo "$target $scene $ssim $psnr" >> "$summary"
}

# Median wall time of TIMES runs of a command (its output goes).
median_seconds() {
  local i start times=()
  for ((i = 0; i < ${TIMES:-3}; i++)); do
    start=$EPOCHREALTIME; "$@" >/dev/null 2>&1; times+=("$(seconds_since "$start")")
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'
}

# Tovix never replaces a file, so each timed export starts without one.
export_anew() { rm -f "$2"; build/bin/bench_export "$@"; }

# Both programs' default exports of one scene, as a user makes them: timed,
# then their video bytes and SSIM side by side.
default_point() { # target scene defaults
  local target=$1 scene=$2 src="$out/scene_$2.mp4" mine="$out/default_tovix_$1_$2.m4v" theirs="$out/default_hb_$1_$2.m4v"
  local tovix_s hb_s tovix_q hb_q tovix_b hb_b
  tovix_s=$(median_seconds export_anew "$src" "$PWD/$mine" "${code[$target]}")
  hb_s=$(median_seconds HandBrakeCLI -i "$src" -o "$theirs" --preset "${hb[$target]}" ${hbsize[$target]:-})
  tovix_q=$(quality "$mine" "$src") hb_q=$(quality "$theirs" "$src")
  tovix_b=$(video_bytes "$mine") hb_b=$(video_bytes "$theirs")
  echo "$target $scene $tovix_s $hb_s ${tovix_q% *} ${hb_q% *} $tovix_b $hb_b" >> "$3"
}

summary=$(mktemp) defaults=$(mktemp)
for target in "${targets[@]}"; do
  for scene in ${SCENES:-grain soft dark fast still flat crossfade}; do
    [ "${CURVES:-1}" = 0 ] || curves "$target" "$scene" "$summary"
    [ "${TIMES:-0}" = 0 ] || default_point "$target" "$scene" "$defaults"
  done
done
if [ -s "$summary" ]; then
  echo "== mean BD-rate of Tovix against HandBrake (negative: fewer bytes for the same quality)"
  awk '{ gsub(/[+%]/, "", $3); gsub(/[+%]/, "", $5); s[$1] += $3; p[$1] += $5; n[$1]++ }
       END { for (t in n) printf "%s: SSIM %+.1f %%, PSNR %+.1f %% over %d scenes\n", t, s[t] / n[t], p[t] / n[t], n[t] }' "$summary"
fi
if [ -s "$defaults" ]; then
  echo "== default exports, median of ${TIMES} runs: seconds, SSIM and video bytes, Tovix against HandBrake"
  awk '{ printf "%-8s %-9s %6.2f s vs %6.2f s (%.2fx faster)  SSIM %.4f vs %.4f  bytes %9d vs %9d (%3.0f %%)\n",
                $1, $2, $3, $4, $4 / $3, $5, $6, $7, $8, 100 * $7 / $8
         s5[$1] += $5; s6[$1] += $6; b7[$1] += $7; b8[$1] += $8; n[$1]++ }
       END { for (t in n) printf "%s: mean SSIM %.4f vs %.4f, video bytes %.0f %% of HandBrake'"'"'s over %d scenes\n",
                                 t, s5[t] / n[t], s6[t] / n[t], 100 * b7[t] / b8[t], n[t] }' "$defaults"
fi
rm -f "$summary" "$defaults"
