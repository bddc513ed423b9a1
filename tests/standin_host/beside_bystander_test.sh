#!/usr/bin/env bash
# The validator beside another program, as a person works while it runs:
# Wine's virtual desktop on Xvfb, in a prefix of this test's own, with the
# bystander's topmost window over the whole screen, taking the foreground and
# the keyboard focus every 0.7 s. Every click, wheel turn and key must reach
# the validator's own dialogs; the bystander must count none but the two of
# its own --poke, and must never lose the foreground to the validator. The
# correct plug-in passes the checks that act on the dialog, and faulty builds
# still fail the checks meant for them.
#   beside_bystander_test.sh <standin_host.exe> <bystander.exe> <plug-in> <faulty folder> <work>
set -uo pipefail
fail() { echo "FAIL: $*" && exit 1; }
if [ -z "${BYSTANDER_DISPLAY_READY:-}" ]; then
  # The server goes before Xvfb does, so nothing loses its X connection.
  BYSTANDER_DISPLAY_READY=1 exec xvfb-run -a -s '-screen 0 1024x768x24' \
    bash -c 'bash "$0" "$@"; status=$?; WINEPREFIX=$5/prefix wineserver -k; exit $status' "$0" "$@"
fi
host=$1 bystander=$2 plugin=$3 faulty=$4 work=$(realpath -m "$5")
zpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
export WINEPREFIX=$work/prefix WINEDEBUG=-all
mkdir -p "$work"
if [ ! -f "$WINEPREFIX/.desktop-ready" ]; then
  rm -rf "$WINEPREFIX"
  timeout 600 wineboot -i </dev/null >"$work/prefix.log" 2>&1 || fail "wineboot failed"
  # Every program of the prefix opens in one virtual desktop.
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d bystander /f \
    </dev/null >>"$work/prefix.log" 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v bystander /d 1024x768 /f \
    </dev/null >>"$work/prefix.log" 2>&1
  wineserver -w
  touch "$WINEPREFIX/.desktop-ready"
fi
rm -f "$work"/ready "$work"/stop "$work"/count "$work"/lost
wine "$bystander" "$(zpath "$work")" 700 </dev/null >"$work/bystander.out" 2>&1 &
stander=$!
# Waits for its window, which it announces once shown.
for _ in $(seq 600); do
  [ -f "$work/ready" ] && break
  kill -0 "$stander" 2>/dev/null || fail "the bystander ended before its window showed"
  sleep 0.1
done
[ -f "$work/ready" ] || fail "the bystander's window did not show within 60 s"
timeout 60 wine "$bystander" --poke </dev/null || fail "the bystander's poke found no window"

started=$(date +%s)
# $1: name; $2: expected exit status; $3: a line the report must hold; the
# rest: the validator's options and plug-in.
validate() {
  local name=$1 expected=$2 line=$3
  shift 3
  timeout 600 wine "$host" --validate --seed 20261208 --log "$(zpath "$work/$name.log")" "$@" \
    </dev/null >"$work/$name.out" 2>&1
  local status=$?
  echo "--- $name (exit $status, $(($(date +%s) - started)) s so far)" && cat "$work/$name.out"
  [ "$status" -eq "$expected" ] || fail "$name: the validator exited $status, not $expected"
  grep -Eq "$line" "$work/$name.out" || fail "$name: the report lacks a line like '$line'"
}
validate correct 0 '^[0-9]+ passed, 0 failed$' --sessions 50 --only \
  ending-ok,ending-enter,ending-cancel,ending-escape,ending-close-box,shown-is-stored,stored-values,random-user-sessions \
  "$(zpath "$plugin")"
validate mono_never_greyed 1 '^FAIL random-user-sessions: .*the mono box is enabled' \
  --sessions 50 --only random-user-sessions "$(zpath "$faulty/FAULTY_MONO_NEVER_GREYED.QVX")"
validate ignores_cancel 1 '^FAIL ending-cancel: .*still open 5 s later' \
  --sessions 0 --only ending-cancel "$(zpath "$faulty/FAULTY_IGNORES_CANCEL.QVX")"

touch "$work/stop"
wait "$stander"
count=$(tr -d '\r\n' <"$work/count" 2>/dev/null)
[ "$count" = 2 ] ||
  fail "the bystander received ${count:-no count of} input messages; only the 2 of its own poke were meant for it"
echo "the bystander received only its own poke's 2 input messages"
[ -f "$work/lost" ] || fail "the bystander wrote no count of the times it lost the foreground"
echo "the bystander lost the foreground to: $(tr -d '\r' <"$work/lost" | paste -sd, -)"
taken=$(tr -d '\r' <"$work/lost" | awk 'tolower($1) == "standin_host.exe" { print $2 }')
[ -z "$taken" ] || fail "the validator took the foreground from the bystander $taken times"
echo "the validator took the foreground from the bystander 0 times"
