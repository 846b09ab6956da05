#!/usr/bin/env bash
# Tavik against fasm, NASM and GNU as on the same program, and Tavik on other
# shapes of program. Installs what it needs from Debian's packages when it is
# missing (as root), then runs measure.py with the options given; see README.md.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

peers=1
for a in "$@"; do
  case $a in --no-peers|--check|-h|--help) peers=0 ;; esac
done

need=()
command -v python3 >/dev/null || need+=(python3)
[ -x /usr/bin/time ] || need+=(time)
if ((peers)); then
  command -v fasm >/dev/null || need+=(fasm)
  command -v nasm >/dev/null || need+=(nasm)
  command -v as >/dev/null || need+=(binutils)
fi
if ((${#need[@]})); then
  if [ "$(id -u)" = 0 ]; then
    echo "installing ${need[*]}" >&2
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
  else
    echo "missing: ${need[*]} (run as root to install them with apt-get)" >&2
  fi
fi

exec python3 "$here/measure.py" "$@"
