#!/usr/bin/env bash
# clang-format on every C++ source and header; clang-tidy with the project's
# configuration on the plug-in and the stand-in host, from the compile database
# of the Clang build (clang-tidy parses as Clang does). Fails on any finding.
#   lint.sh <source dir> <Clang build dir>
set -uo pipefail
root=$1
database=$2
cd "$root" || exit 1
[ -f "$database/compile_commands.json" ] || {
  echo "FAIL: no compile database in $database"
  exit 1
}

mapfile -t sources < <(find plugin host standin_host tests -type f \
  \( -name '*.cpp' -o -name '*.h' -o -name '*.h.in' \) | LC_ALL=C sort)
mapfile -t tidied < <(find plugin standin_host -type f -name '*.cpp' | LC_ALL=C sort)
status=0
clang-format --dry-run --Werror "${sources[@]}" || status=1
# clang-tidy counts the warnings it hides in system headers; only findings matter.
# The analyzer runs in its shallow mode, as editors run it while one types: in
# its deep mode a few functions' path explosion took half of the lint's time.
# (clang-tidy 14 reads ExtraArgs from .clang-tidy but does not pass them on.)
shallow=(--extra-arg=-Xclang --extra-arg=-analyzer-config --extra-arg=-Xclang
  --extra-arg=mode=shallow)
printf '%s\n' "${tidied[@]}" |
  xargs -P"$(nproc)" -n1 clang-tidy -p "$database" --quiet --warnings-as-errors='*' "${shallow[@]}" \
    --extra-arg=-Wreserved-identifier \
    2> >(grep -v ' warnings\? generated\.$' >&2) || status=1
if [ "$status" -ne 0 ]; then
  echo "lint: findings above"
  exit 1
fi
echo "lint: ${#sources[@]} files formatted, ${#tidied[@]} files tidy"
