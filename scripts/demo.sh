#!/usr/bin/env bash
# The main job on the bundled sample data: the service and QuickBooks stand-ins are started on this machine,
# every list of the sample company is synced to the service, the pending time, leave and expenses are written
# into the company, and the menu agent is set up and picked from QuickBooks' menu.
set -euo pipefail
source "$(dirname "$0")/setup.sh"

# The programs come from build/, configured as scripts/test.sh configures it, so neither script undoes the other's
# tree; only the four programs are built here, the tests when scripts/test.sh runs. On a terminal the build shows
# its progress line; elsewhere its output goes to a log, shown when the build fails.
build_programs() {
  local log="$KV_ROOT/build/demo-build.log"
  if [ -t 1 ]; then
    cmake --build "$KV_ROOT/build" -j "$KV_JOBS" --target kvpage qb-standin kalvor-standin corvalink
  elif ! cmake --build "$KV_ROOT/build" -j "$KV_JOBS" --target kvpage qb-standin kalvor-standin corvalink \
    >"$log" 2>&1; then
    tail -n 40 "$log"
    return 1
  fi
}
kv_phase "Packages" kv_install_packages
kv_phase "Configure build/" kv_configure build "${KV_MAIN_TREE_OPTIONS[@]}"
kv_phase "Build the programs (kvpage, qb-standin, kalvor-standin, corvalink)" build_programs

BIN="$KV_ROOT/build/bin"
WORK="$KV_ROOT/build/demo"
rm -rf "$WORK"
mkdir -p "$WORK/qb"
export QB_STANDIN_HOME="$WORK/qb"
export KV_BROWSER_LOG="$WORK/browser.log"
# Keep a broken service from holding the demo for minutes.
export KV_WEB_CONNECT_TIMEOUT_MS=5000 KV_WEB_STALL_TIMEOUT_MS=20000

SERVICE_PID=""
cleanup() {
  [ -n "$SERVICE_PID" ] && kill "$SERVICE_PID" 2>/dev/null && wait "$SERVICE_PID" 2>/dev/null
  "$BIN/qb-standin" close >/dev/null 2>&1 || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

step() { printf '\n==== %s\n\n' "$*"; }
failed=0
run() {
  if ! "$@"; then
    echo "!! step failed: $*"
    failed=1
  fi
}

# The sample company, and the service's sample data with the demo account pointing at it.
COMPANY="$WORK/Sample Company.xml"
cp "$KV_ROOT/samples/company.xml" "$COMPANY"
cp -r "$KV_ROOT/samples/service" "$WORK/service"
SITE_CODE=DEMO01
SITE_ID=K-4711
printf 'demo\tdemo-pass\t%s\t%s\t%s\tline4\tline5\n%s\t%s\t%s\t%s\t%s\tline4\tline5\n' \
  "$SITE_CODE" "$SITE_ID" "$COMPANY" "$SITE_CODE" "$SITE_ID" "$SITE_CODE" "$SITE_ID" "$COMPANY" \
  >"$WORK/service/accounts.txt"
printf 'KalvorUser=demo\nQBFilePath=%s\n' "$COMPANY" >"$WORK/service/page-params.txt"

"$BIN/kalvor-standin" --data "$WORK/service" --port 0 >"$WORK/service.out" 2>&1 &
SERVICE_PID=$!
for _ in $(seq 100); do
  [ -s "$WORK/service.out" ] && break
  sleep 0.05
done
BASE=$(head -n 1 "$WORK/service.out")
case "$BASE" in http://*) ;; *) echo "The service stand-in did not start: $BASE"; exit 1 ;; esac
export CORVALINK_SERVER_URL="$BASE"
"$BIN/qb-standin" open "$COMPANY"
echo "Service stand-in at $BASE; QuickBooks stand-in has \"$COMPANY\" open."

# What the service received since request number $1, one line per upload or report.
received() {
  local from=$1 f
  for f in "$WORK/service/received/"*.txt; do
    [ -e "$f" ] || continue
    local n
    n=$(basename "$f" .txt)
    [ "$((10#$n))" -gt "$from" ] || continue
    local line
    line=$(head -n 1 "$f")
    local page=${line#* /}
    page=${page%%\?*}
    local options
    options=$(sed -n '1s/.*[?&]options=\([^& ]*\).*/\1/p' "$f")
    local body
    body=$(tail -n +3 "$f")
    local statements lines
    statements=$(printf '%s' "$body" | grep -c '^IF \|^UPDATE ' || true)
    lines=$(printf '%s' "$body" | grep -c '|' || true)
    printf '  %-28s options=%-2s statements=%-4s lines=%s\n' "$page" "${options:--}" "$statements" "$lines"
  done
}
last_request() { ls "$WORK/service/received/" 2>/dev/null | grep -c '\.txt$' || true; }

step "1. Sync every list with the sync control (BrintavelCall.asp hosted by kvpage)"
before=$(last_request)
run "$BIN/kvpage" --control brintavel --page "${BASE}BrintavelCall.asp?sitecode=$SITE_CODE&siteid=$SITE_ID" \
  --select-all --select time,expenses --start </dev/null
echo "What the service received:"
received "$before"

step "2a. Download time and leave into QuickBooks (tspenddownlist.asp)"
before=$(last_request)
run "$BIN/kvpage" --control tessarine --page "${BASE}tspenddownlist.asp?sitecode=$SITE_CODE&siteid=$SITE_ID" \
  --continue </dev/null
received "$before"

step "2b. Download expenses into QuickBooks (exppenddownlist.asp)"
before=$(last_request)
run "$BIN/kvpage" --control tessarine --page "${BASE}exppenddownlist.asp?sitecode=$SITE_CODE&siteid=$SITE_ID" \
  --continue </dev/null
received "$before"

echo "New transactions in the company file:"
run "$BIN/qb-standin" txns

step "3. Set up the menu agent, show the menu, pick Syncronize and Get Timesheets"
run "$BIN/corvalink" /regserver
printf 'demo\ndemo-pass\n' | run "$BIN/corvalink" a
run "$BIN/qb-standin" menu
: >"$KV_BROWSER_LOG"
run "$BIN/qb-standin" pick 2
run "$BIN/qb-standin" pick 0
echo "Pages the picks opened:"
sed 's/^/  /' "$KV_BROWSER_LOG"

if [ "$failed" -ne 0 ]; then
  step "The demo finished with failed steps."
  exit 1
fi
step "The demo finished: every step succeeded."
