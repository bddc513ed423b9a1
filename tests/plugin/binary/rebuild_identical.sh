#!/usr/bin/env bash
# Builds the plug-in again with the default preset in a fresh folder and
# compares the file with the one given, byte for byte.
#   rebuild_identical.sh <cmake> <source dir> <fresh build dir> <built plug-in>
set -euo pipefail
cmake=$1 source=$2 folder=$3 built=$4

rm -rf "$folder"
"$cmake" --preset gnu -S "$source" -B "$folder" -DCLANG_PLUGIN=OFF -DCLANG_CL_PLUGIN=OFF -DBUILD_TESTING=OFF \
  >"$folder.log" 2>&1 || { cat "$folder.log"; exit 1; }
"$cmake" --build "$folder" --target velsttng >>"$folder.log" 2>&1 || { cat "$folder.log"; exit 1; }
again="$folder/$(basename "$built")"
if ! cmp "$built" "$again"; then
  echo "FAIL: $built and $again differ"
  exit 1
fi
echo "$again: identical to $built ($(stat -c %s "$built") bytes)"
