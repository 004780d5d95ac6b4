#!/usr/bin/env bash
# Makes a booted 32-bit Wine prefix at DIR, for run_stack.sh to copy (a boot
# takes some 12 seconds, a copy under one).  DIR must not exist yet.  On
# failure, timeout or interruption DIR is removed; every Wine process of the
# prefix is ended on the way out either way.
#
#   make_prefix.sh DIR [SECONDS]      (default 120)
set -euo pipefail
me=$(basename "$0")
die() { echo "$me: error: $*" >&2; exit 2; }   # a bad argument
fail() { echo "$me: error: $*" >&2; exit 1; }  # Wine did not do it

(($# == 1 || $# == 2)) || die "usage: $me DIR [SECONDS]"
dir=$1 limit=${2:-120}
[[ $limit =~ ^[1-9][0-9]*$ ]] || die "SECONDS: '$limit' is not a whole number of seconds"
[[ ! -e $dir ]] || die "$dir: already there; name a folder that does not exist"
if ! command -v wine >/dev/null || ! command -v wineserver >/dev/null; then
  fail "Wine is not installed (wine and wine32:i386; scripts/deps-wine.sh in the source tree installs them)"
fi

# shellcheck source=tests/wine/wine_session.sh
source "$(dirname "$(readlink -f "$0")")/wine_session.sh"
wine_session "$dir"

done=false
child=
# shellcheck disable=SC2317 # run by the trap
finish() {
  [[ -n $child ]] && kill -TERM "$child" 2>/dev/null
  wine_session_end
  $done || rm -rf "$WINEPREFIX"
}
trap finish EXIT
trap 'exit 143' TERM INT HUP

# In the background, so that a signal is handled at once.
timeout "$limit" bash -c 'wineboot -i && wineserver -w' >/dev/null 2>&1 &
child=$!
if ! wait "$child"; then
  child=
  fail "$WINEPREFIX: wineboot -i failed or took more than $limit s"
fi
child=
[[ -f $WINEPREFIX/system.reg ]] || fail "$WINEPREFIX: wineboot -i made no registry"
done=true
