#!/usr/bin/env bash
# The floor check passes on the project's own tree and fails, naming the file, on each kind of include or source
# that runs against the layout.
set -euo pipefail
check=$1
tree=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

expect() {
  local want=$1 what=$2 dir=$3 needle=${4:-}
  local out status=0
  out=$("$check" "$dir" 2>&1) || status=$?
  if [ "$want" = pass ] && [ $status -ne 0 ]; then
    echo "FAIL: $what: the check refused a sound tree: $out"
    failures=$((failures + 1))
  elif [ "$want" = fail ] && { [ $status -eq 0 ] || [[ $out != *"$needle"* ]]; }; then
    echo "FAIL: $what: expected a refusal naming $needle, got ($status): $out"
    failures=$((failures + 1))
  fi
}

# A tree of one file per folder, each including what its floor allows.
plant() {
  local dir=$work/$1
  mkdir -p "$dir"/{platform/base,common,sync_control,download_control,menu_agent,hosts/kvpage,fuzz,tests/support}
  echo '#include "platform/base/error.h"' >"$dir/common/qb_session.cpp"
  printf '#include "common/qb_session.h"\n#include "platform/base/text.h"\n' >"$dir/sync_control/wizard.cpp"
  echo '#include "download_control/run_lock.h"' >"$dir/hosts/kvpage/main.cpp"
  echo '#include "tests/support/qb/fake_quickbooks.h"' >"$dir/fuzz/target.cpp"
  echo '#include <string>' >"$dir/platform/base/text.cpp"
  echo "$dir"
}

expect pass "the project's own tree" "$tree"
expect pass "a sound tree" "$(plant sound)"

dir=$(plant platform-up)
echo '#include "common/text.h"' >>"$dir/platform/base/text.cpp"
expect fail "platform/ including common/" "$dir" "platform/base/text.cpp:2 includes common/text.h"

dir=$(plant common-up)
echo '  #  include "hosts/kvpage/page_host.h"' >>"$dir/common/qb_session.cpp"
expect fail "common/ including a host" "$dir" "common/qb_session.cpp:2"

dir=$(plant sideways)
echo '#include "download_control/qb_session.h"' >>"$dir/sync_control/wizard.cpp"
expect fail "one deliverable including another" "$dir" "one deliverable never includes another"

dir=$(plant test-include)
echo '#include "tests/support/programs/program_run.h"' >>"$dir/menu_agent/main.cpp"
expect fail "a deliverable including a test file" "$dir" "menu_agent/main.cpp:1"

dir=$(plant test-source)
echo 'add_library(x STATIC ${PROJECT_SOURCE_DIR}/tests/support/sql/sql_script.cpp)' >"$dir/fuzz/CMakeLists.txt"
expect fail "fuzz/ compiling a source of tests/" "$dir" "fuzz/CMakeLists.txt:1"

[ $failures -eq 0 ] && echo "floor check: every case as expected"
exit $((failures > 0))
