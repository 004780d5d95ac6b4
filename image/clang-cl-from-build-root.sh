#!/usr/bin/env bash
# Compiler launcher of the MSVC-dialect image with clang-cl: runs each compile
# from the image's build folder, with every path under the source root or the
# build folder written relative to it (the sources through the folder's `src`
# link to the source root).  clang-cl 14 records in each object its file
# names and its whole cc1 command line (include folders and all, in the
# LF_BUILDINFO record, which lld-link copies into the PDB); so recorded, none
# of them names the folder the sources or the build lie in, and two builds
# in two folders give the same objects, the same PDB and the same image.
# The object is written where CMake asked and, with debug information (/Z7),
# recorded under the name CMake gave it.
#
# Usage: clang-cl-from-build-root.sh SOURCE_ROOT BUILD_ROOT COMPILER ARGS...
set -euo pipefail
root=$1 build=$2 compiler=$3
shift 3
debug=no
for a in "$@"; do [[ $a == /Z7 ]] && debug=yes; done
args=()
for a in "$@"; do
  case $a in
    -I"$build"/*) a=-I${a#-I"$build"/} ;;
    -I"$root"/*) a=-Isrc/${a#-I"$root"/} ;;
    -imsvc"$build"/*) a=-imsvc${a#-imsvc"$build"/} ;;
    -imsvc"$root"/*) a=-imsvcsrc/${a#-imsvc"$root"/} ;;
    "$build"/*) a=${a#"$build"/} ;;
    "$root"/*) a=src/${a#"$root"/} ;;
    /Fo/*) ;;
    /Fo*)
      # The name CodeView records (S_OBJNAME), where there is debug information.
      [[ $debug == yes ]] && args+=("/clang:-object-file-name=${a#/Fo}")
      a=/Fo$PWD/${a#/Fo} ;;
  esac
  args+=("$a")
done
cd "$build"
exec "$compiler" "${args[@]}"
