#!/usr/bin/env bash
# The kernel's import libraries that the kit carries for the MSVC dialect
# (BUILD_DIR/sdk/lib/msvc/*.lib), each against the mingw-w64 library it was
# made from (as the MSVC image build found it, in its cache): every symbol
# of either imported from the same DLL, by the same name, as the same kind
# (import_names.py).  Prints one line per library and "N passed, M failed".
#
#   import_libraries_test.sh BUILD_DIR
set -uo pipefail
if (($# != 1)); then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
build=$1
here=$(cd "$(dirname "$0")" && pwd)
cache=$build/image-msvc/CMakeCache.txt
passed=0 failed=0
shopt -s nullglob
libraries=("$build"/sdk/lib/msvc/*.lib)
if ((${#libraries[@]} == 0)); then
  echo "FAIL no import libraries in $build/sdk/lib/msvc (not built?)"
  failed=1
fi
for library in "${libraries[@]}"; do
  name=$(basename "$library" .lib)
  gnu=$(sed -n "s/^ZERVAL_GNU_${name}_LIB:FILEPATH=//p" "$cache" 2>/dev/null)
  if [[ -z $gnu ]]; then
    echo "FAIL $name.lib: $cache names no mingw-w64 library it was made from (ZERVAL_GNU_${name}_LIB)"
    failed=$((failed + 1))
  elif said=$("$here/import_names.py" "$gnu" "$library" 2>&1); then
    echo "ok $name.lib binds as $gnu does: ${said##*$'\n'}"
    passed=$((passed + 1))
  else
    echo "FAIL $name.lib binds as $gnu does: ${said##*$'\n'}; the first: ${said%%$'\n'*}"
    failed=$((failed + 1))
  fi
done
echo "$passed passed, $failed failed"
((failed == 0))
