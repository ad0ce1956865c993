#!/usr/bin/env bash
# Takes the screenshots under docs/ on a virtual display (Xvfb) with the
# openbox window manager, a private session bus and a throw-away home folder.
set -euo pipefail
cd "$(dirname "$0")/.."
make -s build >/dev/null
home=$(mktemp -d); trap 'rm -rf "$home"' EXIT
mkdir -p "$home/Movies" docs
clip() { ffmpeg -v error -y "$@"; }
clip -f lavfi -i "testsrc2=size=640x360:rate=30:duration=4" -f lavfi -i "sine=frequency=440:duration=4" \
  -c:v libx264 -c:a aac "$home/Movies/Beach Day.mov"
clip -f lavfi -i "testsrc2=size=1280x720:rate=30:duration=20" -f lavfi -i "sine=frequency=330:duration=20" \
  -c:v mpeg4 -q:v 4 -c:a libmp3lame "$home/Movies/Birthday Party.avi"
clip -f lavfi -i "testsrc2=size=854x480:rate=25:duration=6" -c:v libx264 "$home/Movies/Garden Timelapse.mp4"
echo "a damaged tape, no movie" > "$home/Movies/Old Tape.avi"
# Once in the dark look into docs/, once in the light look into docs/light/.
for light in 0 1; do
  rm -rf "$home/.config" "$home/.local" "$home/Movies/"*_[iAQ]*
  HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" TOVIX_LIGHT=$light \
    QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
      openbox >/dev/null 2>&1 & wm=$!
      sleep 1
      dbus-run-session -- "$@"; status=$?
      kill $wm; exit $status' _ \
    build/bin/screenshots "$PWD/docs" "$home/Movies/Old Tape.avi" "$home/Movies/Beach Day.mov" "$home/Movies/Birthday Party.avi" \
    "$home/Movies/Garden Timelapse.mp4"
done
