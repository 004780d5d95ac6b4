#!/usr/bin/env bash
# Runs the whole stack under Wine's kernel: the probe display driver
# (zprobe.sys) is started as a kernel service and loads zerval.sys, the
# services driver (kelv.sys), the TV driver (rmx.sys) and the videoprt.sys
# stand-in; its DriverEntry reports what the stack did, line by line.
#
#   run_stack.sh [--base PREFIX] [--timeout SECONDS] LAYOUT WORKDIR PROBE ZERVAL KELV RMX VIDEOPRT
#
# LAYOUT: "drivers" puts every image in C:\windows\system32\drivers, "own"
# puts them all in the probe's own folder C:\zerval.  The run's Wine prefix
# is WORKDIR/prefix-LAYOUT: a copy of PREFIX (made by make_prefix.sh), or
# booted afresh without --base.  The prefix is removed and every Wine process
# of it ended on the way out, whatever happens (a failure, a timeout, a
# signal).
#
# Prints the probe's report (stdout), as far as it got.  Exit status 0: the
# report is complete.  1: it is not; one line on stderr says why, with what
# Wine said (its loader's or its crash handler's first line).  2: a bad
# argument.  SECONDS (default 60) bounds the probe's run (Wine's service
# manager itself gives up waiting for a driver's start after some 12 s, and
# the report then stops where the driver hangs).
set -euo pipefail
me=$(basename "$0")
here=$(cd "$(dirname "$(readlink -f "$0")")" && pwd)
die() { echo "$me: error: $*" >&2; exit 2; }

base='' limit=60
while (($#)) && [[ $1 == --* ]]; do
  case $1 in
    --base) (($# >= 2)) || die "--base: needs a prefix"; base=$2; shift 2 ;;
    --timeout) (($# >= 2)) || die "--timeout: needs a number of seconds"; limit=$2; shift 2 ;;
    *) die "unknown option '$1'" ;;
  esac
done
(($# == 7)) || die "usage: $me [--base PREFIX] [--timeout SECONDS] drivers|own WORKDIR PROBE ZERVAL KELV RMX VIDEOPRT"
layout=$1 workdir=$2
shift 2
images=("$@")
[[ $limit =~ ^[1-9][0-9]*$ ]] || die "--timeout: '$limit' is not a whole number of seconds"
case $layout in
  drivers) folder='C:\windows\system32\drivers' inside=windows/system32/drivers ;;
  own) folder='C:\zerval' inside=zerval ;;
  *) die "LAYOUT: '$layout' is neither drivers nor own" ;;
esac
names=(PROBE ZERVAL KELV RMX VIDEOPRT)
for i in "${!images[@]}"; do
  [[ -f ${images[i]} ]] || die "${names[i]} ${images[i]}: no such file"
done
[[ -z $base || -f $base/system.reg ]] || die "--base $base: not a booted Wine prefix (no system.reg)"
if ! command -v wine >/dev/null || ! command -v wineserver >/dev/null; then
  echo "$me: error: Wine is not installed (wine and wine32:i386; scripts/deps-wine.sh in the source tree installs them)" >&2
  exit 1
fi

# shellcheck source=tests/wine/wine_session.sh
source "$here/wine_session.sh"
wine_session "$workdir/prefix-$layout"
log=$WINEPREFIX.log
report=$WINEPREFIX/drive_c/zerval-probe.txt

child=
# shellcheck disable=SC2317 # run by the trap
finish() {
  [[ -n $child ]] && kill -TERM "$child" 2>/dev/null
  wine_session_end
  rm -rf "$WINEPREFIX" "$log"
}
trap finish EXIT
trap 'exit 143' TERM INT HUP
# Runs a command in the background (so that a signal is handled at once),
# bounded; its status.
bounded() {
  local seconds=$1
  shift
  timeout "$seconds" "$@" &
  child=$!
  local status=0
  wait "$child" || status=$?
  child=
  return "$status"
}

rm -rf "$WINEPREFIX"
if [[ -n $base ]]; then
  cp -a "$base" "$WINEPREFIX"
else
  bounded 200 "$here/make_prefix.sh" "$WINEPREFIX" 180 || exit 1
fi
mkdir -p "$WINEPREFIX/drive_c/$inside"
cp "${images[@]}" "$WINEPREFIX/drive_c/$inside/"
probe=$(basename "${images[0]}")

# sc exits 0 even when it fails: the report is the verdict.  The kernel host
# inherits WINEDEBUG and stderr from the command that starts the service
# manager (the first in this prefix), so loader errors land in the log.
: >"$log"
WINEDEBUG=-all,err+module bounded 120 wine sc create zprobe type= kernel start= demand binpath= "$folder\\$probe" >>"$log" 2>&1 || true
started=0
bounded "$limit" wine sc start zprobe >>"$log" 2>&1 || started=$?
# A crash handler may still be writing.
for _ in 1 2 3 4 5 6 7 8 9 10; do
  ((started != 124)) || break
  [[ -f $report ]] && [[ $(tail -n 1 "$report") == "end of report" ]] && break
  grep -qE '^(wine: |err:)' "$log" && break
  sleep 0.2
done

[[ -f $report ]] && tr -d '\r' <"$report"
[[ -f $report ]] && [[ $(tail -n 1 "$report") == "end of report" ]] && exit 0
# Wine's loader or crash handler, else the first thing Wine printed at all
# (the kernel's "Exec format error", say).
said=$(grep -m 1 -E '^(wine: |err:)' "$log" || grep -m 1 -v '^[[:space:]]*$' "$log" || true)
said=$(tr -d '\r' <<<"$said")
if ((started == 124)); then
  why="no complete report within $limit s"
elif [[ -f $report ]]; then
  last=$(tail -n 1 "$report" | tr -d '\r')
  ((${#last} <= 120)) || last="${last:0:117}..."
  why="the report stops in line $(awk 'END { print NR }' "$report") ('$last')"
else
  why="no report"
fi
echo "$me: $layout: $why; Wine said: ${said:-nothing}" >&2
exit 1
