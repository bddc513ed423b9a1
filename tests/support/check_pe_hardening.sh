#!/usr/bin/env bash
# What binary scanners ask of a 32-bit Windows image, read from its headers:
# DYNAMIC_BASE (ASLR) with the relocations it needs, NX_COMPAT (DEP), with
# --no-seh also NO_SEH; no section both writable and executable, and no
# writable section shared between the processes that load the image.
#   check_pe_hardening.sh [--no-seh] <file>
# Prints one FAIL line per missing property and exits 1 if any is missing.
set -uo pipefail

want_no_seh=0
if [ "${1:-}" = --no-seh ]; then
  want_no_seh=1
  shift
fi
file=$1
failures=0

fail() {
  printf 'FAIL: %s\n' "$*"
  failures=$((failures + 1))
}

# read_uint <offset> <bytes>: a little-endian unsigned field of the file.
read_uint() { od -An -t "u$2" -j "$1" -N "$2" "$file" | tr -d ' '; }

pe=$(read_uint 60 4)
if [ -z "$pe" ] || [ "$(od -An -c -j "$pe" -N 2 "$file" | tr -d ' ')" != PE ]; then
  echo "FAIL: $file has no PE header"
  exit 1
fi
file_characteristics=$(read_uint $((pe + 22)) 2)
dll_characteristics=$(read_uint $((pe + 24 + 70)) 2)

((dll_characteristics & 0x0040)) || fail "does not declare DYNAMIC_BASE (ASLR)"
((file_characteristics & 0x0001)) && fail "relocations stripped, so DYNAMIC_BASE cannot take effect"
((dll_characteristics & 0x0100)) || fail "does not declare NX_COMPAT (DEP)"
if [ "$want_no_seh" -eq 1 ]; then
  ((dll_characteristics & 0x0400)) || fail "does not declare NO_SEH"
fi

sections=$(read_uint $((pe + 6)) 2)
table=$((pe + 24 + $(read_uint $((pe + 20)) 2)))
for ((i = 0; i < sections; i++)); do
  header=$((table + 40 * i))
  name=$(dd if="$file" bs=1 skip="$header" count=8 status=none | tr -d '\0')
  flags=$(read_uint $((header + 36)) 4)
  writable=$((flags & 0x80000000))
  ((writable && (flags & 0x20000000))) && fail "section $name is writable and executable"
  ((writable && (flags & 0x10000000))) && fail "section $name is writable and shared"
done

[ "$failures" -eq 0 ] || exit 1
printf 'DllCharacteristics 0x%04x' "$dll_characteristics"
((dll_characteristics & 0x0040)) && printf ' DYNAMIC_BASE'
((dll_characteristics & 0x0100)) && printf ' NX_COMPAT'
((dll_characteristics & 0x0400)) && printf ' NO_SEH'
printf '; %d sections, none writable and executable or writable and shared\n' "$sections"
