#!/usr/bin/env bash
# Builds with warnings as errors and runs every test, builds the programs once more at -O3 for the warnings only
# the optimiser finds, runs every test again under ASan and UBSan, and fuzzes each target for a few seconds.
# Every phase prints a line when it begins and one with its time when it ends; the first failing phase ends the run.
set -euo pipefail
source "$(dirname "$0")/setup.sh"

# ctest --no-tests=error: a tree configured without its tests must fail the run, not pass it unseen.
run_tests() {
  local tree=$1
  shift
  cd "$KV_ROOT/$tree"
  env "$@" ctest --output-on-failure --no-tests=error -j "$KV_JOBS" --timeout 600
}

# Every C++ file as the committed .clang-format lays it out; a file that differs fails the run.
check_format() {
  cd "$KV_ROOT"
  git ls-files -z '*.cpp' '*.h' | xargs -0 "$KV_CLANG_FORMAT" --dry-run --Werror
}

kv_phase "Packages" kv_install_packages
kv_phase "Floors of the layout" "$KV_ROOT/scripts/check_floors.sh" "$KV_ROOT"
kv_phase "Formatting (.clang-format)" check_format
kv_phase "Build build/ (RelWithDebInfo, tests on)" kv_build build "${KV_MAIN_TREE_OPTIONS[@]}"
kv_phase "Tests in build/" run_tests build

# Some warnings come only from -O3's inlining (e.g. -Wrestrict inside the standard library). They are warnings
# of the production code, so this tree builds the libraries and programs only: the tests compile once, above.
kv_phase "Warnings at -O3 (build-o3/, programs only)" kv_build build-o3 -DCMAKE_BUILD_TYPE=Release -DKV_TESTS=OFF \
  -DKV_SANITIZE=OFF -DKV_FUZZ=OFF

# -O1 with line tables only: the sanitizers' reports still name functions and lines, and the tree compiles in far
# less time than with full debug information.
kv_phase "Build build-asan/ (ASan and UBSan, -O1)" kv_build build-asan -DCMAKE_BUILD_TYPE= \
  -DCMAKE_C_FLAGS="-O1 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS="-O1 -g1 -DNDEBUG" -DKV_TESTS=ON -DKV_SANITIZE=ON -DKV_FUZZ=OFF

# The fuzz tree builds while the sanitizer tests run: they wait on the programs they start more than they compute.
mkdir -p "$KV_ROOT/build-fuzz"
fuzz_build_log="$KV_ROOT/build-fuzz/build.log"
"$KV_ROOT/scripts/fuzz.sh" build >"$fuzz_build_log" 2>&1 &
fuzz_build=$!
trap 'kill "$fuzz_build" 2>/dev/null || true' EXIT
kv_phase "Tests in build-asan/ (the fuzz tree building beside them)" run_tests build-asan \
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1
fuzz_built=0
wait "$fuzz_build" || fuzz_built=$?
trap - EXIT

# Every fuzz target for a few seconds from its committed corpus (clang and libFuzzer, tree build-fuzz).
fuzz() {
  if [ "$fuzz_built" -ne 0 ]; then
    echo "The fuzz tree did not build; the end of $fuzz_build_log:"
    tail -n 40 "$fuzz_build_log"
    return 1
  fi
  "$KV_ROOT/scripts/fuzz.sh" "${KV_FUZZ_SECONDS:-6}"
}
kv_phase "Fuzzing (build-fuzz/)" fuzz

total=$((SECONDS - KV_STARTED))
printf 'Every phase passed in %dm%02ds.\n' $((total / 60)) $((total % 60))
