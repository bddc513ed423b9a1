#!/usr/bin/env bash
# The validator kit as a user runs it: the package unzipped, a fresh prefix,
# validate.cmd with no plug-in argument through cmd /c (every check, with 20
# random sessions instead of 200 to stay fast). Every check must pass and the
# report be written beside the script.
#   kit_test.sh <folder holding the zip> <work folder>
set -uo pipefail
work=$(realpath -m "$2")
fail() { echo "FAIL: $*" && exit 1; }
rm -rf "$work" && mkdir -p "$work" && unzip -q "$1"/*.zip -d "$work" || fail "no zip in $1"
# This prefix's server starts inside CTest: Wine's output goes to files only,
# so no lingering Wine process holds CTest's pipes.
export WINEPREFIX=$work/prefix
timeout 600 wineboot -i </dev/null >"$work/prefix.log" 2>&1 || fail "wineboot failed"
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >>"$work/prefix.log" 2>&1
wineserver -k && wineserver -w
cd "$work"/VELSTTNG-*/validator || exit 1
started=$(date +%s)
timeout 3600 wine cmd /c validate.cmd --sessions 20 </dev/null >"$work/kit.out" 2>&1
status=$?
wineserver -k
cat "$work/kit.out" && echo "validate.cmd ran $(($(date +%s) - started)) s"
[ "$status" -eq 0 ] || fail "validate.cmd exited $status"
summary=$(grep -Ex '[0-9]+ passed, 0 failed' "$work/kit.out") || fail "a check failed"
report=$(ls validation-*.txt) && [ -f "${report%.txt}.log" ] || fail "no report and log beside validate.cmd"
tr -d '\r' <"$report" | grep -qx "$summary" || fail "the report file lacks '$summary'"
rm -rf "$WINEPREFIX"
