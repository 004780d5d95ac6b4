#!/usr/bin/env bash
# Regenerates the manual's sample output (README.md, docs/) from the tool itself, so the samples
# cannot go stale.  A sample is a fenced block right after a marker line:
#
#   <!-- sample head=6 tail=2: ./run.sh list -->
#
# The block becomes "$ ./run.sh list" followed by what zerval-sim prints for
# those arguments (stdout), cut to its first 6 and last 2 lines around "..."
# when head/tail are given.  With "stderr" before head/tail
# (<!-- sample stderr: ./run.sh ... -->) the block is what it prints on
# stderr instead (a trace, an error line), whatever its exit status.
# A marker may name build/bin/zerval-wine instead
# of ./run.sh: then zerval-wine runs (its status may be 0 or 1, a difference
# or a failed run being what such a sample shows), with --base-prefix
# WINE_BASE added when WINE_BASE names a booted prefix.  Where this host
# cannot run Wine (share/zerval/wine/host_i386.sh beside zerval-wine says
# why, in one line, shown once), those samples are left as they stand.
#
#   scripts/readme-samples.sh            rewrite README.md and docs/*.md in place
#   scripts/readme-samples.sh --check    exit 1, showing the difference, when
#                                        a page is not what the tool prints
# SIM (default build/bin/zerval-sim) and WINE (default build/bin/zerval-wine)
# name the tools; they run from the source folder, as ./run.sh does.
set -Eeuo pipefail
# A command that fails where nothing else reports it still gets one line.
trap 'echo "readme-samples: error: stopped at line $LINENO by a command that failed (${page:-before any page})" >&2' ERR
cd "$(dirname "$0")/.."
sim=${SIM:-build/bin/zerval-sim}
wine=${WINE:-build/bin/zerval-wine}
check=false
[[ ${1:-} == --check ]] && check=true
if [[ ! -x $sim ]]; then
  echo "readme-samples: error: $sim: no such program; build first (scripts/build.sh)" >&2
  exit 1
fi

generated=$(mktemp)
trap 'rm -f "$generated"' EXIT
status=0
marker='^<!-- sample( stderr)?( head=([0-9]+) tail=([0-9]+))?: (\./run\.sh|build/bin/zerval-wine) ?(.*) -->$'
# Whether zerval-wine's samples can run here: asked once, said once.
wine_able=
wine_runs() {
  if [[ -z $wine_able ]]; then
    local why
    if why=$("$(dirname "$wine")/../share/zerval/wine/host_i386.sh" --wine); then
      wine_able=yes
    else
      wine_able=no
      echo "readme-samples: the zerval-wine samples are left as they stand: $why" >&2
    fi
  fi
  [[ $wine_able == yes ]]
}

render() {
  in_block=false keep_block=false
  while IFS= read -r line || [[ -n $line ]]; do
    if $in_block; then
      $keep_block && [[ $line != '```' ]] && echo "$line"
      [[ $line == '```' ]] && in_block=false && echo '```'
      continue
    fi
    echo "$line"
    if [[ $line =~ $marker ]]; then
      stderr=${BASH_REMATCH[1]} head=${BASH_REMATCH[3]} tail=${BASH_REMATCH[4]} command=${BASH_REMATCH[5]}
      args=${BASH_REMATCH[6]}
      IFS= read -r fence
      if [[ $fence != '```' ]]; then
        echo "readme-samples: error: $page: no fenced block after: $line" >&2
        exit 1
      fi
      echo '```'
      if [[ $command != ./run.sh ]] && ! wine_runs; then
        in_block=true keep_block=true
        continue
      fi
      keep_block=false
      echo "\$ $command${args:+ $args}"
      ran=0
      if [[ $command == ./run.sh && -n $stderr ]]; then
        # shellcheck disable=SC2086 # the arguments are words, as on a command line
        out=$("$sim" $args 2>&1 >/dev/null) || true
      elif [[ $command == ./run.sh ]]; then
        # shellcheck disable=SC2086
        out=$("$sim" $args) || ran=$?
      else
        # shellcheck disable=SC2086
        out=$("$wine" $args ${WINE_BASE:+--base-prefix "$WINE_BASE"}) || { ran=$?; ((ran == 1)) && ran=0; }
      fi
      ((ran == 0)) || { echo "readme-samples: error: $command $args failed" >&2; exit 1; }
      count=$(printf '%s\n' "$out" | wc -l)
      if [[ -n $head ]] && ((count > head + tail)); then
        printf '%s\n' "$out" | sed -n "1,${head}p"
        echo '...'
        printf '%s\n' "$out" | tail -n "$tail"
      else
        printf '%s\n' "$out"
      fi
      in_block=true
    fi
  done < "$page" > "$generated"
}

# Each page of the manual: the front page and docs/.
for page in README.md docs/*.md; do
  render
  if $check; then
    if ! diff -u "$page" "$generated" >&2; then
      echo "readme-samples: $page's samples are not what the tool prints; run scripts/readme-samples.sh" >&2
      status=1
    fi
  else
    cp "$generated" "$page"
  fi
done
exit "$status"
