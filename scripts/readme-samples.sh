#!/usr/bin/env bash
# Regenerates the manual's sample output (README.md, README-kit.md, docs/)
# from the tools themselves, so the samples cannot go stale.  A sample is a
# fenced block right after a marker line:
#
#   <!-- sample head=6 tail=2: ./run.sh list -->
#
# The block becomes "$ ./run.sh list" followed by what zerval-sim prints for
# those arguments (stdout), cut to its first 6 and last 2 lines around "..."
# when head/tail are given.  With "stderr" before head/tail
# (<!-- sample stderr: ./run.sh ... -->) the block is what it prints on
# stderr instead (a trace, an error line), whatever its exit status.
# ./run.sh samples run the build's zerval-sim from the source folder, as
# ./run.sh does.
#
# A marker may name DIR/bin/zerval-sim or DIR/bin/zerval-wine instead: the
# kit's pages speak of the installed kit.  The build is then installed
# (cmake --install) into a folder literally named DIR in a scratch folder of
# this run's own (mktemp, removed on the way out), beside out/, a team's
# build folder: here the build's images with one mistake each
# (test-neighbours/*.sys) and the Wine tests' services drivers
# (wine-drivers/NAME/kelv.sys as out/NAME/kelv.sys).  The command runs with
# the scratch folder as its working folder, so that what it prints names
# DIR/... and out/...  zerval-wine's status may be 0 or 1 (a difference or
# a failed run being what such a sample shows); --base-prefix WINE_BASE is
# added when WINE_BASE names a booted prefix, and its TMPDIR is the scratch
# folder's (Wine leaves an empty wine-XXXXXX folder in TMPDIR).  Where this host cannot run
# Wine (share/zerval/wine/host_i386.sh says why, in one line, shown once),
# the zerval-wine samples are left as they stand.
#
#   scripts/readme-samples.sh            rewrite the pages in place
#   scripts/readme-samples.sh --check    exit 1, showing the difference, when
#                                        a page is not what the tools print
# SIM (default build/bin/zerval-sim) names the build's zerval-sim; the build
# installed for the kit's samples is the one it lies in.  The ./run.sh
# samples speak of that build folder as build/, the source tree's: in any
# other build folder, a build/ path among a sample's arguments names the
# build folder SIM lies in, and that folder is shown as build/ in what the
# tool prints.
set -Eeuo pipefail
# A command that fails where nothing else reports it still gets one line.
trap 'echo "readme-samples: error: stopped at line $LINENO by a command that failed (${page:-before any page})" >&2' ERR
cd "$(dirname "$0")/.."
sim=${SIM:-build/bin/zerval-sim}
check=false
[[ ${1:-} == --check ]] && check=true
if [[ ! -x $sim ]]; then
  echo "readme-samples: error: $sim: no such program; build first (scripts/build.sh)" >&2
  exit 1
fi
build=$(cd "$(dirname "$sim")/.." && pwd -P)
source_root=$(pwd -P)
build_from_root=$(realpath --relative-to="$source_root" "$build")

generated=$(mktemp)
scratch=''
trap 'rm -f "$generated"; [[ -z $scratch ]] || rm -rf "$scratch"' EXIT
status=0
marker='^<!-- sample( stderr)?( head=([0-9]+) tail=([0-9]+))?: (\./run\.sh|DIR/bin/zerval-sim|DIR/bin/zerval-wine) ?(.*) -->$'

# The installed kit and the team's images, made once, for the first marker
# that names DIR/.
kit_ready() {
  [[ -z $scratch ]] || return 0
  scratch=$(realpath "$(mktemp -d)")
  if ! cmake --install "$build" --prefix "$scratch/DIR" >"$scratch/install.log" 2>&1; then
    echo "readme-samples: error: cmake --install $build failed: $(grep -m1 -i error "$scratch/install.log")" >&2
    exit 1
  fi
  mkdir "$scratch/out" "$scratch/tmp"
  cp "$build"/test-neighbours/*.sys "$scratch/out/"
  local driver
  for driver in "$build"/wine-drivers/*/kelv.sys; do
    mkdir -p "$scratch/out/$(basename "$(dirname "$driver")")"
    cp "$driver" "$scratch/out/$(basename "$(dirname "$driver")")/"
  done
}

# Whether zerval-wine's samples can run here: asked once, said once.
wine_able=
wine_runs() {
  if [[ -z $wine_able ]]; then
    local why
    if why=$("$scratch/DIR/share/zerval/wine/host_i386.sh" --wine); then
      wine_able=yes
    else
      wine_able=no
      echo "readme-samples: the zerval-wine samples are left as they stand: $why" >&2
    fi
  fi
  [[ $wine_able == yes ]]
}

# The words of a ./run.sh sample's arguments, each build/ path made one in
# the build folder, in the array $words.
in_build() {
  local word
  words=()
  # shellcheck disable=SC2086 # the arguments are words, as on a command line
  for word in $1; do
    [[ $word == build/* ]] && word=$build/${word#build/}
    words+=("$word")
  done
}

# What the tool printed, with the build folder shown as build/: by its full
# path, and by its path from the source tree when it lies there.
as_build() {
  out=${out//"$build/"/build/}
  [[ $build_from_root == ..* ]] || out=${out//"$build_from_root/"/build/}
}

# run COMMAND ARGS: what the sample shows, in $out; its status in $ran.
run() {
  local command=$1 args=$2
  ran=0
  # shellcheck disable=SC2086 # the arguments are words, as on a command line
  case $command in
    ./run.sh)
      in_build "$args"
      if [[ -n $stderr ]]; then out=$("$sim" "${words[@]}" 2>&1 >/dev/null) || true
      else out=$("$sim" "${words[@]}") || ran=$?; fi
      as_build ;;
    DIR/bin/zerval-sim)
      if [[ -n $stderr ]]; then out=$(cd "$scratch" && $command $args 2>&1 >/dev/null) || true
      else out=$(cd "$scratch" && $command $args) || ran=$?; fi ;;
    DIR/bin/zerval-wine)
      out=$(cd "$scratch" && TMPDIR=$scratch/tmp $command $args ${WINE_BASE:+--base-prefix "$WINE_BASE"}) ||
        { ran=$?; ((ran == 1)) && ran=0; } ;;
  esac
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
      [[ $command == ./run.sh ]] || kit_ready
      if [[ $command == DIR/bin/zerval-wine ]] && ! wine_runs; then
        in_block=true keep_block=true
        continue
      fi
      keep_block=false
      echo "\$ $command${args:+ $args}"
      run "$command" "$args"
      ((ran == 0)) || { echo "readme-samples: error: $page: $command $args failed" >&2; exit 1; }
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

# Each page of the manual: the source tree's front page, the kit's, and docs/.
for page in README.md README-kit.md docs/*.md; do
  render
  if $check; then
    if ! diff -u "$page" "$generated" >&2; then
      echo "readme-samples: $page's samples are not what the tools print; run scripts/readme-samples.sh" >&2
      status=1
    fi
  else
    cp "$generated" "$page"
  fi
done
exit "$status"
