#!/usr/bin/env bash
# An interrupted export goes on from its kept pieces, driven through the
# window as a person does: the 10-minute 1080p30 movie of bench/resume.sh to
# Apple TV, once whole (Start, Ctrl+R), then stopped (Stop, Ctrl+.) or quit
# (Ctrl+Q, answering the alert with Return, then Tovix started again) at
# 50 % and at 90 % of the whole export's time, and started again. Prints
# each second run's time, from Start (or from starting Tovix again) to the
# finished file, as a share of the whole export's.
# Runs on a virtual display with openbox, a private session bus and a
# throw-away home folder. Usage: MINUTES=10 bench/resume-window.sh
set -euo pipefail
cd "$(dirname "$0")/.."
make -s build >/dev/null
source bench/common.sh
needs bc bc
minutes=${MINUTES:-10}
movie=$(resume_movie "$minutes")
home=$(mktemp -d); trap 'rm -rf "$home"' EXIT
mkdir -p "$home/Movies"
ln -s "$movie" "$home/Movies/film.mp4"
cat > "$home/drive.sh" <<'IN'
#!/usr/bin/env bash
# Inside the virtual display: one whole export, then each interruption.
set -euo pipefail
finished="$HOME/Movies/film_ATV.m4v"
now() { date +%s.%N; }
window() { xdotool search --sync --onlyvisible --name '^Tovix$' | head -1; }
press() { local id; id=$(window); xdotool windowactivate --sync "$id" >/dev/null 2>&1 || true; xdotool key --clearmodifiers "$1"; }
launch() { build/bin/Tovix 2>/dev/null & tovix=$!; window >/dev/null; sleep 1; }
# One queued movie with only Apple TV ticked.
seed() {
  rm -rf "$XDG_DATA_HOME/Tovix" "$XDG_CACHE_HOME/Tovix" "$finished"
  mkdir -p "$XDG_DATA_HOME/Tovix/Queue"
  python3 - "$HOME/Movies/film.mp4" "$XDG_DATA_HOME/Tovix/Queue/Queue.xml" <<'PY'
import plistlib, sys
entry = {'QUEUE_ENTRY_MOVIE_PATH_KEY': sys.argv[1], 'QUEUE_ENTRY_DISPLAY_KEY': 'film.mp4', 'QUEUE_ENTRY_STATUS_KEY': 'Queued',
         'QUEUE_ENTRY_IPHONE_KEY': 'Off', 'QUEUE_ENTRY_IPOD_KEY': 'Off', 'QUEUE_ENTRY_APPLETV_KEY': 'On', 'QUEUE_ENTRY_QT_KEY': 'Off'}
plistlib.dump([entry], open(sys.argv[2], 'wb'))
PY
}
until_finished() { until [ -f "$finished" ]; do sleep 0.2; done; }
# Quit Tovix. While it converts, an alert asks first, its Cancel button
# chosen: Tab goes to "Quit and stop the export" and Space presses it.
quit() {
  press ctrl+q; sleep 1; xdotool key Tab space
  for ((i = 0; i < 150; i++)); do kill -0 "$tovix" 2>/dev/null || break; sleep 0.2; done
  if kill -0 "$tovix" 2>/dev/null; then echo "Tovix did not quit; stopped it" >&2; kill "$tovix"; fi
  wait "$tovix" 2>/dev/null || true
}

seed; launch
start=$(now); press ctrl+r; until_finished; whole=$(echo "$(now) - $start" | bc)
echo "whole export through the window: $whole s"
quit
for way in stop quit; do
  for share in 0.5 0.9; do
    seed; launch
    press ctrl+r; sleep "$(echo "$whole * $share" | bc)"
    if [ "$way" = stop ]; then
      press ctrl+period; sleep 2; start=$(now)
    else
      quit; start=$(now); launch
    fi
    if [ -f "$finished" ]; then
      echo "$way at $share: the export finished before it was interrupted"
      quit; continue
    fi
    press ctrl+r; until_finished; again=$(echo "$(now) - $start" | bc)
    # The log has its lines once the window has the helper's answer.
    for ((i = 0; i < 50; i++)); do grep -q 'Export finished' "$XDG_DATA_HOME/Tovix/Log/Log.xml" 2>/dev/null && break; sleep 0.1; done
    kept=$(grep -o 'Export resumed at [0-9]* %' "$XDG_DATA_HOME/Tovix/Log/Log.xml" 2>/dev/null | tail -1 || true)
    echo "$way at $share: the second run took $again s = $(echo "scale=3; $again / $whole" | bc) of the whole (${kept:-no resume logged})"
    frames=$(ffprobe -v error -select_streams v -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$finished")
    echo "  $frames frames, $(ffprobe -v error -show_entries format=duration -of csv=p=0 "$finished") s"
    quit
  done
done
IN
chmod +x "$home/drive.sh"
HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" XDG_CACHE_HOME="$home/.cache" \
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
    openbox >/dev/null 2>&1 & wm=$!
    sleep 1
    dbus-run-session -- "$@"; status=$?
    kill $wm; exit $status' _ "$home/drive.sh"
