#!/usr/bin/env bash
# Fails when an include runs against the floors of the layout: platform/ at the bottom, common/ above it, the three
# deliverables above that (none including another), hosts/, standins/, bench/ and fuzz/ on top, and tests/ above
# everything. Only tests/ and fuzz targets (through the test-support library) reach into tests/support/.
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"
folders=(platform common sync_control download_control menu_agent hosts standins bench fuzz)

includes=$(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' \
  --include='*.h' --include='*.cpp' --include='*.cc' --include='*.hpp' "${folders[@]}" || true)
include_faults=$(awk '
  BEGIN {
    floor["platform"] = 0; floor["common"] = 1
    floor["sync_control"] = 2; floor["download_control"] = 2; floor["menu_agent"] = 2
    floor["hosts"] = 3; floor["standins"] = 3; floor["bench"] = 3; floor["fuzz"] = 3; floor["tests"] = 4
  }
  {
    split($0, colon, ":"); file = colon[1]; line = colon[2]
    match($0, /"[^"]+"/); target = substr($0, RSTART + 1, RLENGTH - 2)
    split(file, f, "/"); split(target, t, "/"); from = f[1]; to = t[1]
    if (!(to in floor)) next
    if (to == "tests") {
      if (from == "fuzz" && index(target, "tests/support/") == 1) next
      print file ":" line " includes " target ": only tests, and fuzz targets through the test-support library, may"
    } else if (floor[to] > floor[from]) {
      print file ":" line " includes " target ", a floor above " from "/"
    } else if (floor[to] == 2 && floor[from] == 2 && to != from) {
      print file ":" line " includes " target ": one deliverable never includes another"
    }
  }' <<<"$includes")

# Sources are compiled where they live: no CMake file outside tests/ names a file under tests/.
cmake_faults=$(grep -rnE '(SOURCE_DIR\}|\.\.)/tests/' --include=CMakeLists.txt "${folders[@]}" |
  sed 's/$/: takes a source from tests\/ (link the test-support library instead)/' || true)

faults=$(printf '%s\n%s' "$include_faults" "$cmake_faults" | sed '/^$/d')
if [ -n "$faults" ]; then
  sed 's/^/floor check: /' <<<"$faults" >&2
  exit 1
fi
echo "floor check: every include keeps to its floor"
