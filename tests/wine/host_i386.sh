#!/usr/bin/env bash
# Whether this host can run i386 user code (Wine's 32-bit build is such
# code), and how: natively, through qemu-i386 10 or later registered with
# binfmt_misc, or not at all.  Says so in one line on stdout.
#
#   host_i386.sh [--wine] [-- COMMAND [ARG...]]
#   host_i386.sh --binfmt-entry
#
# --wine: also that Wine itself starts (`wine --version`).  With a COMMAND:
# runs it when the answer is yes; otherwise prints the line and exits 77,
# which the tests take as "skipped".  --binfmt-entry: only the name and
# interpreter of the enabled binfmt_misc entry that takes i386 programs, or
# exit status 1 when there is none.
#
# Exit status 0: yes.  1: no.  2: a bad argument.  77: no, with a COMMAND.
#
# ZERVAL_NO_WINE set to anything but empty answers no: the Wine route is
# turned off.  BINFMT_MISC names the binfmt_misc folder to read (default
# /proc/sys/fs/binfmt_misc).
set -uo pipefail
me=$(basename "$0")
die() { echo "$me: error: $*" >&2; exit 2; }

wine=false entry_only=false
while (($#)); do
  case $1 in
    --wine) wine=true; shift ;;
    --binfmt-entry) entry_only=true; shift ;;
    --) shift; (($#)) || die "--: needs a command"; break ;;
    *) die "unknown argument '$1' (usage: $me [--wine] [-- COMMAND [ARG...]] or $me --binfmt-entry)" ;;
  esac
done
binfmt=${BINFMT_MISC:-/proc/sys/fs/binfmt_misc}
oldest=10  # qemu-i386 before 10 takes minutes of CPU per Wine process, and crashes

command=("$@")
# The answer: the line, then with a command run it or skip.
answer() {
  local able=$1 line=$2
  if [[ $able == yes ]]; then
    ((${#command[@]})) || { echo "$line"; exit 0; }
    exec "${command[@]}"
  fi
  if ((${#command[@]})); then
    echo "skipped: $line"
    exit 77
  fi
  echo "$line"
  exit 1
}

# The smallest i386 program: exit(42) through int 0x80, loaded at
# 0x08048000 (ELF header, one program header, 12 bytes of code).
probe_bytes='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
probe_bytes+='\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'
probe_bytes+='\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'
probe_bytes+='\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
probe_bytes+='\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
probe_bytes+='\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80'

# The hex of the probe's first bytes, for matching binfmt_misc entries.
probe_hex=$(printf '%b' "$probe_bytes" | od -An -v -tx1 | tr -d ' \n')

# Whether an entry's magic (with its mask, at its offset) matches the probe.
matches_i386() {
  local entry=$1 offset=0 magic='' mask='' line
  while IFS= read -r line; do
    case $line in
      offset\ *) offset=${line#offset } ;;
      magic\ *) magic=${line#magic } ;;
      mask\ *) mask=${line#mask } ;;
    esac
  done <"$entry"
  [[ -n $magic ]] || return 1  # an entry by file name extension
  local i m k p
  for ((i = 0; i < ${#magic}; i += 2)); do
    m=$((16#${magic:i:2}))
    k=255
    [[ -z $mask ]] || k=$((16#${mask:i:2}))
    p=${probe_hex:offset * 2 + i:2}
    [[ -n $p ]] || return 1
    (((m & k) == (16#$p & k))) || return 1
  done
}

# The enabled binfmt_misc entry that takes i386 programs, if any: name, then
# its interpreter.
i386_entry() {
  [[ -r $binfmt/status && $(<"$binfmt/status") == enabled ]] || return 1
  local e
  for e in "$binfmt"/*; do
    [[ $(basename "$e") != register && $(basename "$e") != status && -r $e ]] || continue
    [[ $(head -n 1 "$e") == enabled ]] || continue
    matches_i386 "$e" || continue
    echo "$(basename "$e") $(sed -n 's/^interpreter //p' "$e")"
    return 0
  done
  return 1
}

if $entry_only; then
  i386_entry
  exit
fi

[[ -z ${ZERVAL_NO_WINE:-} ]] || answer no "the Wine route is turned off here (ZERVAL_NO_WINE is set)"

route='natively'
if entry=$(i386_entry); then
  name=${entry%% *} interpreter=${entry#* }
  version=$(timeout 10 "$interpreter" --version 2>/dev/null | sed -n '1s/^qemu-i386[^ ]* version \([0-9][0-9.]*\).*/\1/p')
  if [[ -z $version ]]; then
    answer no "i386 programs go to $interpreter (binfmt_misc entry $name), which is not qemu-i386 $oldest or later"
  elif ((${version%%.*} < oldest)); then
    answer no "i386 programs go to qemu-i386 $version (binfmt_misc entry $name), older than $oldest: too slow for Wine"
  fi
  route="through qemu-i386 $version (binfmt_misc entry $name)"
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/host-i386.XXXXXX") || answer no "no scratch folder for the probe in ${TMPDIR:-/tmp}"
printf '%b' "$probe_bytes" >"$scratch/probe" && chmod +x "$scratch/probe"
said=$("$scratch/probe" 2>&1)
status=$?
rm -rf "$scratch"
if ((status != 42)); then
  said=${said##*: }  # the shell's "FILE: line N: FILE: Exec format error" to its cause
  if [[ $route == natively ]]; then
    how="and binfmt_misc has no i386 entry"
    [[ -r $binfmt/status ]] || how="and binfmt_misc is not mounted"
    answer no "this host runs no i386 user code: the kernel refuses it (${said:-exit status $status}) $how"
  fi
  answer no "this host runs no i386 user code: ${route#through } failed (${said:-exit status $status})"
fi

if $wine; then
  if ! command -v wine >/dev/null; then
    answer no "i386 user code runs $route, but Wine is not installed"
  fi
  said=$(timeout 60 wine --version 2>&1)
  status=$?
  if ((status != 0)); then
    answer no "i386 user code runs $route, but Wine does not start: $(head -n 1 <<<"${said:-exit status $status}")"
  fi
  answer yes "Wine ($said) runs $route"
fi
answer yes "i386 user code runs $route"
