#!/usr/bin/env bash
# A copy of a Wine prefix that costs a second, not a wineboot: the system DLLs
# and programs (system32, winsxs: 567 of a Wine 8 prefix's 590 MB) are hard
# links to the original's, which Wine only reads; everything else (registry,
# user folders, the Windows folder's own files) is a copy of its own.
#   copy_prefix.sh <prefix> <copy>
set -euo pipefail
from=$1
to=$2
rm -rf "$to" "$to.tmp"
mkdir -p "$(dirname "$to")"
cp -al "$from" "$to.tmp"
find "$to.tmp" -type f ! -path "$to.tmp/drive_c/windows/system32/*" \
  ! -path "$to.tmp/drive_c/windows/winsxs/*" -exec sh -c \
  'for f; do cp -p "$f" "$f.copy" && mv -f "$f.copy" "$f" || exit 1; done' sh {} +
# Debian's Wine names the server's folder under /tmp in the prefix's file
# "wineserver": a copy gets a folder of its own, which its user can enter.
rm -f "$to.tmp/wineserver"
mv "$to.tmp" "$to"
