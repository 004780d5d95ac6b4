#!/usr/bin/env bash
# Runs the whole stack under Wine's kernel: the probe display driver loads
# zerval.sys with the example services driver (kelv.sys) and TV driver
# (rmx.sys), and reports each check.  Prints every check and
# "N passed, M failed"; exits non-zero when a check failed or no report came.
#
#   run_stack.sh LAYOUT WORKDIR PROBE ZERVAL KELV RMX VIDEOPRT
#
# LAYOUT: "drivers" puts every image in C:\windows\system32\drivers, "own"
# puts them all in the probe's own folder C:\zerval.  WORKDIR holds a private
# Wine prefix.  Every Wine process is gone when this returns.
set -euo pipefail

if (($# != 7)); then
  echo "usage: $0 drivers|own WORKDIR PROBE ZERVAL KELV RMX VIDEOPRT" >&2
  exit 2
fi
layout=$1 workdir=$2
shift 2
images=("$@")

"$(dirname "$0")/../../scripts/deps-wine.sh" >&2

export WINEPREFIX=$workdir/prefix-$layout
export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
cleanup() { wineserver -k 2>/dev/null || true; }
trap cleanup EXIT
trap 'exit 143' TERM INT  # so that a timeout still ends every Wine process

rm -rf "$WINEPREFIX"
mkdir -p "$workdir"
# The first boot must finish before a service is created, or it can vanish.
wineboot -i >/dev/null 2>&1
wineserver -w

case $layout in
  drivers) folder='C:\windows\system32\drivers' dir=$WINEPREFIX/drive_c/windows/system32/drivers ;;
  own) folder='C:\zerval' dir=$WINEPREFIX/drive_c/zerval ;;
  *) echo "error: layout must be drivers or own, not '$layout'" >&2; exit 2 ;;
esac
mkdir -p "$dir"
for image in "${images[@]}"; do
  cp "$image" "$dir/"
done
probe=$(basename "${images[0]}")
report=$WINEPREFIX/drive_c/zerval-probe.txt

# sc exits 0 even when it fails: the report file is the only verdict.  The
# kernel host inherits WINEDEBUG and stderr from the command that starts the
# service manager (the first after the boot), so loader errors land in log.
log=$workdir/wine-$layout.log
WINEDEBUG=-all,err+module wine sc create zprobe type= kernel start= demand binpath= "$folder\\$probe" >"$log" 2>&1
wine sc start zprobe >>"$log" 2>&1 || true
for _ in $(seq 1 50); do
  [[ -f $report ]] && grep -q 'passed, .* failed' "$report" && break
  sleep 0.2
done
cleanup

if [[ ! -f $report ]]; then
  echo "FAIL no report: the probe did not run; Wine's loader said:"
  { grep -iE 'err:|unimplemented' "$log" || echo '(nothing)'; } | sed 's/^/  /' | head -5
  echo "0 passed, 1 failed"
  exit 1
fi
tr -d '\r' <"$report"
if grep -q ' passed, 0 failed' "$report"; then
  rm -rf "$WINEPREFIX"  # some 600 MB; kept only when a check failed
else
  exit 1
fi
