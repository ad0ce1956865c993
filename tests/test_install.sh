#!/usr/bin/env bash
# Installs Tovix into a temporary prefix and checks what the desktop reads:
# the launcher entry, the AppStream data, the icons, the man page, and that
# the installed window finds its helper and answers --version.
set -euo pipefail
build=$1
prefix=$(mktemp -d); trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
failures=0
check() {
  if "$@"; then echo "ok: $*"; else echo "FAILED: $*"; failures=$((failures + 1)); fi
}
check test -x "$prefix/bin/tovix"
check test -x "$prefix/libexec/tovix/TovixHelper"
check test -f "$prefix/share/man/man1/tovix.1"
check test -f "$prefix/share/icons/hicolor/scalable/apps/org.tovix.Tovix.svg"
for size in 16 22 24 32 48 64 128 256 512; do
  check test -f "$prefix/share/icons/hicolor/${size}x${size}/apps/org.tovix.Tovix.png"
done
check desktop-file-validate "$prefix/share/applications/org.tovix.Tovix.desktop"
check appstreamcli validate --no-net "$prefix/share/metainfo/org.tovix.Tovix.metainfo.xml"
check grep -q '<release version="'"$("$prefix/bin/tovix" --version | cut -d' ' -f2)"'"' \
  "$prefix/share/metainfo/org.tovix.Tovix.metainfo.xml"
check grep -q '^Exec=tovix %F$' "$prefix/share/applications/org.tovix.Tovix.desktop"
# The installed window starts the installed helper, on a private bus, in a throw-away home.
helper_runs() {
  HOME="$prefix/home" XDG_CONFIG_HOME="$prefix/home/.config" XDG_DATA_HOME="$prefix/home/.local/share" \
    QT_QPA_PLATFORM=offscreen dbus-run-session -- bash -c '
      "$1" & app=$!
      for _ in $(seq 100); do
        if gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
             --method org.freedesktop.DBus.NameHasOwner org.tovix.TovixHelper 2>/dev/null | grep -q true; then
          kill -TERM $app; wait $app; exit 0
        fi
        sleep 0.1
      done
      kill -KILL $app; exit 1' _ "$prefix/bin/tovix" >/dev/null 2>&1
}
mkdir -p "$prefix/home"
check helper_runs
if [ "$failures" -ne 0 ]; then echo "$failures checks failed"; exit 1; fi
