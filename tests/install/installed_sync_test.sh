#!/usr/bin/env bash
# installed_sync_test.sh CMAKE BUILD_DIR SOURCE_DIR
# Installs the build into a temporary prefix, moves the prefix elsewhere, and runs the installed programs through
# a sync of the installed sample company, a download into it and a menu pick, from a folder and with a PATH that
# reach neither tree. Every file the programs open is traced: none may lie in the source or the build tree.
set -euo pipefail
cmake_command=$1
build_dir=$(cd "$2" && pwd -P)
source_dir=$(cd "$3" && pwd -P)

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kv-install-XXXXXX")
service_pid=""
cleanup() {
  [ -z "$service_pid" ] || kill "$service_pid" 2>/dev/null || true
  [ -z "$service_pid" ] || wait "$service_pid" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

"$cmake_command" --install "$build_dir" --prefix "$scratch/prefix" --strip >"$scratch/install.log" ||
  fail "cmake --install: $(cat "$scratch/install.log")"
# A program that kept its install prefix compiled in would fail from here.
mv "$scratch/prefix" "$scratch/moved"
prefix="$scratch/moved"
data="$prefix/share/kalvor-connector"

for program in kvpage qb-standin kalvor-standin corvalink; do
  [ -x "$prefix/bin/$program" ] || fail "$program is not installed in bin/"
done
ls "$data"/qbxml/*.xsd >/dev/null 2>&1 || fail "the qbXML schemas are not installed under $data/qbxml"
[ -f "$data/samples/company.xml" ] || fail "the sample company is not installed under $data/samples"

# Nothing of the environment ctest or a developer's shell sets may point into the trees.
work="$scratch/work"
mkdir -p "$work/qb" "$work/runtime"
cd "$work"
cp "$data/samples/company.xml" "$work/Sample Company.xml"
cp -r "$data/samples/service" "$work/service"
company="$work/Sample Company.xml"
printf 'demo\tdemo-pass\tDEMO01\tK-4711\t%s\tline4\tline5\n' "$company" >"$work/service/accounts.txt"
printf 'KalvorUser=demo\nQBFilePath=%s\n' "$company" >"$work/service/page-params.txt"
base=""
environment_command() {
  environment=(env -i HOME="$work" PATH="$prefix/bin:/usr/bin:/bin" TERM=dumb XDG_RUNTIME_DIR="$work/runtime"
    TMPDIR="$work" QB_STANDIN_HOME="$work/qb" KV_BROWSER_LOG="$work/browser.log"
    KV_WEB_CONNECT_TIMEOUT_MS=5000 KV_WEB_STALL_TIMEOUT_MS=60000 ${base:+CORVALINK_SERVER_URL=$base}
    ASAN_OPTIONS=detect_leaks=0)
}
environment() {
  environment_command
  "${environment[@]}" "$@"
}
# run NAME PROGRAM...: the program and every process it starts, with the files they open traced. A sanitized build's
# leak check cannot run under ptrace, so it is off for these runs (ASAN_OPTIONS above); the other tests keep it.
run() {
  environment strace -f -qq -e trace=open,openat,execve,chdir -o "$work/trace.$1.log" "${@:2}"
}

# Started as a simple command, so that $! is the service itself (env replaces itself by it), not a subshell.
environment_command
"${environment[@]}" kalvor-standin --data "$work/service" --port 0 >"$work/service.out" 2>&1 &
service_pid=$!
while [ -z "$base" ]; do
  kill -0 "$service_pid" 2>/dev/null || fail "kalvor-standin ended: $(cat "$work/service.out")"
  base=$(head -n 1 "$work/service.out" | grep '^http://' || true)
  [ -n "$base" ] || sleep 0.05
done

run open qb-standin open "$company" >/dev/null || fail "qb-standin open"
run sync kvpage --control brintavel --page "${base}BrintavelCall.asp?sitecode=DEMO01&siteid=K-4711" \
  --select-all --select time,expenses --start </dev/null >"$work/sync.out" 2>&1 ||
  fail "the sync ended with status $?: $(tail -n 20 "$work/sync.out")"
grep -lq '^IF \|^UPDATE ' "$work/service/received/"*.txt 2>/dev/null ||
  fail "the service received no statements from the sync"

run download kvpage --control tessarine --page "${base}tspenddownlist.asp?sitecode=DEMO01&siteid=K-4711" \
  --continue </dev/null >"$work/download.out" 2>&1 ||
  fail "the download ended with status $?: $(tail -n 20 "$work/download.out")"
run txns qb-standin txns >"$work/txns.out" || fail "qb-standin txns"
[ -s "$work/txns.out" ] || fail "the download added no transaction to the company"

run regserver corvalink /regserver >"$work/regserver.out" 2>&1 ||
  fail "corvalink /regserver: $(cat "$work/regserver.out")"
printf 'demo\ndemo-pass\n' | run setup corvalink a >"$work/setup.out" 2>&1 ||
  fail "corvalink a: $(tail -n 20 "$work/setup.out")"
run pick qb-standin pick 0 >"$work/pick.out" 2>&1 || fail "qb-standin pick 0: $(cat "$work/pick.out")"
grep -q "^$base" "$work/browser.log" 2>/dev/null || fail "the pick opened no page of the service"

kill "$service_pid"
wait "$service_pid" 2>/dev/null || true
service_pid=""

# Each traced call names its path in the first quoted argument; a relative one is relative to $work.
if grep -hF -e "\"$source_dir" -e "\"$build_dir" "$work"/trace.*.log >"$scratch/opened.txt"; then
  fail "the installed programs reached into the trees: $(head -n 5 "$scratch/opened.txt")"
fi
grep -q "\"$data/qbxml/" "$work"/trace.*.log || fail "qb-standin did not read the installed schemas"

# Without its share folder beside it, qb-standin names the schema it misses instead of answering unchecked.
mkdir -p "$scratch/lone/bin"
cp "$prefix/bin/qb-standin" "$scratch/lone/bin/"
run lone-open qb-standin open "$company" >/dev/null || fail "qb-standin open, before the lone copy"
if environment "$scratch/lone/bin/qb-standin" query Customer >"$work/lone.out" 2>&1; then
  fail "qb-standin without its schemas answered a query: $(head -n 3 "$work/lone.out")"
fi
if ! grep -qF "$scratch/lone/share/kalvor-connector/qbxml/" "$work/lone.out" ||
  ! grep -q "is missing" "$work/lone.out"; then
  fail "qb-standin without its schemas did not say which is missing: $(cat "$work/lone.out")"
fi

echo "installed programs synced, downloaded and picked from $prefix"
