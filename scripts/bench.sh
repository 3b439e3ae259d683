#!/usr/bin/env bash
# Builds in release mode in its own tree and runs the benchmarks, each beside its reference, printing the table.
# Arguments go to kv-bench (kv-bench --help); e.g. scripts/bench.sh --sizes 5000 --markdown perf.md
# The default is the full run: syncs of 5,000 and 50,000 records a list, the downloads and the waiting sync.
set -euo pipefail
source "$(dirname "$0")/setup.sh"
kv_install_packages

# kv_build's optimised build (-O2 with debug information, assertions off), without the tests.
BUILD=${KV_BENCH_BUILD:-build-release}
echo "Building $BUILD..." >&2
kv_build "$BUILD" -DKV_TESTS=OFF >/dev/null
exec "$KV_ROOT/$BUILD/bin/kv-bench" "$@"
