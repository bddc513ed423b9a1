#!/usr/bin/env bash
# Shows that each check of check_dll.sh can fail: a module built with the
# compiler's runtime, and copies of the shipped file each spoilt one way, must
# all be rejected with the matching complaint.
#   checker_rejects.sh <objdump> <shipped file> <runtime module> <expected name> <work folder>
set -euo pipefail

objdump=$1
shipped=$2
runtime_module=$3
expected_name=$4
work=$5
checker=$(dirname "${BASH_SOURCE[0]}")/check_dll.sh
failures=0

# expect_rejected <case> <file> <complaint pattern>...
expect_rejected() {
  local name=$1 file=$2 output status=0 missed=0
  shift 2
  output=$(bash "$checker" "$objdump" "$file" "$expected_name" 2>&1) || status=$?
  if [ "$status" -eq 0 ]; then
    printf 'FAIL [%s]: the checker accepted it\n' "$name"
    failures=$((failures + 1))
    return
  fi
  for pattern in "$@"; do
    if ! grep -q -- "$pattern" <<<"$output"; then
      printf 'FAIL [%s]: no complaint matching "%s"; the checker said:\n%s\n' "$name" "$pattern" "$output"
      missed=1
    fi
  done
  failures=$((failures + missed))
  [ "$missed" -eq 0 ] && printf 'ok [%s]: rejected\n' "$name"
  return 0
}

# Overwrites bytes at an offset of a file with the given printf escapes.
poke() { printf "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }
pe_header() { od -An -t u4 -j 60 -N 4 "$1" | tr -d ' '; }

mkdir -p "$work"
bash "$checker" "$objdump" "$shipped" "$expected_name" >/dev/null ||
  { echo "FAIL: the shipped file itself does not pass; the cases below prove nothing"; exit 1; }

expect_rejected "runtime module" "$runtime_module" \
  "unexpected import msvcrt.dll" "unexpected import libgcc_s_dw2-1.dll" \
  "unexpected import libstdc++-6.dll" "missing import USER32.DLL" \
  "export directory name is 'RUNTIME.DLL'" "exports are 'DllCanUnloadNow@2 DllGetClassForm@1 " \
  "not stripped" "exceeds"

copy=$work/oversized.dll
cp "$shipped" "$copy"
head -c $((10241 - $(stat -c %s "$shipped"))) /dev/zero >>"$copy"
expect_rejected "one byte too large" "$copy" "size 10241 bytes exceeds 10240"

copy=$work/amd64-machine.dll
cp "$shipped" "$copy"
poke "$copy" $(($(pe_header "$copy") + 4)) '\x64\x86'
# The i686 objdump may not read such a file at all; either complaint will do.
expect_rejected "64-bit machine" "$copy" 'cannot read\|not a PE file for i386'

copy=$work/pe32plus-magic.dll
cp "$shipped" "$copy"
poke "$copy" $(($(pe_header "$copy") + 24)) '\x0b\x02'
expect_rejected "PE32+ magic" "$copy" "not PE32"

copy=$work/other-import.dll
LC_ALL=C sed 's/USER32\.dll/USER64.dll/' "$shipped" >"$copy"
expect_rejected "foreign import" "$copy" "unexpected import USER64.dll" "missing import USER32.DLL"

copy=$work/other-name.dll
other_name="${expected_name%?}_"
LC_ALL=C sed "s/${expected_name//./\\.}/${other_name}/" "$shipped" >"$copy"
expect_rejected "export directory name" "$copy" "export directory name is '$other_name'"

# rewrite_bits <file> <offset> <bytes> <bits cleared> <bits set>: one header field.
rewrite_bits() {
  local file=$1 offset=$2 bytes=$3 value i escapes=""
  value=$(od -An -t "u$bytes" -j "$offset" -N "$bytes" "$file" | tr -d ' ')
  value=$(((value & ~$4) | $5))
  for ((i = 0; i < bytes; i++)); do escapes+=$(printf '\\x%02x' $(((value >> (8 * i)) & 255))); done
  poke "$file" "$offset" "$escapes"
}

# The hardening, each property taken away in a copy of its own. GNU ld puts
# .text first and read-only data second.
pe=$(pe_header "$shipped")
dll_characteristics=$((pe + 24 + 70))
section_table=$((pe + 24 + $(od -An -t u2 -j $((pe + 20)) -N 2 "$shipped" | tr -d ' ')))
while IFS='|' read -r name offset bytes clear set complaint; do
  copy=$work/${name// /-}.dll
  cp "$shipped" "$copy"
  rewrite_bits "$copy" "$offset" "$bytes" "$clear" "$set"
  expect_rejected "$name" "$copy" "$complaint"
done <<CASES
no ASLR|$dll_characteristics|2|0x0040|0|does not declare DYNAMIC_BASE
relocations stripped|$((pe + 22))|2|0|0x0001|relocations stripped, so DYNAMIC_BASE
no DEP|$dll_characteristics|2|0x0100|0|does not declare NX_COMPAT
no NO_SEH|$dll_characteristics|2|0x0400|0|does not declare NO_SEH
writable code|$((section_table + 36))|4|0|0x80000000|section .text is writable and executable
writable shared data|$((section_table + 40 + 36))|4|0|0x90000000|is writable and shared
CASES

if [ "$failures" -gt 0 ]; then
  echo "$failures problem(s) with the checker"
  exit 1
fi
echo "every spoilt file was rejected"
