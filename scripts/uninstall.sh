#!/usr/bin/env bash
# Removes the files an install wrote (its manifest, one path a line) and the
# folders only Tovix uses (libexec/tovix) once they are empty.
set -euo pipefail
manifest=$1
if [ ! -f "$manifest" ]; then
  echo "Nothing to uninstall: $manifest is missing (run make install first)." >&2
  exit 1
fi
while IFS= read -r file || [ -n "$file" ]; do  # the last line has no newline
  [ -n "$file" ] || continue
  rm -f -- "$file"
  case $file in */libexec/tovix/*) rmdir --ignore-fail-on-non-empty -- "$(dirname -- "$file")" ;; esac
done < "$manifest"
echo "Removed the $(grep -c "" "$manifest") installed files."
