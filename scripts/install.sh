#!/usr/bin/env bash
# Installs the built programs into a prefix, and notes which folders this
# install made, so that uninstall.sh can remove them again once they are
# empty (and never a folder that was there before).
set -euo pipefail
build=$1
prefix=$2
created="$build/install_created_dirs.txt"
stage=$(mktemp -d)
trap 'rm -rf -- "$stage"' EXIT
# The same install into an empty folder shows which folders it needs.
cmake --install "$build" --prefix "$stage" >/dev/null
touch -- "$created"
(cd "$stage" && find . -mindepth 1 -type d | sed 's|^\./||') | while IFS= read -r dir; do
  [ -e "$prefix/$dir" ] || printf '%s\n' "$prefix/$dir"
done >> "$created"
sort -u -o "$created" -- "$created"
cmake --install "$build" --prefix "$prefix"
