# Sourced by the end-to-end scripts: the program under test, a scratch
# folder to work in (removed on exit), the failure count, the outside tools
# and the runs under wine.
set -uo pipefail
bin=${TAVIK_BIN_DIR:?}
tavik=$bin/tavik
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }

# have TOOL: true when the program TOOL (or pefile, the python module) is
# there. CI installs every tool, so there a missing one is a failure; run by
# hand, the checks that need it are left out and the script ends as skipped.
missing=""
have() {
  case $1 in
    pefile) /usr/bin/python3 -c 'import pefile' 2>/dev/null && return 0 ;;
    *) command -v "$1" >/dev/null && return 0 ;;
  esac
  case " $missing " in *" $1 "*) return 1 ;; esac
  missing="$missing $1"
  case ${CI:-} in
    '' | false | 0) echo "$1 is not installed: the checks that need it are skipped" ;;
    *) fail "$1 is not installed, and CI installs it" ;;
  esac
  return 1
}

# need TOOL: have TOOL, or the end of the script.
need() { have "$1" || passed; }

# passed [TEXT]: the end of a script; exit 1 after any failure, 77 (skipped)
# when a tool was missing, else TEXT.
passed() {
  [ "$fails" = 0 ] || { echo "$fails failure(s)"; exit 1; }
  [ -z "$missing" ] || { echo "skipped without:$missing"; exit 77; }
  echo "${1:-}"
}

# build NAME [EXT]: NAME.tav to NAME.EXT (exe by default), tavik's output in
# NAME.log; a failed build, or one that leaves no output, is a failure.
build() {
  "$tavik" "$1.tav" -nopause </dev/null >"$1.log" 2>&1
  local rc=$?
  [ $rc = 0 ] && [ -s "$1.${2:-exe}" ] || { fail "$1: tavik exit code $rc"; cat "$1.log"; return 1; }
}

# refused NAME LINE [EXT]: NAME.tav fails with exit code 1, prints LINE
# and writes no NAME.EXT (img by default).
refused() {
  "$tavik" "$1.tav" -nopause </dev/null >"$1.log" 2>&1
  local rc=$?
  [ "$rc" = 1 ] || fail "$1: exit code $rc, expected 1"
  grep -qxF "$2" "$1.log" || { fail "$1: no line '$2'"; cat "$1.log"; }
  [ -e "$1.${3:-img}" ] && fail "$1: an image was written"
}

# use_wine: false without wine (see have). Otherwise the shared prefix (made
# once, under a lock), wine's own messages off, and a server that stays a
# while between the runs: one that is shutting down as the next program
# starts takes that program with it.
use_wine() {
  have wine || return 1
  export WINEPREFIX=${WINEPREFIX:-${TAVIK_BUILD_DIR:-$work}/wineprefix}
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$(dirname "$WINEPREFIX")"
  flock "$WINEPREFIX.lock" sh -c "test -d '$WINEPREFIX' || timeout 300 wineboot -i </dev/null >/dev/null 2>&1"
  wineserver -p30 </dev/null >/dev/null 2>&1 || true
}

# runexe NAME [DEBUG]: runs NAME.exe (after use_wine) with wine's DEBUG
# channels (none by default); its output in NAME.out, its errors in
# NAME.err, its exit code in $rc. Wine's helper processes inherit the
# output, so it goes to files. A run killed from outside (137: the shared
# server going away; a program of ours never ends that way) is repeated,
# up to 3 times.
runexe() {
  local try
  for try in 1 2 3; do
    WINEDEBUG=${2:--all} timeout 120 wine "$1.exe" </dev/null >"$1.out" 2>"$1.err"
    rc=$?
    [ "$rc" = 137 ] || break
    echo "wine was killed from outside; running $1 again"
    wineserver -p30 </dev/null >/dev/null 2>&1 || true
  done
}

# pecheck IMAGE: python checks from stdin, with the image as `pe` and its
# bytes as `data`; left out without pefile (see have).
pecheck() {
  have pefile || return 0
  { printf 'import sys, pefile\ndata = open(sys.argv[1], "rb").read()\npe = pefile.PE(sys.argv[1])\n'; cat; } >"$1.py"
  /usr/bin/python3 "$1.py" "$1" >"$1.pe" 2>&1 || { cat "$1.pe"; fail "$1: pefile checks"; }
}
