#!/usr/bin/env bash
# The kit as the neighbour teams get it: `cmake --install` of the build into
# a scratch prefix, then, from that prefix alone and with each of the kit's
# toolchain files: a services driver of a team's own (team_services/, its
# own flags), run through the kit's own zerval-sim and under Wine against
# the emulator with the kit's zerval-wine; every example the kit ships
# (examples/, built as the kit's examples/CMakeLists.txt says); and a
# display driver of a team's own (team_display/: the miniport headers,
# LIBS zerval ntoskrnl videoprt, structure copies) unoptimised and
# optimised.  Each driver's import table is read (llvm-readobj) and held to
# what it calls.  The kit's documents are held to the kit (kit_documents.py),
# and a double in a team's driver to the link error they explain.  Prints
# one line per check (a check that cannot run here:
# "skipped ...", with why) and "N passed, M failed".
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

# The kit's documents speak of the kit as a team has it: not of the source
# tree's ./run.sh or build/ (one line per mention, with its document and
# line), and every path they name under DIR/ is in the kit (one line per
# path that is not).
documents_check() {  # documents_check words|paths DESCRIPTION
  local problems problem
  if problems=$(python3 "$here/kit_documents.py" "$1" "$kit" 2>&1); then
    ok "$2"
  else
    while IFS= read -r problem; do fail "$2: $problem"; done <<<"$problems"
  fi
}
documents_check words "the kit's documents name neither ./run.sh nor build/"
documents_check paths "every path the kit's documents name under DIR/ is in the kit"

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

# Import and export tables, one name a line, sorted: DLL!name for an import
# (the name a function or data is imported by), the name for an export; for
# an image that is not there, a line that says so.
readobj=$(command -v llvm-readobj-14 || command -v llvm-readobj)
imports() {
  [[ -f $1 ]] || { echo "no image $1"; return; }
  "$readobj" --coff-imports "$1" | awk '/^  Name: /{dll = $2} /^  Symbol: /{print dll "!" $2}' | sort
}
exports() {
  [[ -f $1 ]] || { echo "no image $1"; return; }
  "$readobj" --coff-exports "$1" | awk '/^  Name: ./{print $2}' | sort
}
# What the MSVC dialect's compiler calls by itself to copy or clear a
# structure, from ntoskrnl.exe; the GNU dialect's writes the loop inline.
compiler_helpers='^ntoskrnl\.exe!(memcpy|memset|memmove)$'
# same_tables GNU_IMAGE MSVC_IMAGE: the same imports (but the compiler's
# helpers) and the same exports; else says which differ.
same_tables() {
  local a b
  a=$(imports "$1" | grep -Ev "$compiler_helpers"; echo exports; exports "$1")
  b=$(imports "$2" | grep -Ev "$compiler_helpers"; echo exports; exports "$2")
  [[ $a == "$b" ]] || { diff <(echo "$a") <(echo "$b") | grep '^[<>]' | tr '\n' ' '; return 1; }
}

# Every example the kit ships, built from the kit with each toolchain file,
# as examples/CMakeLists.txt puts them together: a new example is built
# here as soon as the kit's examples/ has it.
for dialect in gnu msvc; do
  toolchain=toolchain-i686-mingw.cmake
  [[ $dialect == msvc ]] && toolchain=toolchain-i686-clang-cl.cmake
  tree=$work/examples-$dialect
  if cmake -S "$kit/examples" -B "$tree" -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$kit" \
       -DCMAKE_TOOLCHAIN_FILE="$kit/share/zerval/$toolchain" >"$tree.log" 2>&1 &&
     cmake --build "$tree" -j2 >>"$tree.log" 2>&1 &&
     [[ -f $tree/example_display.sys && -f $tree/kelv.sys && -f $tree/rmx.sys ]]; then
    ok "$dialect: the kit's examples build from the kit alone"
  else
    fail "$dialect: the kit's examples build from the kit alone: $(grep -m1 -E 'rror|undefined' "$tree.log")"
  fi
  (cd "$tree" && find . -path '*/CMakeFiles' -prune -o -name '*.sys' -printf '%P\n' | sort) >"$tree.images"
