#!/usr/bin/env bash
# Checks a built plug-in file against what the host and a bare Windows need:
# a stripped 32-bit PE of at most 10 KiB that imports only KERNEL32 and
# USER32, names itself <expected name> in its export table, and exports the
# five entry points by name with ordinals 1 to 5 in alphabetical order.
#   check_dll.sh <objdump> <file> <expected name>
# Prints one line per failed check and exits 1 if any failed.
set -uo pipefail

objdump=$1
file=$2
expected_name=$3
max_size=10240
failures=0

fail() {
  printf 'FAIL: %s\n' "$*"
  failures=$((failures + 1))
}

[ -f "$file" ] || {
  echo "FAIL: no file at $file"
  exit 1
}
headers=$("$objdump" -p "$file" 2>&1) || {
  echo "FAIL: objdump cannot read $file"
  exit 1
}

grep -q 'file format pei-i386$' <<<"$headers" || fail "not a PE file for i386"
grep -Eq '^Magic[[:space:]]+010b[[:space:]]+\(PE32\)' <<<"$headers" || fail "not PE32 (optional header magic)"

imports=$(awk '/DLL Name:/ { print $3 }' <<<"$headers" | sort -fu)
while read -r dll; do
  [ -n "$dll" ] || continue
  case "${dll^^}" in
    KERNEL32.DLL | USER32.DLL) ;;
    *) fail "unexpected import $dll" ;;
  esac
done <<<"$imports"
for needed in KERNEL32.DLL USER32.DLL; do
  grep -qix "$needed" <<<"$imports" || fail "missing import $needed"
done

# ASLR, DEP and NO_SEH declared; no section writable and executable or shared.
hardening=$(bash "$(dirname "${BASH_SOURCE[0]}")/../../support/check_pe_hardening.sh" --no-seh \
  "$file") || while read -r line; do fail "${line#FAIL: }"; done <<<"$hardening"

name=$(awk '/^The Export Tables/ { e = 1 } e && /^Name[[:space:]]/ { print $NF; exit }' <<<"$headers")
[ "$name" = "$expected_name" ] || fail "export directory name is '$name', not '$expected_name'"

# binutils 2.40 lists each name with its ordinal less the base; later versions
# also print "+base[n]" with the full ordinal.
exports=$(awk '
  /^Ordinal Base/ { base = $NF }
  /^\[Ordinal\/Name Pointer\] Table/ { t = 1; next }
  t && /^\t\[/ {
    line = $0
    if (match(line, /\+base\[ *[0-9]+\]/)) {
      ord = substr(line, RSTART, RLENGTH); gsub(/[^0-9]/, "", ord)
    } else {
      match(line, /\[ *[0-9]+\]/); ord = substr(line, RSTART, RLENGTH); gsub(/[^0-9]/, "", ord)
      ord += base
    }
    printf "%s@%d ", $NF, ord; next
  }
  t { t = 0 }' <<<"$headers")
expected_exports="DllCanUnloadNow@1 DllGetClassForm@2 DllGetClassInfo@3 DllGetClassObject@4 DllGetInterface@5 "
[ "$exports" = "$expected_exports" ] || fail "exports are '$exports', not '$expected_exports'"
address_entries=$(awk '/Export Address Table[[:space:]]+[0-9a-f]+$/ { print $NF; exit }' <<<"$headers")
[ "$address_entries" = "00000005" ] || fail "export address table has $address_entries entries, not 5"

"$objdump" -t "$file" 2>&1 | grep -q 'no symbols' || fail "not stripped (has a symbol table)"
# The size is the image's: a signature's certificate table (data directory
# entry 4, located by file offset) is appended after it and does not count.
size=$(stat -c %s "$file")
read -r table_at table_size < <(awk '/^Entry 4 / { print $3, $4 }' <<<"$headers")
if [ $((16#${table_size:-0})) -gt 0 ]; then
  [ $((16#$table_at + 16#$table_size)) -eq "$size" ] || fail "the certificate table does not end the file"
  size=$((16#$table_at))
fi
[ "$size" -le "$max_size" ] || fail "size $size bytes exceeds $max_size"

if [ "$failures" -gt 0 ]; then
  echo "$file: $failures check(s) failed"
  exit 1
fi
echo "$file: PE32 i386, imports $(tr '\n' ' ' <<<"$imports")name $name, exports $exports, $size bytes"
