#!/usr/bin/env bash
# Builds with warnings as errors and runs every test, then again under ASan and UBSan.
set -euo pipefail
source "$(dirname "$0")/setup.sh"
kv_install_packages

kv_build build
(cd "$KV_ROOT/build" && ctest --output-on-failure -j "$(nproc)" --timeout 600)

# Some warnings come only from -O3's inlining (e.g. -Wrestrict inside the standard library): compiled once more as
# a Release build, whose tests need not run again.
kv_build build-release -DCMAKE_BUILD_TYPE=Release

kv_build build-asan -DKV_SANITIZE=ON
(cd "$KV_ROOT/build-asan" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j "$(nproc)" --timeout 600)

# Every fuzz target for a few seconds from its committed corpus (clang and libFuzzer, tree build-fuzz).
"$KV_ROOT/scripts/fuzz.sh" "${KV_FUZZ_SECONDS:-6}"
