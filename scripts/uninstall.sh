#!/usr/bin/env bash
# Removes the files an install wrote (its manifest, one path a line), then
# the folders installs made (install.sh noted them) once they are empty,
# deepest first. Folders that were there before are left alone.
set -euo pipefail
manifest=$1
created=${2:-"$(dirname -- "$manifest")/install_created_dirs.txt"}
if [ ! -f "$manifest" ]; then
  echo "Nothing to uninstall: $manifest is missing (run make install first)." >&2
  exit 1
fi
while IFS= read -r file || [ -n "$file" ]; do  # the last line has no newline
  [ -n "$file" ] || continue
  rm -f -- "$file"
done < "$manifest"
echo "Removed the $(grep -c "" "$manifest") installed files."
if [ -f "$created" ]; then
  # Longest paths first: a folder's sub-folders go before it.
  awk '{ print length, $0 }' "$created" | sort -rn | cut -d' ' -f2- | while IFS= read -r dir; do
    if [ -d "$dir" ]; then rmdir --ignore-fail-on-non-empty -- "$dir"; fi
  done
  rm -f -- "$created"
fi
