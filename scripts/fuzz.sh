#!/usr/bin/env bash
# scripts/fuzz.sh SECONDS [TARGET...]
# Builds the fuzz targets under fuzz/ with clang's libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer
# (tree build-fuzz), then runs each target (or those named) for SECONDS, starting from its committed corpus
# fuzz/corpus/<target>/. New inputs go to build-fuzz/fuzz/corpus/<target>/, never into the repository. A crash
# or a violated property fails the run; the input that caused it is kept as
# build-fuzz/fuzz/findings/<target>/crash-*, to be replayed with: build-fuzz/fuzz/<target> <file>.
# KV_FUZZ_JOBS sets the build's parallelism (default: every core).
set -euo pipefail
source "$(dirname "$0")/setup.sh"

seconds=${1:-}
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: scripts/fuzz.sh SECONDS [TARGET...]  (SECONDS: a whole number of seconds per target)" >&2
  exit 2
fi
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(converters_fuzz download_fuzz judges_fuzz inform_fuzz record_view_fuzz)

kv_install_packages
build="$KV_ROOT/build-fuzz"
# Warnings are held to GCC's verdict in the other trees; clang's own warnings do not stop fuzzing. -O1 with line
# tables builds quickly and still runs fast, and the sanitizers' reports name the source lines.
cmake -S "$KV_ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE= -DCMAKE_C_FLAGS="-O1 -gline-tables-only" \
  -DCMAKE_CXX_FLAGS="-O1 -gline-tables-only" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DKV_FUZZ=ON \
  -DKV_TESTS=ON -DKV_WERROR=OFF >/dev/null
cmake --build "$build" --target fuzz_targets -j "${KV_FUZZ_JOBS:-$(nproc)}"

failed=()
for target in "${targets[@]}"; do
  binary="$build/fuzz/$target"
  if [ ! -x "$binary" ]; then
    echo "unknown fuzz target: $target" >&2
    exit 2
  fi
  work="$build/fuzz/corpus/$target"
  findings="$build/fuzz/findings/$target"
  log="$build/fuzz/logs/$target.log"
  mkdir -p "$work" "$findings" "$(dirname "$log")"
  dict=()
  [ -f "$KV_ROOT/fuzz/$target.dict" ] && dict=(-dict="$KV_ROOT/fuzz/$target.dict")
  echo "== $target: ${seconds}s"
  if ASAN_OPTIONS=abort_on_error=1:detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "$binary" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 -print_final_stats=1 \
    -artifact_prefix="$findings/" "${dict[@]}" "$work" "$KV_ROOT/fuzz/corpus/$target" >"$log" 2>&1; then
    grep -E '^(Done|stat::number_of_executed_units)' "$log" | tr '\n' ' '
    echo
  else
    echo "!! $target failed; the last lines of $log:"
    tail -n 60 "$log"
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found faults in: ${failed[*]} (inputs under $build/fuzz/findings/)" >&2
  exit 1
fi
echo "fuzzing: every target ran ${seconds}s without a fault"