done
check "the examples are the same images in both dialects: $(tr '\n' ' ' <"$work/examples-gnu.images")" \
  'cmp -s "$work/examples-gnu.images" "$work/examples-msvc.images"'
while read -r image; do
  if why=$(same_tables "$work/examples-gnu/$image" "$work/examples-msvc/$image"); then
    ok "$image: the same imports and exports in both dialects"
  else
    fail "$image: the same imports and exports in both dialects: $why"
  fi
done <"$work/examples-gnu.images"
zerval_exports=$(exports "$kit/sys/gnu/zerval.sys" | sed 's/^/zerval.sys!/')
for dialect in gnu msvc; do
  check "$dialect: the example display driver imports every export of zerval.sys" \
    '[[ $(imports "$work/examples-$dialect/example_display.sys" | grep "^zerval\.sys!") == "$zerval_exports" ]]'
done

# A display driver of a team's own, unoptimised (Debug: /Od, -O0) and
# optimised, and a driver that only copies a structure and names no import
# library.  Each imports exactly what it calls, from the DLL that exports it,
# by the name it is exported under; in the MSVC dialect, the compiler's own
# memcpy too where it calls it, which the unoptimised builds do.
display_imports='ntoskrnl.exe!ExAllocatePoolWithTag
ntoskrnl.exe!ExFreePoolWithTag
videoprt.sys!VideoPortInitialize
videoprt.sys!VideoPortZeroMemory
zerval.sys!NumModesFromBIOSDLL
zerval.sys!ORVX_NUM_MODES
zerval.sys!_lDllAttach@20
zerval.sys!pModeInfoFromBIOSDLL'
for dialect in gnu msvc; do
  toolchain=toolchain-i686-mingw.cmake
  [[ $dialect == msvc ]] && toolchain=toolchain-i686-clang-cl.cmake
  for type in Debug Release; do
    tree=$work/display-$dialect-$type
    if cmake -S "$here/team_display" -B "$tree" -DCMAKE_BUILD_TYPE=$type -DCMAKE_PREFIX_PATH="$kit" \
         -DCMAKE_TOOLCHAIN_FILE="$kit/share/zerval/$toolchain" >"$tree.log" 2>&1 &&
       cmake --build "$tree" -j2 >>"$tree.log" 2>&1; then
      ok "$dialect $type: the team's display driver builds from the kit alone"
    else
      fail "$dialect $type: the team's display driver builds from the kit alone: $(grep -m1 -E 'rror|undefined' "$tree.log")"
    fi
    check "$dialect $type: it imports what it calls" \
      '[[ $(imports "$tree/teamdisp.sys" | grep -Ev "$compiler_helpers") == "$display_imports" ]]'
    check "$dialect $type: the structure copy alone imports nothing else" \
      '[[ -z $(imports "$tree/teamcopy.sys" | grep -Ev "$compiler_helpers") ]]'
  done
  if [[ $dialect == msvc ]]; then
    check "msvc Debug: both copy through ntoskrnl.exe's memcpy" \
      'imports "$work/display-msvc-Debug/teamdisp.sys" | grep -qx "ntoskrnl.exe!memcpy" &&
       imports "$work/display-msvc-Debug/teamcopy.sys" | grep -qx "ntoskrnl.exe!memcpy"'
  fi
done

