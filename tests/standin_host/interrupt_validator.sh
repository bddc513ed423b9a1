#!/usr/bin/env bash
# Ctrl+C in the middle of a check, as a console delivers it: the validator
# runs in a pseudo-terminal and gets SIGINT (Wine hands it to the console's
# Ctrl+C handlers) once the check has planted its private file. Within 5 s
# no check's process runs and the run's private folder is gone, before any
# later run; the user's file never changed. The prefix is WINEPREFIX's
# (test-entry hands the entry one of the pool). Then Ctrl+C once the build
# that writes the file as it loads (and records it) has written it: the
# interrupted check's last look puts the file back and says so.
#   interrupt_validator.sh <wine-run> <standin_host.exe> <plug-in whose Cancel hangs> <scratch>
#     <plug-in that writes the file as it loads>
set -euo pipefail

wine_run=$1
host=$2
plugin=$3
scratch=$4
writer=$5
prefix=${WINEPREFIX:?the prefix to run in}

fail() {
  echo "FAIL: $*"
  [ -f "$scratch/out" ] && sed 's/^/  validator: /' "$scratch/out"
  exit 1
}

# Waits (10 s at most) for the interrupted run's pseudo-terminal to end and
# sets `status` to its exit status; not in a subshell, which could not wait.
wait_for_run() {
  for _ in $(seq 100); do
    kill -0 "$script_pid" 2>/dev/null || break
    sleep 0.1
  done
  status=0
  wait "$script_pid" || status=$?
}

# Starts the validator on plug-in $1 with checks $2 in a pseudo-terminal, as
# a console runs it; `script_pid` is that terminal's.
start_run() {
  script -qec "$(printf '%q ' "$wine_run" "$host" --validate --only "$2" --sessions 0 \
    --time-limit 600 "$1")" /dev/null >"$scratch/out" 2>&1 </dev/null &
  script_pid=$!
}

# Once command $1 succeeds, Ctrl+C to the validator; $2 names what it waits for.
interrupt_once() {
  until "$1"; do
    kill -0 "$script_pid" 2>/dev/null || fail "the run ended before $2"
    sleep 0.05
  done
  local validator
  validator=$(ours --validate)
  [ -n "$validator" ] || fail "no validator process"
  kill -INT "$validator"
}

rm -rf "$scratch"
mkdir -p "$scratch"
# A name of its own, so that its processes are told apart from any other.
cp "$plugin" "$scratch/CTRL_C_TEST.QVX"
plugin_path="Z:$(printf '%s' "$scratch/CTRL_C_TEST.QVX" | tr / '\\')"
# The Wine processes of this test (not the timeout or script around them)
# whose command line holds $1; of this entry alone where test-entry marks its
# processes, so another build's run of this test is left alone.
ours() {
  local pid
  for pid in $(ps -eo pid=,comm=,args= |
    awk -v what="$1" '$2 ~ /^standin_host/ && index($0, what) && index($0, "CTRL_C_TEST") {print $1}'); do
    [ -z "${VELSTTNG_TEST_ENTRY:-}" ] ||
      grep -qzxF "VELSTTNG_TEST_ENTRY=$VELSTTNG_TEST_ENTRY" "/proc/$pid/environ" 2>/dev/null ||
      continue
    echo "$pid"
  done
}
trap 'for pid in $(ours standin_host); do kill -KILL "$pid" 2>/dev/null || true; done' EXIT

settings=$prefix/drive_c/windows/VELCNFG.INI
printf '[VELConfigData]\r\nenabled=0\r\nbitRate=112\r\n; the user'"'"'s\r\n' >"$settings"
touch -d '2011-05-04 12:00:00' "$settings"
users_file=$(md5sum <"$settings")
users_time=$(stat -c %Y "$settings")

start_run "$plugin_path" ending-cancel

# The run's private folders, wherever the prefix keeps the user's temporary folder.
run_folders() { compgen -G "$prefix/drive_c/users/*/*Temp/plugin-validator-run-*" || true; }
planted() { compgen -G "$prefix/drive_c/users/*/*Temp/plugin-validator-run-*/*VELCNFG.INI" >/dev/null; }

interrupt_once planted "its check planted a file"

started=$(date +%s%N)
restored=""
for _ in $(seq 50); do
  if [ "$(md5sum <"$settings" 2>/dev/null)" = "$users_file" ] &&
    [ "$(stat -c %Y "$settings")" = "$users_time" ] &&
    [ -z "$(run_folders)" ] &&
    [ -z "$(ours "--check ending-cancel")" ]; then
    restored=$((($(date +%s%N) - started) / 1000000))
    break
  fi
  sleep 0.1
done
[ -n "$restored" ] || fail "5 s after Ctrl+C: file $(md5sum <"$settings"), time $(stat -c %Y "$settings"), run folders: $(run_folders), checks running: $(ours "--check ending-cancel" | tr '\n' ' ')"

wait_for_run
[ "$status" = 2 ] || fail "the validator ended with $status, not 2"
# The console wraps long lines: the beginning is enough.
grep -q "Interrupted (Ctrl+C): no check is left running" "$scratch/out" ||
  fail "the validator did not say that it ended its checks"
# The interrupted check's last look found the file as the run did.
grep -q "Last look at C:.windows.VELCNFG.INI: untouched" "$scratch/out" ||
  fail "the validator did not say what its last look saw"

cp "$writer" "$scratch/CTRL_C_TEST_WRITER.QVX"
writer_path="Z:$(printf '%s' "$scratch/CTRL_C_TEST_WRITER.QVX" | tr / '\\')"
start_run "$writer_path" stored-values
written() { [ "$(md5sum <"$settings")" != "$users_file" ]; }
interrupt_once written "the writing build wrote the file"
wait_for_run
[ "$status" = 2 ] || fail "the writing build's run ended with $status, not 2"
[ "$(md5sum <"$settings")" = "$users_file" ] && [ "$(stat -c %Y "$settings")" = "$users_time" ] ||
  fail "the plug-in's write was not put back"
grep -q "Last look at C:.windows.VELCNFG.INI: changed by the plug-in" "$scratch/out" ||
  fail "the last look did not judge the plug-in's write"
echo "PASS: ${restored} ms after Ctrl+C no check ran and the private folder was gone; the user's file never changed; interrupted after the plug-in wrote it, the file was put back"
