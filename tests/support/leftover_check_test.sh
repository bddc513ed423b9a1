#!/usr/bin/env bash
# The check that ends every CTest entry (build/test-entry), on an entry that
# leaves processes running on purpose: leaky.exe, a Win32 program, starts a
# copy of itself that lingers holding its output and ends with success; a
# shell puts a sleep in the background; and a sleep started with a cleared
# environment (so without the entry's mark) holds the entry's output pipe, as
# CTest reads it. The check must name all three (process id and command line:
# the Windows child proves that Wine hands the entry's mark on to the
# processes a Windows program starts), kill them and fail the entry, within
# its grace time and not at the lingering processes' end.
#   leftover_check_test.sh <test-entry> <wine-run> <leaky.exe> <work folder>
set -uo pipefail
test_entry=$1 wine_run=$2 leaky=$3 work=$4
fail() {
  echo "FAIL: $*"
  exit 1
}
rm -rf "$work" && mkdir -p "$work"
grace=3
started=$(date +%s)
# "none": the entry runs in this entry's prefix (WINEPREFIX) as it is.
TEST_ENTRY_GRACE=$grace "$test_entry" leaky_entry none \
  sh -c '"$1" "$2" && { sleep 600 </dev/null >/dev/null 2>&1 & } && { env -i sleep 601 & }' \
  sh "$wine_run" "$leaky" 2>&1 | cat >"$work/out"
status=${PIPESTATUS[0]}
took=$(($(date +%s) - started))
# The report's key phrase fails any entry whose output holds it; shown here
# as it was, it would fail this one.
sed 's/LEFT RUNNING/left running/' "$work/out"
echo "the leaky entry ended with status $status after $took s"
[ "$status" -eq 1 ] || fail "the leaky entry ended with $status, not 1"
windows=$(sed -n 's/^test-entry: LEFT RUNNING after entry leaky_entry: pid \([0-9]*\): .*leaky\.exe"* --linger$/\1/p' "$work/out")
shell=$(sed -n 's/^test-entry: LEFT RUNNING after entry leaky_entry: pid \([0-9]*\): sleep 600$/\1/p' "$work/out")
[ -n "$windows" ] || fail "the lingering Windows process (leaky.exe --linger) was not named"
unmarked=$(sed -n 's/^test-entry: LEFT RUNNING after entry leaky_entry, holding its output: pid \([0-9]*\): sleep 601$/\1/p' "$work/out")
[ -n "$shell" ] || fail "the shell's background sleep was not named"
[ -n "$unmarked" ] || fail "the unmarked sleep holding the entry's output was not named"
grep -q "entry leaky_entry FAILS: 2 of its processes outlived it" "$work/out" &&
  grep -q "entry leaky_entry FAILS: its output was held by processes without its mark (1, killed now)" "$work/out" ||
  fail "the entry's failure was not said"
sleep 0.5
for pid in $windows $shell $unmarked; do
  [ -e "/proc/$pid" ] && [ "$(cut -d' ' -f3 "/proc/$pid/stat")" != Z ] && fail "process $pid still runs"
done
[ "$took" -lt $((grace + 60)) ] || fail "the check took $took s"
echo "PASS: all three leftovers named by process id and command line, killed, the entry failed"
