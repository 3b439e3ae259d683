#!/usr/bin/env bash
# scripts/fuzz.sh SECONDS [TARGET...]    or    scripts/fuzz.sh build
# Builds the fuzz targets under fuzz/ with clang's libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer
# (tree build-fuzz), then runs each target (or those named) for SECONDS, starting from its committed corpus
# fuzz/corpus/<target>/. New inputs go to build-fuzz/fuzz/corpus/<target>/, never into the repository. A crash
# or a violated property fails the run; the input that caused it is kept as
# build-fuzz/fuzz/findings/<target>/crash-*, to be replayed with: build-fuzz/fuzz/<target> <file>. The targets run
# side by side, one core each. "build" only builds them.
# KV_FUZZ_JOBS sets the build's parallelism (default: KV_JOBS, else every core).
set -euo pipefail
source "$(dirname "$0")/setup.sh"

seconds=${1:-}
if ! [[ $seconds =~ ^([1-9][0-9]*|build)$ ]]; then
  echo "usage: scripts/fuzz.sh SECONDS [TARGET...] | scripts/fuzz.sh build  (SECONDS: whole seconds per target)" >&2
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
cmake --build "$build" --target fuzz_targets -j "${KV_FUZZ_JOBS:-$KV_JOBS}"
[ "$seconds" = build ] && exit 0

# Each target with its own corpus, findings and log; the verdicts are read in the targets' order.
run_target() {
  local target=$1 work=$2 findings=$3 log=$4
  local dict=()
  [ -f "$KV_ROOT/fuzz/$target.dict" ] && dict=(-dict="$KV_ROOT/fuzz/$target.dict")
  ASAN_OPTIONS=abort_on_error=1:detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "$build/fuzz/$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 -print_final_stats=1 \
    -artifact_prefix="$findings/" "${dict[@]}" "$work" "$KV_ROOT/fuzz/corpus/$target" >"$log" 2>&1
}

pids=()
for target in "${targets[@]}"; do
  if [ ! -x "$build/fuzz/$target" ]; then
    echo "unknown fuzz target: $target" >&2
    exit 2
  fi
  mkdir -p "$build/fuzz/corpus/$target" "$build/fuzz/findings/$target" "$build/fuzz/logs"
  run_target "$target" "$build/fuzz/corpus/$target" "$build/fuzz/findings/$target" \
    "$build/fuzz/logs/$target.log" &
  pids+=($!)
done

failed=()
for i in "${!targets[@]}"; do
  target=${targets[$i]}
  log="$build/fuzz/logs/$target.log"
  if wait "${pids[$i]}"; then
    echo "== $target: ${seconds}s $(grep -E '^(Done|stat::number_of_executed_units)' "$log" | tr '\n' ' ')"
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
