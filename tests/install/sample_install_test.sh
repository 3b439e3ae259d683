#!/usr/bin/env bash
# sample_install_test.sh CMAKE SOURCE_DIR
# The samples' install rules over a copy of samples/ that a run of the stand-ins has written into (request records,
# the service's transfers, scripted answers): the install holds the samples' own files and nothing else.
set -euo pipefail
cmake_command=$1
source_dir=$(cd "$2" && pwd -P)

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kv-sample-install-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

cp -r "$source_dir/samples" "$scratch/samples"
mkdir -p "$scratch/samples/service/received" "$scratch/samples/service/answers"
printf 'GET /kvrGetQBMenuSpecs.asp?user=demo&pwd=demo-pass HTTP/1.1\n\n' >"$scratch/samples/service/received/000001.txt"
printf 'Host: 127.0.0.1\n' >"$scratch/samples/service/received/000001.headers"
printf 'DEMO01\tTA\t5001\n' >"$scratch/samples/service/transferred.txt"
printf 'SUCCESS' >"$scratch/samples/service/answers/brintavel.asp.1.used"

mkdir "$scratch/project"
cat >"$scratch/project/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.22)
project(samples_only NONE)
set(KV_DATA_SUBDIR share/kalvor-connector)
add_subdirectory("$scratch/samples" samples)
CMAKE
"$cmake_command" -S "$scratch/project" -B "$scratch/build" >"$scratch/configure.log" 2>&1 ||
  fail "configure: $(cat "$scratch/configure.log")"
"$cmake_command" --install "$scratch/build" --prefix "$scratch/prefix" >"$scratch/install.log" 2>&1 ||
  fail "install: $(cat "$scratch/install.log")"

installed=$(cd "$scratch/prefix/share/kalvor-connector/samples" && find . -type f | sort)
expected=$(printf '%s\n' ./company.xml ./service/accounts.txt ./service/page-params.txt ./service/pending-expenses.txt \
  ./service/pending-time.txt ./service/sites/DEMO01.txt | sort)
[ "$installed" = "$expected" ] || fail "the install holds other files than the samples' own:
$installed"
cmp -s "$scratch/prefix/share/kalvor-connector/samples/service/accounts.txt" "$source_dir/samples/service/accounts.txt" ||
  fail "the installed accounts.txt is not the sample's"
echo "sample install: $(echo "$installed" | wc -l) files, no run-time file"
