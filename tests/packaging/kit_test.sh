#!/usr/bin/env bash
# The validator kit as a user runs it: the package unzipped into a fresh
# prefix's reach, validate.cmd through cmd /c with no argument. Every check
# must pass and the report be written beside the script.
#   kit_test.sh <folder holding the zip> <work folder>
set -uo pipefail
packages=$1 work=$2
fail() {
  printf 'FAIL: %s\n' "$*"
  exit 1
}

rm -rf "$work"
mkdir -p "$work"
unzip -q "$packages"/*.zip -d "$work/unzipped" || fail "no package to unzip in $packages"
kit=$(echo "$work"/unzipped/VELSTTNG-*/validator)
# This prefix's server starts inside CTest: every Wine call writes to files,
# so no lingering Wine process holds CTest's pipes.
export WINEPREFIX=$work/prefix
timeout 600 wineboot -i </dev/null >"$work/prefix.log" 2>&1 || fail "wineboot failed"
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >>"$work/prefix.log" 2>&1
wineserver -k
wineserver -w

started=$(date +%s)
(cd "$kit" && timeout 3600 wine cmd /c validate.cmd </dev/null >"$work/kit.out" 2>&1)
status=$?
seconds=$(($(date +%s) - started))
wineserver -k
cat "$work/kit.out"
echo "validate.cmd ran ${seconds} s"
[ "$status" -eq 0 ] || fail "validate.cmd exited $status"
grep -q '^FAIL' "$work/kit.out" && fail "a check failed"
summary=$(grep -E '^[0-9]+ passed, 0 failed' "$work/kit.out") || fail "no summary line"
reports=("$kit"/validation-*.txt)
[ ${#reports[@]} -eq 1 ] && [ -f "${reports[0]}" ] || fail "no single report file beside validate.cmd"
[ -f "${reports[0]%.txt}.log" ] || fail "no log beside the report"
tr -d '\r' <"${reports[0]}" | grep -qx "$summary" || fail "the report file lacks '$summary'"
rm -rf "$WINEPREFIX"
