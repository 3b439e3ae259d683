#!/usr/bin/env bash
# Sourced by the other scripts: installs what the build needs, configures and builds a tree, and times phases.
KV_PACKAGES=(build-essential cmake ninja-build pkg-config libxml2-dev libcurl4-openssl-dev ca-certificates
  libcpp-httplib-dev libcli11-dev libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev lld strace
  clang-format-14)

kv_install_packages() {
  local missing=()
  local p
  for p in "${KV_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# kv_configure DIR [cmake options...]: options given later win over the defaults here. lld links the programs and
# tests, with their debug information, in about half the time of the default linker.
kv_configure() {
  local dir=$1
  shift
  cmake -S "$KV_ROOT" -B "$KV_ROOT/$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_WERROR=ON \
    -DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld "$@" >/dev/null
}

# kv_build DIR [cmake options...]
kv_build() {
  kv_configure "$@"
  cmake --build "$KV_ROOT/$1" -j "$KV_JOBS"
}

# The options of build/, the tree the tests run in and the demo's programs come from. Each is set, not left to the
# cache, so that whatever configured build/ before, it builds the same and holds every test.
KV_MAIN_TREE_OPTIONS=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_WERROR=ON -DKV_TESTS=ON -DKV_SANITIZE=OFF -DKV_FUZZ=OFF)

# kv_phase NAME COMMAND...: runs one phase of a script between a line naming it and a line with its time, and
# returns its status. The command runs in a subshell of its own with errexit on, so its first failing command ends
# it, as it would outside; call kv_phase as a command of its own, since inside an if or a || list bash turns errexit
# off for everything the list runs.
KV_STARTED=$SECONDS
kv_phase() {
  local name=$1
  shift
  local begun=$SECONDS
  printf '==> %s\n' "$name"
  local status=0
  set +e
  (
    set -e
    "$@"
  )
  status=$?
  set -e
  local took=$((SECONDS - begun)) total=$((SECONDS - KV_STARTED))
  local verdict="done"
  [ "$status" -eq 0 ] || verdict="FAILED (status $status)"
  printf '<== %s: %s in %dm%02ds (%dm%02ds so far)\n' "$name" "$verdict" $((took / 60)) $((took % 60)) \
    $((total / 60)) $((total % 60))
  return "$status"
}

# How many cores the builds and test runs of every script use: KV_JOBS when set, else all of them. A machine that
# others share asks for fewer.
KV_JOBS=${KV_JOBS:-$(nproc)}
if ! [[ $KV_JOBS =~ ^[1-9][0-9]*$ ]]; then
  echo "KV_JOBS must be a whole number of cores above 0, not '$KV_JOBS'" >&2
  return 2 2>/dev/null || exit 2
fi

# The format check and every developer run the one version of clang-format that the committed .clang-format is
# laid out with; another version lays out some lines differently.
KV_CLANG_FORMAT=clang-format-14

KV_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
