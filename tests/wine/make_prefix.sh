#!/usr/bin/env bash
# Makes a booted 32-bit Wine prefix at DIR, for run_stack.sh to copy (a boot
# takes some 12 seconds, 30 to 40 through qemu-i386; a copy under one).  DIR
# must not exist yet.  On failure, timeout or interruption DIR is removed;
# every Wine process of the prefix is ended on the way out either way.
#
#   make_prefix.sh DIR [SECONDS]      (default 180)
#
# A failure is one line on stderr, with the first line Wine printed.
set -euo pipefail
me=$(basename "$0")
die() { echo "$me: error: $*" >&2; exit 2; }   # a bad argument
fail() { echo "$me: error: $*" >&2; exit 1; }  # Wine did not do it

(($# == 1 || $# == 2)) || die "usage: $me DIR [SECONDS]"
dir=$1 limit=${2:-180}
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
  rm -f "$WINEPREFIX.said"
}
trap finish EXIT
trap 'exit 143' TERM INT HUP

# In the background, so that a signal is handled at once.  What Wine says
# goes to a file beside the prefix, for the one line when it fails.
said=$WINEPREFIX.said
timeout "$limit" bash -c 'wineboot -i && wineserver -w' >"$said" 2>&1 &
child=$!
status=0
wait "$child" || status=$?
child=
first=$(grep -m 1 -v '^[[:space:]]*$' "$said" | tr -d '\r' || true)
rm -f "$said"
if ((status == 124)); then
  fail "$WINEPREFIX: wineboot -i took more than $limit s"
elif ((status != 0)); then
  fail "$WINEPREFIX: wineboot -i failed (exit status $status); Wine said: ${first:-nothing}"
fi
[[ -f $WINEPREFIX/system.reg ]] || fail "$WINEPREFIX: wineboot -i made no registry${first:+; Wine said: $first}"
done=true
