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
if [ ! -f "$WINEPREFIX/.desktops-ready" ]; then
  rm -rf "$WINEPREFIX"
  # ./run keeps a headless prefix in which nothing has run (FRESH_PREFIX):
  # a copy costs a second, a wineboot half a minute or more.
  if [ -f "${FRESH_PREFIX:-/nonexistent}/.ready" ]; then
    bash "$(dirname "$0")/../support/copy_prefix.sh" "$FRESH_PREFIX" "$WINEPREFIX" ||
      fail "cannot copy $FRESH_PREFIX"
  else
    timeout 600 wineboot -i </dev/null >"$work/prefix.log" 2>&1 || fail "wineboot failed"
  fi
  # Wine's X11 driver, not the null one, and every program of the prefix in
  # one virtual desktop. The validator's own desktop is not the virtual one:
  # Wine shows its windows as X windows of their own, and with no window
  # manager waits about a second for one at every such window unless they
  # are left unmanaged.
  printf '%s\r\n' REGEDIT4 '' '[HKEY_CURRENT_USER\Software\Wine\Drivers]' '"Graphics"=-' '' \
    '[HKEY_CURRENT_USER\Software\Wine\Explorer]' '"Desktop"="bystander"' '' \
    '[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]' '"bystander"="1024x768"' '' \
    '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]' '"Managed"="N"' >"$work/desktops.reg"
  wine regedit /S "$(zpath "$work/desktops.reg")" </dev/null >>"$work/prefix.log" 2>&1 ||
    fail "the prefix's desktop settings could not be imported"
  wineserver -w
  touch "$WINEPREFIX/.desktops-ready"
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

# The person's own settings file, which no run may change, not even four
# checks side by side.
users_file=$WINEPREFIX/drive_c/windows/VELCNFG.INI
printf '[VELConfigData]\r\nenabled=0\r\nbitRate=112\r\n; the person'"'"'s own\r\n' >"$users_file"
touch -d '2011-05-04 12:00' "$users_file"
users_file_state() { printf '%s %s' "$(sha256sum <"$users_file")" "$(stat -c '%Y %s' "$users_file")"; }
users_before=$(users_file_state)

started=$(date +%s)
failures=()
# $1: name; $2: expected exit status; $3: a line the report must hold; the
# rest: the validator's options and plug-in. Every run goes on to the end,
# so that the bystander's counts are told whatever a run said.
validate() {
  local name=$1 expected=$2 line=$3
  shift 3
  timeout 600 wine "$host" --validate --seed 20261208 --log "$(zpath "$work/$name.log")" "$@" \
    </dev/null >"$work/$name.out" 2>&1
  local status=$?
  echo "--- $name (exit $status, $(($(date +%s) - started)) s so far)" && cat "$work/$name.out"
  [[ "$status" == $expected ]] || failures+=("$name: the validator exited $status, not $expected")
  grep -Eq "$line" "$work/$name.out" || failures+=("$name: the report lacks a line like '$line'")
}
validate correct 0 '^[0-9]+ passed, 0 failed$' --jobs 4 --sessions 26 --only \
  ending-ok,ending-enter,ending-cancel,ending-escape,ending-close-box,shown-is-stored,stored-values,random-user-sessions \
  "$(zpath "$plugin")"
validate mono_never_greyed 1 '^FAIL random-user-sessions: .*the mono box is enabled' \
  --jobs 4 --sessions 50 --only random-user-sessions "$(zpath "$faulty/FAULTY_MONO_NEVER_GREYED.QVX")"
validate ignores_cancel 1 '^FAIL ending-cancel: .*still open 5 s later' \
  --sessions 0 --only ending-cancel "$(zpath "$faulty/FAULTY_IGNORES_CANCEL.QVX")"

# Where the run's desktops share one keyboard focus, a session whose dialog
# lost the activation to another check's is run again alone.
echo "tasks run again alone: $(grep -c 'run again with no other check' "$work/correct.log")"

# The times a window of the validator's took the foreground from the bystander.
losses() { [ ! -f "$work/lost" ] || tr -d '\r' <"$work/lost"; }
taken() { losses | awk 'tolower($1) == "standin_host.exe" { n += $NF } END { print n + 0 }'; }
echo "the bystander lost the foreground to: $(losses | paste -sd, -)"
echo "the validator took the foreground from the bystander $(taken) times"
[ "$(taken)" = 0 ] || failures+=("the validator took the foreground from the bystander")

# On the person's desktop, a session during which the bystander took the
# activation is not judged: never a FAIL.
before=$(taken)
validate shown_correct '[02]' '^[0-9]+ passed, 0 failed' --show-dialogs --sessions 25 \
  --only random-user-sessions "$(zpath "$plugin")"
grep -q '^FAIL' "$work/shown_correct.out" && failures+=("shown_correct: a FAIL on the person's desktop")
echo "with --show-dialogs, the dialogs took the foreground $(($(taken) - before)) times (each opening)"

[ "$(users_file_state)" = "$users_before" ] || failures+=("the person's settings file changed")

touch "$work/stop"
wait "$stander"
count=$(tr -d '\r\n' <"$work/count" 2>/dev/null)
echo "the bystander received ${count:-no count of} input messages, 2 of them its own poke's"
[ "$count" = 2 ] || failures+=("the bystander received input not meant for it")
[ ${#failures[@]} -eq 0 ] || fail "$(printf '%s; ' "${failures[@]}")"
