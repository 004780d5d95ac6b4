#!/usr/bin/env bash
# Builds the image project (image/, alone) twice per dialect, from the same
# sources into two folders of different names and depths, for the
# reproducibility checks (reproducible_test.cpp) to compare:
#   OUT/gnu-1, OUT/gnu-1/second-build-folder/gnu-2 and the same for msvc.
# No compiler cache: each build compiles for itself.
# Usage: reproducible_build.sh SOURCE_ROOT OUT PE_FINISH BIOSDLL_CHECK VERSION
set -euo pipefail
root=$1 out=$2 pe_finish=$3 biosdll_check=$4 version=$5
unset CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER
export CCACHE_DISABLE=1
rm -rf "$out"
mkdir -p "$out"
for dialect in gnu:toolchain-i686-mingw.cmake msvc:toolchain-i686-clang-cl.cmake; do
  name=${dialect%%:*} toolchain=${dialect#*:}
  for dir in "$out/$name-1" "$out/$name-1/second-build-folder/$name-2"; do
    cmake -S "$root/image" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/image/$toolchain" \
      -DCMAKE_BUILD_TYPE=Release -DZERVAL_PE_FINISH="$pe_finish" -DZERVAL_BIOSDLL_CHECK="$biosdll_check" \
      -DZERVAL_VERSION="$version" >"$out/$name-configure.log" 2>&1 ||
      { cat "$out/$name-configure.log"; exit 1; }
    targets=(zerval zerval_implib)
    # The MSVC dialect's kit carries the kernel's import libraries too.
    [[ $name == msvc ]] && targets+=(kernel_import_libraries)
    cmake --build "$dir" -j2 --target "${targets[@]}" >"$out/$name-build.log" 2>&1 ||
      { cat "$out/$name-build.log"; exit 1; }
  done
done
echo "built $out/{gnu,msvc}-1 and $out/{gnu,msvc}-1/second-build-folder/{gnu,msvc}-2"
