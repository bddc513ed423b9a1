#!/usr/bin/env bash
# Runs a Win32 test program as the unprivileged user 65534 in a Wine prefix of
# its own. Read-only files only refuse writes to an ordinary user: as root,
# Wine writes through them.
#   run_as_nobody.sh <program.exe> <build folder> [test program arguments...]
# The prefix is made once per build folder (about half a minute) and reused.
set -euo pipefail

program=$1
build=$2
shift 2
uid=65534

fail() {
  printf 'run_as_nobody: %s\n' "$*" >&2
  exit 1
}

[ "$(id -u)" -eq 0 ] || fail "needs root to switch to uid $uid; the read-only test cannot run"
command -v setpriv >/dev/null || fail "setpriv is missing"
[ -f "$program" ] || fail "no test program at $program"

# A clean environment, but for test-entry's mark of the entry's processes, so
# that its check finds what this user's Wine leaves running too.
as_nobody() {
  setpriv --reuid=$uid --regid=$uid --clear-groups \
    env -i PATH="$PATH" HOME="$home" WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all \
    WINEDLLOVERRIDES='mscoree,mshtml=' \
    ${VELSTTNG_TEST_ENTRY:+VELSTTNG_TEST_ENTRY="$VELSTTNG_TEST_ENTRY"} \
    ${VELSTTNG_TEST_BUILD:+VELSTTNG_TEST_BUILD="$VELSTTNG_TEST_BUILD"} "$@"
}

# Under the build folder when that user can reach it; otherwise in /tmp under
# a name fixed by the build folder's path.
root=$build/nobody-wine
if ! setpriv --reuid=$uid --regid=$uid --clear-groups sh -c 'cd "$1"' sh "$build" 2>/dev/null; then
  root=/tmp/velsttng-nobody-$(printf '%s' "$(cd "$build" && pwd)" | sha256sum | cut -c1-16)
fi
home=$root/home
prefix=$root/prefix

if [ -e "$root" ] && [ "$(stat -c %u "$root")" != "$uid" ]; then rm -rf "$root"; fi
mkdir -p "$root"
chown $uid:$uid "$root"
chmod 700 "$root"
as_nobody mkdir -p "$home" "$root/bin"

# A copy of the build's prefix as ./run made it costs a second where a
# wineboot costs half a minute under emulation. Its system files stay hard
# links to root's, which Wine only reads; the folders and every file of its
# own become this user's, as Wine wants a prefix owned by whoever runs it.
fresh=$build/wine/fresh
if [ ! -f "$prefix/.ready" ] && [ -f "$fresh/.ready" ] &&
  bash "$(dirname "$0")/copy_prefix.sh" "$fresh" "$prefix" 2>/dev/null; then
  echo "the Wine prefix for uid $uid: a copy of $fresh"
  find "$prefix" \( -type d -o -links 1 \) -exec chown -h $uid:$uid {} +
  as_nobody touch "$prefix/.ready"
fi
if [ ! -f "$prefix/.ready" ]; then
  echo "creating the Wine prefix for uid $uid in $prefix"
  rm -rf "$prefix"
  as_nobody timeout 600 wineboot -i </dev/null >"$root/wineboot.log" 2>&1 ||
    { cat "$root/wineboot.log"; fail "wineboot failed as uid $uid"; }
  as_nobody wineserver -w </dev/null >/dev/null 2>&1 || true
  as_nobody touch "$prefix/.ready"
fi

# The copy is readable by that user wherever the build folder is.
copy=$root/bin/$(basename "$program")
install -o $uid -g $uid -m 755 "$program" "$copy"

# Output goes to a file so no Wine process keeps CTest's pipe open.
status=0
as_nobody timeout 300 wine "$copy" "$@" </dev/null >"$root/test.log" 2>&1 || status=$?
as_nobody wineserver -k </dev/null >/dev/null 2>&1 || true
tr -d '\r' <"$root/test.log"
[ "$status" -eq 0 ] || fail "the test program failed as uid $uid (exit $status)"
