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

if [ "$failures" -gt 0 ]; then
  echo "$failures problem(s) with the checker"
  exit 1
fi
echo "every spoilt file was rejected"