# The display drivers that register a miniport, as each dialect built them,
# run by the kit's zerval-sim as the video port drives them, on each image:
# the example's requests answered and its modes the usable published ones;
# the team's own, whose unoptimised record copies go through the kernel's
# memcpy, attaching in HwVidFindAdapter.
siblings=(--services "$kit/sys/examples/kelv.sys" --tv "$kit/sys/examples/rmx.sys")
for dialect in gnu msvc; do
  for image in gnu msvc; do
    out=$work/miniport-$dialect-on-$image.out
    "$kit/bin/zerval-sim" --image "$kit/sys/$image/zerval.sys" "${siblings[@]}" \
      --display "$work/examples-$dialect/example_miniport.sys" >"$out" 2>&1
    check "$dialect example miniport on the $image image: the video port's requests answered, the usable modes reported" \
      'grep -qx "example_miniport.sys HwVidInitialize: TRUE" "$out" &&
       grep -q "^reported beside published: .*0 published as not usable.*; first difference: none$" "$out" &&
       grep -qE "^IOCTL_VIDEO_SET_CURRENT_MODE 3 \(.*\): NO_ERROR \(0\)$" "$out" &&
       grep -q "^IOCTL_VIDEO_MAP_VIDEO_MEMORY: NO_ERROR (0), 16 bytes: frame buffer at " "$out"'
    out=$work/team-display-$dialect-on-$image.out
    "$kit/bin/zerval-sim" --image "$kit/sys/$image/zerval.sys" "${siblings[@]}" \
      --display "$work/display-$dialect-Debug/teamdisp.sys" >"$out" 2>&1
    check "$dialect Debug team display driver on the $image image: it attaches in HwVidFindAdapter" \
      'grep -qx "teamdisp.sys HwVidFindAdapter: NO_ERROR (0), .*" "$out" && grep -qx "teamdisp.sys HwVidInitialize: TRUE" "$out"'
  done
done

# LIBS naming a library there is none of: one line that says so.
cmake -S "$here/team_display" -B "$work/no-such-lib" -DCMAKE_PREFIX_PATH="$kit" -DTEAM_MORE_LIBS=nosuchlib \
  -DCMAKE_TOOLCHAIN_FILE="$kit/share/zerval/toolchain-i686-clang-cl.cmake" >"$work/no-such-lib.log" 2>&1
check "LIBS naming no import library stops the configure with the name" \
  'tr -s " \n" "  " <"$work/no-such-lib.log" | grep -q "zerval_driver(team_display): LIBS nosuchlib: no import library"'

# An Attach defined without the declared convention does not compile.
cmake -S "$here/team_services" -B "$work/cdecl" -DCMAKE_PREFIX_PATH="$kit" -DCMAKE_C_FLAGS=-DTEAM_CDECL_ATTACH \
  -DCMAKE_TOOLCHAIN_FILE="$kit/share/zerval/toolchain-i686-mingw.cmake" >"$work/cdecl.log" 2>&1 &&
  cmake --build "$work/cdecl" >>"$work/cdecl.log" 2>&1
check "a __cdecl Attach declared with ZERVAL_SERVICES_ATTACH does not compile" \
  'grep -q "conflicting types for .Attach." "$work/cdecl.log" && [[ ! -f $work/cdecl/kelv.sys ]]'

# A double in a team's driver: the kit's flags keep kernel code off the x87
# and SSE registers, so the compiler calls arithmetic helpers that nothing
# links, and the link stops naming the first (docs/kit.md, "Floating point").
for dialect in gnu msvc; do
  case $dialect in
    gnu) toolchain=toolchain-i686-mingw.cmake want="undefined reference to \`__floatunsidf'" ;;
    msvc) toolchain=toolchain-i686-clang-cl.cmake want="error: undefined symbol: ___floatunsidf" ;;
  esac
  tree=$work/float-$dialect
  cmake -S "$here/team_services" -B "$tree" -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$kit" \
    -DCMAKE_C_FLAGS=-DTEAM_FLOAT -DCMAKE_TOOLCHAIN_FILE="$kit/share/zerval/$toolchain" >"$tree.log" 2>&1 &&
    cmake --build "$tree" >>"$tree.log" 2>&1
  check "$dialect: a double in a team's driver stops the link: $want" \
    'grep -qF "$want" "$tree.log" && [[ ! -f $tree/kelv.sys ]]'
done

echo "$passed passed, $failed failed"
((failed == 0)) && [[ -z ${KEEP:-} ]] && rm -rf "$work"
((failed == 0))
