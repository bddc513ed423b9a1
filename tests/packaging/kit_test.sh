#!/usr/bin/env bash
# The validator kit as a user runs it: the package unzipped into a folder
# whose name cmd would break on if a path were ever expanded unquoted, a fresh
# prefix, validate.cmd through cmd /c.
#   - opened from inside the zip (the script alone, as Explorer copies it out):
#     one line saying to extract the whole zip, exit 2;
#   - no plug-in argument: every check on the package's own plug-in (20 random
#     sessions instead of 200, to stay fast), the report beside the script;
#   - the kit's folder refusing writes, options before and after the file: the
#     report goes to %TEMP% instead.
# With a third argument, slow-desktop, the prefix has a display driver instead
# of the null one and every run is on an Xvfb display with no virtual desktop
# and no window manager, where each window takes about a second to show: the
# kit must pass there too, only slower.
#   kit_test.sh <folder holding the zip> <work folder> [slow-desktop]
set -uo pipefail
work=$(realpath -m "$2")
desktop=${3:-headless}
checks=16  # every check the validator runs
fail() { echo "FAIL: $*" && exit 1; }
folder="$work/R&D (テスト) 100%"
rm -rf "$work" && mkdir -p "$folder" && unzip -q "$1"/*.zip -d "$folder" || fail "no zip in $1"
kit=$(echo "$folder"/VELSTTNG-*/validator)
# The folder is made read-only below with the immutable flag, which holds for
# root too (Wine as root writes through ordinary permissions); it must never
# outlive the test.
trap 'chattr -i "$kit" 2>/dev/null' EXIT
# This prefix's server starts inside CTest: Wine's output goes to files only,
# so no lingering Wine process holds CTest's pipes.
export WINEPREFIX=$work/prefix WINEDEBUG=-all
# ./run keeps a copy of the headless prefix from before anything ran in it
# (FRESH_PREFIX): made the same way as below, it is copied in a second.
if [ "$desktop" = headless ] && [ -f "${FRESH_PREFIX:-/nonexistent}/.ready" ]; then
  bash "$(dirname "$0")/../support/copy_prefix.sh" "$FRESH_PREFIX" "$WINEPREFIX" ||
    fail "cannot copy $FRESH_PREFIX"
  echo "prefix: a copy of $FRESH_PREFIX, in which nothing has run"
else
  timeout 600 wineboot -i </dev/null >"$work/prefix.log" 2>&1 || fail "wineboot failed"
  [ "$desktop" = slow-desktop ] ||
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >>"$work/prefix.log" 2>&1
  wineserver -k && wineserver -w
fi

# $1: the folder to run in, $2: the output file; the rest: validate.cmd's arguments.
kit_run() {
  local where=$1 out=$2
  shift 2
  local run=(timeout 3600 wine cmd /c validate.cmd "$@")
  # The server goes before Xvfb does, so nothing loses its X connection.
  [ "$desktop" = slow-desktop ] &&
    run=(xvfb-run -a -s '-screen 0 1024x768x24' sh -c '"$@"; status=$?; wineserver -k; exit $status' sh
      "${run[@]}")
  (cd "$where" && "${run[@]}" </dev/null >"$out" 2>&1)
}

mkdir -p "$work/Temp1_VELSTTNG.zip" && cp "$kit/validate.cmd" "$work/Temp1_VELSTTNG.zip/"
kit_run "$work/Temp1_VELSTTNG.zip" "$work/inside-zip.out"
status=$?
cat "$work/inside-zip.out"
[ "$status" -eq 2 ] || fail "validate.cmd alone exited $status, expected 2"
[ "$(tr -d '\r' <"$work/inside-zip.out" | grep -c .)" -eq 1 ] &&
  grep -q "extract the whole zip first" "$work/inside-zip.out" ||
  fail "validate.cmd alone should say in one line to extract the whole zip"

started=$(date +%s)
kit_run "$kit" "$work/kit.out" --sessions 20
status=$?
cat "$work/kit.out" && echo "validate.cmd ran $(($(date +%s) - started)) s"
[ "$status" -eq 0 ] || fail "validate.cmd exited $status"
summary="$checks passed, 0 failed"
tr -d '\r' <"$work/kit.out" | grep -qx "$summary" || fail "the summary is not '$summary'"
report=$(ls "$kit"/validation-*.txt) && [ -f "${report%.txt}.log" ] ||
  fail "no report and log beside validate.cmd"
tr -d '\r' <"$report" | grep -qx "$summary" || fail "the report file lacks '$summary'"

chattr +i "$kit" || fail "cannot make the kit's folder refuse writes (chattr +i)"
kit_run "$kit" "$work/refused.out" --only file "..\\VELSTTNG.QVX" --sessions 0
status=$?
chattr -i "$kit"
cat "$work/refused.out"
[ "$status" -eq 0 ] || fail "validate.cmd in a folder refusing writes exited $status"
grep -q "refuses writes; the report goes to the temporary folder instead" "$work/refused.out" ||
  fail "the report's move to the temporary folder was not said"
[ "$(ls "$kit"/validation-*.txt | wc -l)" -eq 1 ] || fail "a report was written into the refusing folder"
moved=$(find "$WINEPREFIX/drive_c/users" -name 'validation-*.txt' | head -n 1)
[ -n "$moved" ] && tr -d '\r' <"$moved" | grep -qx "1 passed, 0 failed" ||
  fail "no report with '1 passed, 0 failed' under %TEMP%"
wineserver -k
rm -rf "$WINEPREFIX"
