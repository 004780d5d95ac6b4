#!/usr/bin/env bash
# The kit as a services-driver team gets it: `cmake --install` of the build
# into a scratch prefix, a services driver of the team's own
# (team_services/, its own flags) built from that prefix alone with each of
# the kit's toolchain files, then run through the kit's own zerval-sim, and
# under Wine against the emulator with the kit's zerval-wine.  Prints one
# line per check (a check that cannot run here: "skipped ...", with why) and
# "N passed, M failed".
#
#   kit_test.sh BUILD_DIR WORK_DIR [WINE_PREFIX]
#
# WINE_PREFIX: a booted Wine prefix for zerval-wine to copy (else it boots
# one).
set -uo pipefail
if (($# < 2 || $# > 3)); then
  echo "usage: $0 BUILD_DIR WORK_DIR [WINE_PREFIX]" >&2
  exit 2
fi
build=$1 work=$2 wine_base=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
kit=$work/kit
passed=0 failed=0
ok() { echo "ok $1"; passed=$((passed + 1)); }
fail() { echo "FAIL $1"; failed=$((failed + 1)); }
check() { if eval "$2"; then ok "$1"; else fail "$1"; fi; }

rm -rf "$work"
mkdir -p "$work"
# Nothing may come from the build tree: no variable naming its products.
for v in $(env | sed -n 's/^\(ZERVAL_[A-Z_]*\)=.*/\1/p'); do unset "$v"; done

cmake --install "$build" --prefix "$kit" >"$work/install.log" 2>&1
check "cmake --install gives the kit" '[[ -x $kit/bin/zerval-sim && -f $kit/sys/gnu/zerval.sys && -f $kit/sys/msvc/zerval.sys && -f $kit/lib/cmake/zerval/zerval-config-version.cmake && -f $kit/share/zerval/toolchain-i686-mingw.cmake && -f $kit/share/zerval/toolchain-i686-clang-cl.cmake ]]'

# Without a toolchain file: one line that says which one to use.
cmake -S "$here/team_services" -B "$work/no-toolchain" -DCMAKE_PREFIX_PATH="$kit" >"$work/no-toolchain.log" 2>&1
check "configured without a toolchain file, the kit names it" \
  'tr -s " \n" "  " <"$work/no-toolchain.log" | grep -q "configure with -DCMAKE_TOOLCHAIN_FILE=$kit/share/zerval/toolchain-i686-mingw.cmake"'

# The mode list the team's answers call for, from the documented catalogue:
# 17 rows at 16 bits and 15 at 32 bits (no skip rule touches either), each at
# the two rates it accepts, both in the rate table; 32-bit modes at 75 Hz
# fail the usability probe; Attributes 0x00030000 publish as 0x3.
judge_list() {  # judge_list JSON
  python3 - "$1" <<'PY'
import json, sys
d = json.load(open(sys.argv[1]))
modes = d["modes"]
want = 17 * 2 + 15 * 2
problems = []
if d["NumModesFromBIOSDLL"] != want or d["ORVX_NUM_MODES"] != want + 3 or len(modes) != want:
    problems.append(f"counts {d['NumModesFromBIOSDLL']}/{d['ORVX_NUM_MODES']}, want {want}/{want + 3}")
for m in modes:
    usable = not (m["bitsPerPixel"] == 32 and m["frequency"] == 75)
    if m["bitsPerPixel"] not in (16, 32) or m["frequency"] not in (60, 75) or m["attributes"] != 3 \
            or m["usable"] != usable:
        problems.append(f"record {m['index']}: {m}")
if problems:
    print("; ".join(problems[:3]))
    sys.exit(1)
PY
}

for dialect in gnu msvc; do
  case $dialect in
    gnu) toolchain=toolchain-i686-mingw.cmake ;;
    msvc) toolchain=toolchain-i686-clang-cl.cmake ;;
  esac
  tree=$work/team-$dialect
  cmake -S "$here/team_services" -B "$tree" -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$kit" \
    -DCMAKE_TOOLCHAIN_FILE="$kit/share/zerval/$toolchain" >"$tree.log" 2>&1 &&
    cmake --build "$tree" >>"$tree.log" 2>&1
  check "$dialect: the team's driver builds from the kit alone, with its own flags" '[[ -f $tree/kelv.sys ]]'
  if [[ $dialect == gnu ]]; then
    check "gnu: its warnings stay warnings (unused function)" 'grep -q "TeamUnused.*defined but not used" "$tree.log"'
  fi
  sim=("$kit/bin/zerval-sim" --image "$kit/sys/$dialect/zerval.sys" --services "$tree/kelv.sys"
       --tv "$kit/sys/examples/rmx.sys")
  if "${sim[@]}" list --json >"$tree.json" 2>"$tree.err" && judge_list "$tree.json" >"$tree.judge"; then
    ok "$dialect: the kit's zerval-sim publishes the list its answers call for"
  else
    fail "$dialect: the kit's zerval-sim publishes the list its answers call for: $(cat "$tree.err" "$tree.judge" 2>/dev/null | head -1)"
  fi
  check "$dialect: GetFreeFramebufferSize answers the team's 8 MiB" \
    '"${sim[@]}" free-framebuffer 2>&1 | grep -qx "GetFreeFramebufferSize() = 8388608"'
done

# The kit's zerval-sim finds the kit's own image, beside it.
check "the kit's zerval-sim runs the kit's GNU image by default" \
  '"$kit/bin/zerval-sim" --services "$work/team-gnu/kelv.sys" 2>&1 | grep -qx "image: $kit/sys/gnu/zerval.sys"'

# The same driver under Wine's kernel and in the emulator, by the kit's own
# zerval-wine: the same report on both routes.
# Where this host cannot run Wine, the kit's own check says why.
wine=("$kit/bin/zerval-wine" --services "$work/team-gnu/kelv.sys" --tv "$kit/sys/examples/rmx.sys"
      --layout drivers --timeout 60)
[[ -n $wine_base && -d $wine_base ]] && wine+=(--base-prefix "$wine_base")
if ! why=$("$kit/share/zerval/wine/host_i386.sh" --wine); then
  echo "skipped the kit's zerval-wine: $why"
elif "${wine[@]}" >"$work/wine.log" 2>&1 &&
   grep -qx "the same on both routes: every published record and every result" "$work/wine.log"; then
  ok "the kit's zerval-wine: the same report under Wine and in the emulator"
else
  fail "the kit's zerval-wine: the same report under Wine and in the emulator: $(tail -2 "$work/wine.log" | tr '\n' ' ')"
fi

# An Attach defined without the declared convention does not compile.
cmake -S "$here/team_services" -B "$work/cdecl" -DCMAKE_PREFIX_PATH="$kit" -DCMAKE_C_FLAGS=-DTEAM_CDECL_ATTACH \
  -DCMAKE_TOOLCHAIN_FILE="$kit/share/zerval/toolchain-i686-mingw.cmake" >"$work/cdecl.log" 2>&1 &&
  cmake --build "$work/cdecl" >>"$work/cdecl.log" 2>&1
check "a __cdecl Attach declared with ZERVAL_SERVICES_ATTACH does not compile" \
  'grep -q "conflicting types for .Attach." "$work/cdecl.log" && [[ ! -f $work/cdecl/kelv.sys ]]'

echo "$passed passed, $failed failed"
((failed == 0)) && [[ -z ${KEEP:-} ]] && rm -rf "$work"
((failed == 0))
