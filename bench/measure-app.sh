#!/usr/bin/env bash
# Measures Tovix itself: process start to main window mapped (Xvfb), memory at
# rest with 100 queued movies, and the time from one completion to the next
# request on the bus. Usage: bench/measure-app.sh
set -euo pipefail
cd "$(dirname "$0")/.."
make -s build >/dev/null
source bench/common.sh
needs xwininfo x11-utils
home=$(mktemp -d); trap 'rm -rf "$home"' EXIT
mkdir -p "$home/Movies" "$home/.local/share/Tovix/Queue"
ffmpeg -v error -y -f lavfi -i "testsrc2=size=320x240:rate=30:duration=1" -c:v libx264 "$home/Movies/clip.mp4"
python3 - "$home" <<'PY'
import plistlib, sys
home = sys.argv[1]
keys = ['QUEUE_ENTRY_IPHONE_KEY', 'QUEUE_ENTRY_IPOD_KEY', 'QUEUE_ENTRY_APPLETV_KEY', 'QUEUE_ENTRY_QT_KEY']
queue = []
for i in range(100):
    entry = {'QUEUE_ENTRY_MOVIE_PATH_KEY': f'{home}/Movies/clip.mp4', 'QUEUE_ENTRY_DISPLAY_KEY': f'Movie {i:03}.mp4',
             'QUEUE_ENTRY_STATUS_KEY': 'Queued'}
    entry.update({k: ('On' if (i < 3 and k == 'QUEUE_ENTRY_IPOD_KEY') else 'Off') for k in keys})
    queue.append(entry)
plistlib.dump(queue, open(f'{home}/.local/share/Tovix/Queue/Queue.xml', 'wb'))
PY
cat > "$home/run.sh" <<'IN'
#!/usr/bin/env bash
set -euo pipefail
start=$(date +%s%N)
build/bin/Tovix 2>/dev/null &
pid=$!
until xwininfo -name Tovix 2>/dev/null | grep -q 'IsViewable'; do sleep 0.005; done
echo "start to main window shown: $(( ($(date +%s%N) - start) / 1000000 )) ms"
sleep 3
echo "memory at rest, 100 queued movies: $(grep VmRSS /proc/$pid/status | awk '{print $2}') KiB resident"
dbus-monitor --session "interface='org.tovix.Tovix'" 2>/dev/null | while read -r line; do
  case "$line" in *member=TovixExport*) echo "$(date +%s%N) ${line##*member=}";; esac
done > "$HOME/bus.txt" &
sleep 0.3
gdbus call --session --dest org.tovix.Tovix --object-path /org/tovix/Application \
  --method org.tovix.Application.StartQueue >/dev/null
sleep 6
python3 - "$HOME/bus.txt" <<'PY'
import sys
events = [line.split() for line in open(sys.argv[1])]
gaps = [(int(b[0]) - int(a[0])) / 1e6 for a, b in zip(events, events[1:])
        if a[1] == 'TovixExportComplete' and b[1] == 'TovixExportRequest']
print("completion to next request: " + ", ".join(f"{g:.1f} ms" for g in gaps))
PY
kill -TERM $pid; wait $pid || true
IN
chmod +x "$home/run.sh"
HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" QT_QPA_PLATFORM=xcb \
  xvfb-run -a dbus-run-session -- "$home/run.sh"
