#!/usr/bin/env bash
# Installs Tovix into a temporary prefix and checks what the desktop reads:
# the launcher entry, the AppStream data, the icons, the man page, and that
# the installed window finds its helper and answers --version.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
# The install writes its manifest and the folders it made into the build
# folder: the user's own install's are kept aside and put back.
manifest="$build/install_manifest.txt"; created="$build/install_created_dirs.txt"
kept=$(mktemp -d); ours=$(mktemp -d)
for f in "$manifest" "$created"; do [ -f "$f" ] && mv "$f" "$kept/"; done
restore() {
  rm -rf "$prefix" "$ours" "$manifest" "$created"
  for f in "$kept"/*; do [ -e "$f" ] && mv "$f" "$build/"; done
  rm -rf "$kept"
}
trap restore EXIT
# A prefix with a folder of its own before the install, holding a file.
mkdir -p "$prefix/share/applications" && echo keep > "$prefix/share/applications/other.desktop"
bash "$(dirname "$0")/../scripts/install.sh" "$build" "$prefix" >/dev/null
cp "$manifest" "$created" "$ours/"
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
# Without a display it says so and exits 1, as its manual page promises.
no_display() {
  local said status=0
  said=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/tovix" 2>&1) || status=$?
  [ "$status" -eq 1 ] && [ "$said" = "Tovix needs a graphical session (no DISPLAY or WAYLAND_DISPLAY)" ]
}
check no_display
# Uninstalling removes every installed file and every folder the install
# made; what was there before stays.
rm -rf "$prefix/home"
uninstalled() {
  bash "$(dirname "$0")/../scripts/uninstall.sh" "$ours/install_manifest.txt" "$ours/install_created_dirs.txt" >/dev/null &&
    [ "$(cd "$prefix" && find . -mindepth 1 | sort | tr '\n' ' ')" = "./share ./share/applications ./share/applications/other.desktop " ]
}
check uninstalled
if [ "$failures" -ne 0 ]; then echo "$failures checks failed"; exit 1; fi
