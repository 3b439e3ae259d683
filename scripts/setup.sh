#!/usr/bin/env bash
# Sourced by the other scripts: installs what the build needs and builds one tree.
KV_PACKAGES=(build-essential cmake ninja-build pkg-config libxml2-dev libcurl4-openssl-dev ca-certificates
  libcpp-httplib-dev libcli11-dev libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev)

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

# kv_build DIR [cmake options...]
kv_build() {
  local dir=$1
  shift
  cmake -S "$KV_ROOT" -B "$KV_ROOT/$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_WERROR=ON "$@" >/dev/null
  cmake --build "$KV_ROOT/$dir" -j "$(nproc)"
}

KV_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
