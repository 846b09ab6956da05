#!/bin/bash
# setup-wine.sh - make Debian 12's wine run 32-bit (PE32) Windows programs on a
# kernel that cannot execute i386 ELF binaries ("Exec format error", e.g. a PVM
# guest), by running the 32-bit half of wine under qemu-user via binfmt_misc.
#
# Run as root. Idempotent: a second run only checks and exits. Run it again
# after every boot (binfmt_misc registrations do not survive a reboot), e.g.
# at the top of .ci/run.
#
# If this machine runs i386 ELF natively, it changes nothing (it only installs
# the standard wine packages if wine is missing).
#
# Afterwards:
#   export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
#   WINEPREFIX=/tmp/pfx wine wineboot -i       # once, ~15 s (optional: the
#                                              # first 'wine prog.exe' does it)
#   WINEPREFIX=/tmp/pfx timeout 120 wine prog.exe; echo $?
# Use the default (win64) prefix: do NOT set WINEARCH=win32 (then every wine
# helper process runs under qemu too: slower, and some of them crash).
# Speed: a run costs ~1.6-2.2 s when no wineserver is up for the prefix,
# ~0.3-0.8 s while one is. For a test suite, start one first and stop it after:
#   WINEPREFIX=/tmp/pfx wineserver -p   ...tests...   WINEPREFIX=/tmp/pfx wineserver -k
# Only the 32-bit program itself runs under qemu-i386; wineserver and wine's
# helper processes (services, winedevice, explorer) are native 64-bit.
#
# Options:
#   --selftest [DIR]  afterwards, create a prefix in DIR (default: a temp dir,
#                     removed after) and check that a 32-bit program
#                     (cmd.exe) prints to stdout and passes exit code 3 through.
#   --probe           only print how an i386 ELF runs here (native, emulated
#                     or none) and change nothing; no root needed.
set -euo pipefail

SELFTEST=0
SELFTEST_DIR=
PROBE_ONLY=0
while [ $# -gt 0 ]; do
    case "$1" in
        --selftest) SELFTEST=1
                    if [ $# -gt 1 ] && [ "${2#--}" = "$2" ]; then SELFTEST_DIR=$2; shift; fi ;;
        --probe) PROBE_ONLY=1 ;;
        -h|--help) sed -n '2,31p' "$0"; exit 0 ;;
        *) echo "setup-wine: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done

log() { echo "setup-wine: $*" >&2; }
[ "$(id -u)" = 0 ] || [ $PROBE_ONLY = 1 ] || { log "must run as root"; exit 1; }

BINFMT=${SETUP_WINE_BINFMT:-/proc/sys/fs/binfmt_misc}   # override only for testing
ENTRY=qemu-i386
QEMU=/usr/bin/qemu-i386
# i386 ELF executables and shared objects (e_type 2/3, e_machine 3/6)
MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

TMP=$(mktemp -d /tmp/setup-wine.XXXXXX)
cleanup() { rm -rf "$TMP"; }
trap cleanup EXIT

# A 96-byte static i386 ELF that exits with code 42.
T32=$TMP/t32
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000' >"$T32"
printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000' >>"$T32"
printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000' >>"$T32"
printf '\000\000\000\000'                                                >>"$T32"
printf '\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010' >>"$T32"
printf '\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000' >>"$T32"
# mov eax,1 ; mov ebx,42 ; int 0x80 (exit 42) ; 0-padding
printf '\270\001\000\000\000\273\052\000\000\000\315\200'                   >>"$T32"
chmod +x "$T32"

# How does an i386 ELF run here?  prints: native | emulated | none
# The probe program must run to its end and pass its exit code through; it
# gets a minute, so a busy machine is not taken for one that cannot run it.
# It ran under emulation when an enabled binfmt entry hands i386 ELF to qemu
# (binfmt_misc comes before the kernel's own loader).
probe_i386() {
    local rc=0 entry
    timeout "${SETUP_WINE_PROBE_TIMEOUT:-60}" "$T32" 2>/dev/null || rc=$?
    [ "$rc" = 42 ] || { echo none; return; }
    if [ -e "$BINFMT/status" ] && grep -qx enabled "$BINFMT/status"; then
        for entry in "$BINFMT"/*; do
            case "${entry##*/}" in register|status) continue ;; esac
            if grep -qx enabled "$entry" 2>/dev/null && grep -q '^interpreter .*qemu-i386' "$entry" 2>/dev/null; then
                echo emulated
                return
            fi
        done
    fi
    echo native
}

ensure_binfmt_mounted() {
    if [ ! -e "$BINFMT/register" ]; then
        mount -t binfmt_misc binfmt_misc "$BINFMT"
    fi
}

