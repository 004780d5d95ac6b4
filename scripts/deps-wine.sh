#!/usr/bin/env bash
# Installs Wine (the 32-bit build, whose kernel-side host loads i386 drivers)
# when it is missing, and makes it run: where this host's kernel runs no
# i386 user code, through qemu-i386 10 or later registered with binfmt_misc.
# ./test.sh runs it before the tests, the Wine route among them (tests/wine/).
#
#   scripts/deps-wine.sh [--qemu]
#
# --qemu: set up qemu-i386 even where the host runs i386 code itself (to try
# the route a host without it takes; qemu then runs every i386 program).
#
# As root, on a host without i386 support, it changes the machine thus:
#   - /etc/apt/sources.list.d/zerval-qemu-backports.sources: bookworm-backports
#     (on bookworm, whose own qemu 7.2 is too slow for Wine), and
#     /etc/apt/preferences.d/zerval-qemu-backports, which lets only qemu-user
#     come from there;
#   - the package qemu-user (its static qemu-i386);
#   - binfmt_misc mounted at /proc/sys/fs/binfmt_misc when it is not;
#   - a binfmt_misc entry qemu-i386 for i386 ELF programs, flag F, unless an
#     entry for them is there already (until the next boot).
# ZERVAL_NO_QEMU=1 leaves all of that alone; ZERVAL_NO_WINE=1 installs
# nothing at all and turns the Wine route off.
#
# Exit status 0 whenever the rest of the suite can run: where Wine cannot
# (not root, no binfmt_misc, no qemu-user 10 to be had), one line says why,
# and the Wine tests are skipped.  Otherwise apt's own status when it fails,
# or 2 for a bad argument.
set -euo pipefail
me=deps-wine
here=$(cd "$(dirname "$0")" && pwd)
check=$here/../tests/wine/host_i386.sh

qemu_anyway=false
case ${1:-} in
  '') ;;
  --qemu) qemu_anyway=true ;;
  *) echo "$me: error: unknown argument '$1' (usage: scripts/deps-wine.sh [--qemu])" >&2; exit 2 ;;
esac
# The last word, then done: the rest of the suite runs either way.
skipped() { echo "$me: $* (the Wine tests will be skipped)"; exit 0; }

if [[ -n ${ZERVAL_NO_WINE:-} ]]; then
  echo "$me: ZERVAL_NO_WINE is set: nothing installed, the Wine route is off (the Wine tests will be skipped)"
  exit 0
fi

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
export DEBIAN_FRONTEND=noninteractive

missing=()
for p in wine wine32:i386; do
  installed "$p" || missing+=("$p")
done
if ((${#missing[@]})); then
  [[ $(id -u) -eq 0 ]] || skipped "Wine is missing and this is not root (as root: dpkg --add-architecture i386 && apt-get update && apt-get install wine wine32:i386)"
  echo "installing: ${missing[*]}"
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

why='--qemu asked for qemu-i386'
if ! $qemu_anyway && why=$("$check" --wine); then
  echo "$me: $why"
  exit 0
fi
[[ -z ${ZERVAL_NO_QEMU:-} ]] || skipped "$why; ZERVAL_NO_QEMU is set, so qemu-i386 is not set up"
[[ $(id -u) -eq 0 ]] || skipped "$why; setting up qemu-i386 takes root"

# qemu-user 10 or later: bookworm's own is 7.2, its backports' 10.
qemu_major() { qemu-i386 --version 2>/dev/null | sed -n '1s/^qemu-i386 version \([0-9]*\).*/\1/p'; }
if (($(qemu_major || true) + 0 < 10)); then
  if [[ $(. /etc/os-release && echo "${VERSION_CODENAME:-}") == bookworm ]]; then
    cat >/etc/apt/sources.list.d/zerval-qemu-backports.sources <<'EOF'
# Written by zerval's scripts/deps-wine.sh: qemu-user 10 for Wine on hosts
# that run no i386 code; zerval-qemu-backports in preferences.d lets nothing
# else come from here.
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    cat >/etc/apt/preferences.d/zerval-qemu-backports <<'EOF'
# Written by zerval's scripts/deps-wine.sh: of bookworm-backports, qemu-user only.
Package: *
Pin: release n=bookworm-backports
Pin-Priority: -1

Package: qemu-user
Pin: release n=bookworm-backports
Pin-Priority: 500
EOF
  fi
  echo "installing: qemu-user (10 or later)"
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends qemu-user
  (($(qemu_major || true) + 0 >= 10)) || skipped "qemu-user $(qemu_major || echo '(none)') is what Debian offers here; Wine needs 10 or later"
fi

binfmt=/proc/sys/fs/binfmt_misc
if [[ ! -e $binfmt/register ]]; then
  mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || skipped "binfmt_misc cannot be mounted at $binfmt here"
fi
if ! "$check" --binfmt-entry >/dev/null; then
  # qemu's own pattern for i386 ELF programs (executables and shared
  # objects); F: the interpreter is opened now, so it works in any root.
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  printf '%s' ":qemu-i386:M::$magic:$mask:$(command -v qemu-i386):F" >"$binfmt/register" 2>/dev/null ||
    skipped "the binfmt_misc entry for qemu-i386 could not be registered"
fi

said=$("$check" --wine) || skipped "$said"
echo "$me: $said"
