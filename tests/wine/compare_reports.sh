#!/usr/bin/env bash
# Compares two probe reports, Wine's and the emulator's, and says in one line
# whether they are the same or where they first differ: the line number, the
# line's label and, within the line, the first item that differs (a report
# line is "label: item; item; ..."), Wine's then the emulator's.
#
#   compare_reports.sh WINE_REPORT EMULATOR_REPORT
#
# Exit status 0: the same; 1: they differ; 2: a bad argument.
set -euo pipefail
me=$(basename "$0")
(($# == 2)) || { echo "$me: error: usage: $me WINE_REPORT EMULATOR_REPORT" >&2; exit 2; }
for f in "$1" "$2"; do
  [[ -f $f ]] || { echo "$me: error: $f: no such file" >&2; exit 2; }
done
mapfile -t wine < <(tr -d '\r' <"$1")
mapfile -t emulator < <(tr -d '\r' <"$2")

# Quoted for the one line: at most 120 characters.
quote() {
  local s=$1
  ((${#s} <= 120)) || s="${s:0:117}..."
  printf "'%s'" "$s"
}

# The items of a line after its label, into the array named $2.
items() {
  local -n out=$2
  local rest=${1#*: }
  out=()
  while [[ $rest == *'; '* ]]; do
    out+=("${rest%%; *}")
    rest=${rest#*; }
  done
  out+=("$rest")
}

wi=() ei=()
nw=${#wine[@]} ne=${#emulator[@]}
for ((i = 0; i < nw && i < ne; ++i)); do
  w=${wine[i]} e=${emulator[i]}
  [[ $w == "$e" ]] && continue
  label=${w%%: *}
  if [[ $label == "$w" || $label != "${e%%: *}" ]]; then
    echo "line $((i + 1)): Wine $(quote "$w"), emulator $(quote "$e")"
    exit 1
  fi
  # The first item that differs, named with the line's first item when it is
  # another one (the mode of a record line).
  items "$w" wi
  items "$e" ei
  for ((k = 0; k < ${#wi[@]} && k < ${#ei[@]}; ++k)); do
    [[ ${wi[k]} == "${ei[k]}" ]] || break
  done
  where=$label
  ((k > 0)) && where="$label: ${wi[0]}"
  echo "line $((i + 1)) ($where): Wine $(quote "${wi[k]-(nothing)}"), emulator $(quote "${ei[k]-(nothing)}")"
  exit 1
done
if ((nw < ne)); then
  echo "line $((nw + 1)): Wine's report ends at line $nw, the emulator's goes on with $(quote "${emulator[nw]}")"
  exit 1
elif ((ne < nw)); then
  echo "line $((ne + 1)): the emulator's report ends at line $ne, Wine's goes on with $(quote "${wine[ne]}")"
  exit 1
fi
echo "the same, $nw lines"
