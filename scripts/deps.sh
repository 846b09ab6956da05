#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when missing.
# Usage: scripts/deps.sh [example|build|test]
# example: what the program and its plug-in need; build: the tests and
# benchmarks too; test: the outside tools the tests run as well.
set -euo pipefail
want=${1:-build}

pkgs=(cmake ninja-build g++)
if [ "$want" != example ]; then
  pkgs+=(make libgtest-dev libbenchmark-dev binutils)
fi
if [ "$want" = test ]; then
  pkgs+=(python3 python3-pefile qemu-system-x86 clang libclang-rt-dev)
fi

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "missing packages: ${missing[*]}; run as root to install them" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  # Another installer may hold the package lock for a while: wait for it.
  apt_opts=(-o DPkg::Lock::Timeout=900)
  for try in 1 2 3 4 5; do
    apt-get "${apt_opts[@]}" update -q && break
    [ $try = 5 ] && exit 1
    sleep 20
  done
  apt-get "${apt_opts[@]}" install -y -q --no-install-recommends "${missing[@]}"
fi

# Wine for running the PE32 outputs; on a kernel without 32-bit execution its
# 32-bit half runs under qemu-user (see setup-wine.sh).
if [ "$want" = test ]; then
  if [ "$(id -u)" = 0 ]; then
    bash "$(dirname "$0")/setup-wine.sh"
  elif ! command -v wine >/dev/null; then
    echo "wine is missing; run as root to install it (tests that need it are skipped)" >&2
  fi
fi
