#!/usr/bin/env bash
# Hands 10,000 movie files to a running Tovix in OpenFiles calls of 1,000 and
# measures the time until all are queued, and how long the window takes to
# answer meanwhile: a D-Bus call its window thread answers (Activate) is
# made over and over, and its slowest round trip is reported beside the
# quickest, which is the cost of the call itself. Usage: bench/measure-intake.sh [COUNT]
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-10000}
make -s build >/dev/null
home=$(mktemp -d); trap 'rm -rf "$home"' EXIT
mkdir -p "$home/Movies"
ffmpeg -v error -y -f lavfi -i "testsrc2=size=160x120:rate=30:duration=1" -c:v libx264 "$home/Movies/clip.mp4"
for i in $(seq -w 1 "$count"); do ln "$home/Movies/clip.mp4" "$home/Movies/movie $i.mp4"; done
cat > "$home/run.sh" <<'IN'
#!/usr/bin/env bash
set -euo pipefail
count=$1
build/bin/Tovix 2>/dev/null &
pid=$!
until gdbus call --session --dest org.tovix.Tovix --object-path /org/tovix/Application \
  --method org.tovix.Application.Activate >/dev/null 2>&1; do sleep 0.05; done
# One argument may hold at most 128 KiB: the files go in calls of 1,000.
python3 -c "
import sys, glob
paths = sorted(glob.glob(sys.argv[1] + '/Movies/movie *.mp4'))
for i in range(0, len(paths), 1000):
    print('[' + ','.join(repr(p) for p in paths[i:i + 1000]) + ']')" "$HOME" > "$HOME/calls.txt"
queue="$HOME/.local/share/Tovix/Queue/Queue.xml"
start=$(date +%s%N)
while read -r files; do
  gdbus call --session --dest org.tovix.Tovix --object-path /org/tovix/Application \
    --method org.tovix.Application.OpenFiles "$files" >/dev/null
done < "$HOME/calls.txt"
echo "$(wc -l < "$HOME/calls.txt") OpenFiles calls answered after $(( ($(date +%s%N) - start) / 1000000 )) ms"
slowest=0; quickest=999999
queued() { python3 -c "import plistlib,sys; print(len(plistlib.load(open(sys.argv[1],'rb'))))" "$queue" 2>/dev/null || echo 0; }
while :; do
  t=$(date +%s%N)
  gdbus call --session --dest org.tovix.Tovix --object-path /org/tovix/Application \
    --method org.tovix.Application.Activate >/dev/null
  ms=$(( ($(date +%s%N) - t) / 1000000 ))
  (( ms > slowest )) && slowest=$ms; (( ms < quickest )) && quickest=$ms
  if (( ($(date +%s%N) - start) / 1000000000 % 2 == 0 )) && [ "$(queued)" -ge "$count" ]; then break; fi
done
echo "all $count queued after $(( ($(date +%s%N) - start) / 1000000 )) ms"
echo "window answered within $slowest ms at the slowest (quickest round trip $quickest ms)"
echo "resident: $(grep VmRSS /proc/$pid/status | awk '{print $2}') KiB"
kill -TERM $pid; wait $pid || true
IN
chmod +x "$home/run.sh"
trap 'rm -rf "$home"; pkill -P $$ || true' EXIT
HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" QT_QPA_PLATFORM=offscreen \
  dbus-run-session -- "$home/run.sh" "$count"