APT_UPDATED=0
apt_install() {
    # $@: packages (NAME or NAME:ARCH) that must be installed
    local missing=() p
    for p in "$@"; do
        if [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)" != 'install ok installed' ]; then
            missing+=("$p")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    log "installing ${missing[*]}"
    if [ $APT_UPDATED = 0 ]; then apt-get update -qq; APT_UPDATED=1; fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
}

ensure_i386_arch() {
    if ! printf '%s\n' "$(dpkg --print-foreign-architectures)" | grep -qx i386; then
        log "adding dpkg architecture i386"
        dpkg --add-architecture i386
        APT_UPDATED=0
    fi
}

mode=$(probe_i386)
if [ $PROBE_ONLY = 1 ]; then echo "$mode"; exit 0; fi
log "i386 ELF executes: $mode"

if [ "$mode" = native ]; then
    # The kernel runs i386 ELF itself (and no binfmt entry diverts it to qemu):
    # leave qemu/binfmt alone, only make sure the standard wine is there.
    if [ -x /usr/lib/wine/wine ]; then
        log "native i386 support and wine32 present: nothing to do"
    else
        ensure_i386_arch
        apt_install wine wine32:i386 wine64
    fi
    exit 0
fi

# 1. qemu-user first: i386 packages' maintainer scripts/triggers may run i386 binaries.
apt_install qemu-user

# 2. binfmt_misc: i386 ELF -> qemu-i386 (no flags; QEMU picks / as the guest root).
ensure_binfmt_mounted
if [ -e "$BINFMT/$ENTRY" ]; then
    if ! grep -qx "interpreter $QEMU" "$BINFMT/$ENTRY"; then
        log "replacing $ENTRY binfmt entry ($(grep interpreter "$BINFMT/$ENTRY"))"
        echo -1 >"$BINFMT/$ENTRY"
    elif ! grep -qx enabled "$BINFMT/$ENTRY"; then
        log "enabling $ENTRY binfmt entry"
        echo 1 >"$BINFMT/$ENTRY"
    fi
fi
if [ ! -e "$BINFMT/$ENTRY" ]; then
    log "registering $ENTRY binfmt entry"
    grep -qx enabled "$BINFMT/status" || echo 1 >"$BINFMT/status"
    printf '%s' ":$ENTRY:M::$MAGIC:$MASK:$QEMU:" >"$BINFMT/register"
fi
mode=$(probe_i386)
[ "$mode" = emulated ] || { log "i386 ELF still does not run (probe: $mode)"; exit 1; }

# 3. wine: 32-bit loader + its preloader (without wine-preloader, wine under qemu
#    fails with "failed to map the shared user data: c0000018"), and the 64-bit
#    half so wineserver, services.exe, winedevice.exe, explorer.exe run natively.
ensure_i386_arch
apt_install wine wine32:i386 wine32-preloader:i386 wine64 wine64-preloader

[ -x /usr/lib/wine/wine-preloader ] || { log "missing /usr/lib/wine/wine-preloader"; exit 1; }
[ -x /usr/lib/wine/wineserver64 ] || { log "missing /usr/lib/wine/wineserver64"; exit 1; }
/usr/lib/wine/wine --version >/dev/null || { log "/usr/lib/wine/wine --version failed"; exit 1; }
log "ready: $(/usr/lib/wine/wine --version) runs through $QEMU"

if [ $SELFTEST = 1 ]; then
    if [ -n "$SELFTEST_DIR" ]; then PFX=$SELFTEST_DIR; else PFX=$TMP/prefix; fi
    export WINEPREFIX=$PFX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    t0=$(date +%s.%N)
    timeout 300 wine wineboot -i >/dev/null 2>&1 || true
    t1=$(date +%s.%N)
    set +e
    out=$(timeout 120 wine 'C:\windows\syswow64\cmd.exe' /c "echo selftest-ok& exit 3" 2>/dev/null)
    rc=$?
    set -e
    t2=$(date +%s.%N)
    wineserver -k 2>/dev/null || true
    log "selftest: wineboot $(awk "BEGIN{printf \"%.1f\", $t1 - $t0}") s, run $(awk "BEGIN{printf \"%.2f\", $t2 - $t1}") s, rc=$rc, stdout=$(printf %q "$out")"
    case "$out" in selftest-ok*) ;; *) log "selftest FAILED (stdout)"; exit 1 ;; esac
    [ $rc = 3 ] || { log "selftest FAILED (exit code $rc, wanted 3)"; exit 1; }
    log "selftest passed"
fi
