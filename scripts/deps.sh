#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when missing.
# Usage: scripts/deps.sh [build|test]
set -euo pipefail
want=${1:-build}

pkgs=(cmake ninja-build g++ make libgtest-dev libbenchmark-dev binutils)
if [ "$want" = test ]; then
  pkgs+=(python3 python3-pefile qemu-system-x86 clang libclang-rt-dev)
fi

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
need_wine=0
if [ "$want" = test ]; then
  dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed" || need_wine=1
fi

if [ ${#missing[@]} -gt 0 ] || [ $need_wine = 1 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "missing packages: ${missing[*]} $([ $need_wine = 1 ] && echo wine wine32:i386); run as root to install them" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  if [ $need_wine = 1 ]; then
    dpkg --add-architecture i386
    missing+=(wine wine32:i386)
  fi
  # Another installer may hold the package lock for a while: wait for it.
  apt_opts=(-o DPkg::Lock::Timeout=900)
  for try in 1 2 3 4 5; do
    apt-get "${apt_opts[@]}" update -q && break
    [ $try = 5 ] && exit 1
    sleep 20
  done
  apt-get "${apt_opts[@]}" install -y -q --no-install-recommends "${missing[@]}"
fi
