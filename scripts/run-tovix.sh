#!/usr/bin/env bash
# Starts Tovix on the desktop; it needs a display and a session bus.
set -euo pipefail
bin="$1"
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Tovix needs a desktop, and no display is set (DISPLAY or WAYLAND_DISPLAY)."
  echo "To try it without one, on a virtual display:"
  echo "  xvfb-run -a dbus-run-session -- $bin"
  exit 1
fi
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ] && [ ! -S "${XDG_RUNTIME_DIR:-/nonexistent}/bus" ]; then
  exec dbus-run-session -- "$bin"
fi
exec "$bin"
