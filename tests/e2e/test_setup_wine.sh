#!/usr/bin/env bash
# The wine set-up's probe of how i386 programs run here: it runs a tiny
# static program to its end and reads its exit code, so a busy machine gets
# the same answer as an idle one.
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
setup=${TAVIK_SOURCE_DIR:?}/scripts/setup-wine.sh

probe() { bash "$setup" --probe 2>probe.err; }
idle=$(probe)
case $idle in native|emulated|none) ;; *) fail "probe answered '$idle': $(cat probe.err)" ;; esac
real=/proc/sys/fs/binfmt_misc/qemu-i386
if [ -r "$real" ] && grep -qx enabled "$real" && [ -x /usr/bin/qemu-i386 ]; then
  [ "$idle" = emulated ] || fail "qemu-i386 is registered, the probe says $idle"
fi

if [ "$idle" != none ]; then
  # Busy: as many spinning processes as the tests may use.
  hogs=()
  for _ in 1 2 3; do (while :; do :; done) & hogs+=($!); done
  busy=$(probe)
  kill "${hogs[@]}"; wait "${hogs[@]}" 2>/dev/null
  [ "$busy" = "$idle" ] || fail "busy machine: probe says $busy, idle $idle"

  # The answer follows the binfmt entries: one handing i386 ELF to qemu
  # means emulated, a disabled one or none at all means native.
  mkdir -p fake
  echo enabled >fake/status
  printf 'enabled\ninterpreter /usr/bin/qemu-i386\n' >fake/qemu-i386
  [ "$(SETUP_WINE_BINFMT=$PWD/fake probe)" = emulated ] || fail "enabled qemu entry not seen"
  printf 'disabled\ninterpreter /usr/bin/qemu-i386\n' >fake/qemu-i386
  [ "$(SETUP_WINE_BINFMT=$PWD/fake probe)" = native ] || fail "disabled qemu entry taken for emulation"
  rm fake/qemu-i386
  [ "$(SETUP_WINE_BINFMT=$PWD/fake probe)" = native ] || fail "no entry, yet not native"
else
  echo "i386 programs do not run here: only the answer's form is checked"
fi

passed "all wine set-up probe checks passed"
