#!/usr/bin/env bash
# Points a module's delay-import directory (data directory 13) at the
# descriptor named delay_import_descriptor, as linkers that support delay
# loading do; GNU ld leaves the directory empty.
# Usage: set_delay_directory.sh <module> <the link's map file>
set -euo pipefail
module=$1
map=$2
descriptor=$(awk '/delay_import_descriptor/ && $1 ~ /^0x/ { print $1; exit }' "$map")
[ -n "$descriptor" ] || { echo "no delay-import descriptor in $map" >&2; exit 1; }
base=$(i686-w64-mingw32-objdump -p "$module" | awk '$1 == "ImageBase" { print $2 }')
rva=$((descriptor - 0x$base))
pe=$(od -An -tu4 -j60 -N4 "$module" | tr -d ' ')
le32() {
  printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) \
    $((($1 >> 16) & 255)) $((($1 >> 24) & 255))
}
# The optional header's directories start 96 bytes in; each is 8 bytes.
printf "$(le32 $rva)$(le32 32)" |
  dd of="$module" bs=1 seek=$((pe + 4 + 20 + 96 + 13 * 8)) conv=notrunc status=none
