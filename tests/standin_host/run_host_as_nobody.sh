#!/usr/bin/env bash
# Runs readonly_host_test as uid 65534 through tests/support/run_as_nobody.sh,
# with copies of the stand-in host and the plug-in that user can read
# wherever the build folder is.
#   run_host_as_nobody.sh <readonly_host_test.exe> <standin_host.exe> <plug-in> <build folder>
#     [gtest arguments...]
set -euo pipefail

test_program=$1
host=$2
plugin=$3
build=$4
shift 4
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

copies=$(mktemp -d /tmp/velsttng-host-XXXXXX)
trap 'rm -rf "$copies"' EXIT
chmod 755 "$copies"
install -m 755 "$host" "$copies/standin_host.exe"
install -m 644 "$plugin" "$copies/$(basename "$plugin")"

winepath_of() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
# The display driver is chosen when the prefix's desktop starts: set it in a
# run of its own, before the run that opens dialogs.
bash "$here/../support/run_as_nobody.sh" "$test_program" "$build" --prepare-prefix
bash "$here/../support/run_as_nobody.sh" "$test_program" "$build" \
  "$(winepath_of "$copies/standin_host.exe")" "$(winepath_of "$copies/$(basename "$plugin")")" "$@"
