#!/usr/bin/env bash
# The stand-in host's program and its resource-only module travel to users'
# machines as the validator kit: each must declare ASLR and DEP, and import
# only DLLs that every Windows has (no MinGW runtime DLL beside it).
#   check_host_binaries.sh <objdump> <file>...
# Prints one line per failed check and exits 1 if any failed.
set -uo pipefail

objdump=$1
shift
hardening=$(dirname "${BASH_SOURCE[0]}")/../support/check_pe_hardening.sh
failures=0

fail() {
  printf 'FAIL: %s: %s\n' "$1" "$2"
  failures=$((failures + 1))
}

for file in "$@"; do
  name=$(basename "$file")
  before=$failures
  headers=$("$objdump" -p "$file" 2>&1) || {
    fail "$name" "objdump cannot read it"
    continue
  }
  report=$(bash "$hardening" "$file") ||
    while read -r line; do fail "$name" "${line#FAIL: }"; done <<<"$report"
  imports=$(awk '/DLL Name:/ { print $3 }' <<<"$headers" | sort -fu)
  while read -r dll; do
    [ -n "$dll" ] || continue
    case "${dll^^}" in
      KERNEL32.DLL | USER32.DLL | GDI32.DLL | ADVAPI32.DLL | MSVCRT.DLL | PSAPI.DLL) ;;
      *) fail "$name" "imports $dll, which not every Windows has" ;;
    esac
  done <<<"$imports"
  [ -n "$imports" ] || imports=nothing
  [ "$failures" -eq "$before" ] && echo "$name: imports $(tr '\n' ' ' <<<"$imports")- $report"
done
[ "$failures" -eq 0 ]
