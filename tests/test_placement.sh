#!/usr/bin/env bash
# Tovix's windows on a 1600x1000 virtual screen, bare and under the openbox
# window manager (real frames), with the main window in the screen's
# bottom-right corner: Preferences, the log and Movie Info must each open
# with their whole frame on the screen.
set -euo pipefail
bin=$1
work=$(mktemp -d)
pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT
ffmpeg -v error -f lavfi -i testsrc2=size=320x240:rate=25:duration=1 -c:v libx264 "$work/clip.mp4"
failures=0

# The outermost window below the root that holds window id: its frame.
frame_of() {
  local id=$1 parent
  while parent=$(xwininfo -id "$id" -tree | awk '/Parent window id:/ {print $4}') &&
        [ -n "$parent" ] && [ "$parent" != "$root" ]; do
    id=$parent
  done
  echo "$id"
}

on_screen() { # window-name
  local id frame x y w h
  id=$(timeout 10 xdotool search --sync --onlyvisible --name "^$1\$" | head -1) || { echo "FAILED: $wm: no window $1"; return 1; }
  sleep 0.5  # the window manager frames it
  frame=$(frame_of "$id")
  read -r x y w h < <(xwininfo -id "$frame" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
                                                    /Width:/ {w=$2} /Height:/ {h=$2} END {print x, y, w, h}')
  if [ "$x" -ge 0 ] && [ "$y" -ge 0 ] && [ $((x + w)) -le 1600 ] && [ $((y + h)) -le 1000 ]; then
    echo "ok: $wm: $1 at ${x},${y} ${w}x${h}"
  else
    echo "FAILED: $wm: $1 at ${x},${y} ${w}x${h} is not wholly on the 1600x1000 screen"; return 1
  fi
}

# Presses keys in the main window until window name shows (a busy machine
# may miss the first), then checks where it opened.
open_window() { # keys name
  for _ in 1 2 3 4; do
    xdotool windowactivate --sync "$main" 2>/dev/null || xdotool windowfocus --sync "$main"
    xdotool key --window "$main" $1
    timeout 5 xdotool search --sync --onlyvisible --name "^$2\$" >/dev/null && break
  done
  on_screen "$2" || failures=$((failures + 1))
}

for wm in bare openbox; do
  display=70
  while [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
  export DISPLAY=:$display
  Xvfb "$DISPLAY" -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 & pids+=($!)
  timeout 10 bash -c 'until xwininfo -root >/dev/null 2>&1; do sleep 0.1; done'
  root=$(xwininfo -root | awk '/Window id:/ {print $4}')
  if [ "$wm" = openbox ]; then openbox >/dev/null 2>&1 & pids+=($!); sleep 1; fi
  home="$work/home-$wm"; mkdir -p "$home"
  HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" XDG_RUNTIME_DIR="$home" \
    QT_QPA_PLATFORM=xcb dbus-run-session -- "$bin" "$work/clip.mp4" >/dev/null 2>&1 & pids+=($!)
  main=$(timeout 20 xdotool search --sync --onlyvisible --name '^Tovix$' | head -1)
  sleep 1
  xdotool windowmove "$main" 720 460  # its frame's far corner near the screen's
  sleep 0.5
  open_window "ctrl+comma" Preferences
  open_window "ctrl+l" "Tovix Log"
  # The log closes again (Escape), so the main window takes the keys that follow:
  # a window manager may keep an open child window in front and focused.
  xdotool key Escape
  timeout 5 bash -c 'while xdotool search --onlyvisible --name "^Tovix Log\$" >/dev/null; do sleep 0.1; done' || true
  # The queued clip's row (once the clip is tested and queued), chosen with
  # the keyboard (Tab until the queue has it), then its information.
  timeout 20 bash -c 'until grep -qs clip.mp4 "$0"/.local/share/Tovix/Queue/Queue.xml; do sleep 0.2; done' "$home" || true
  open_window "Tab Down ctrl+i" "Movie Info"
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  pids=()
done
if [ "$failures" -ne 0 ]; then echo "$failures checks failed"; exit 1; fi
