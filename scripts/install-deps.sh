#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Tovix need.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config
  # Qt 6
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev qt6-qpa-plugins
  libqt6multimediawidgets6 libqt6dbus6 libqt6network6
  # media
  libavformat-dev libavcodec-dev libavutil-dev libavfilter-dev libswscale-dev libswresample-dev
  libx264-dev ffmpeg
  # property lists
  libplist-dev
  # session bus and test peers
  dbus dbus-bin libglib2.0-bin
  # virtual display and drawing, for screenshots and the icon set; a window
  # manager and the X tools that drive and measure the real windows
  xvfb imagemagick openbox xdotool x11-utils
  # tests, and the checks of the installed desktop files; spumux (from
  # dvdauthor) makes DVD subtitles as a DVD carries them
  libgtest-dev python3 desktop-file-utils appstream dvdauthor
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
