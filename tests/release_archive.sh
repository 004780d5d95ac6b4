#!/usr/bin/env bash
# The release archive as a display-driver team receives it: packs the build's
# kit into OUT (scripts/package.sh), checks SHA256SUMS, unpacks both archives
# into scratch folders (the same files in each), builds the example drivers
# (display, services, TV) from the unpacked kit alone with mingw-w64 and
# CMake (find_package(zerval)), and checks that no file of the kit names the
# folder the sources or the build lie in.  Leaves the unpacked kit in
# OUT/tar/zerval-VERSION-sdk for the INF check.
# Usage: release_archive.sh SOURCE_ROOT BUILD_DIR OUT VERSION
set -euo pipefail
root=$(realpath "$1") build=$(realpath "$2") out=$3 version=$4
name=zerval-$version-sdk
fail() { echo "release_archive: $*" >&2; exit 1; }

rm -rf "$out"
mkdir -p "$out"
out=$(realpath "$out")
"$root/scripts/package.sh" "$build" "$out/dist"
cd "$out/dist"
[[ -f $name.zip && -f $name.tar.gz ]] || fail "no $name.zip and $name.tar.gz in $out/dist"
sha256sum --check --strict SHA256SUMS || fail "SHA256SUMS does not match the archives"
[[ $(wc -l <SHA256SUMS) -eq 2 ]] || fail "SHA256SUMS does not list exactly the two archives"

mkdir -p "$out/zip" "$out/tar"
unzip -q "$out/dist/$name.zip" -d "$out/zip"
tar -xzf "$out/dist/$name.tar.gz" -C "$out/tar"
diff -r "$out/zip" "$out/tar" || fail "the zip and the tar.gz hold different files"
kit=$out/tar/$name
[[ -d $kit ]] || fail "the archive does not hold one folder $name"
echo "--- $name.tar.gz"
(cd "$out/tar" && find "$name" -type f | sort)

# Nothing shipped names the source root or the build folder (the build
# folder lies under the source root here, so the root's name covers it).
for folder in "$root" "$build"; do
  mangled=${folder//[^A-Za-z0-9]/_}
  if grep -rlaF -e "$folder" -e "$mangled" "$kit"; then
    fail "the files above name $folder"
  fi
done

# The examples, built from the kit alone.
cmake -S "$kit/examples" -B "$out/examples" -DCMAKE_TOOLCHAIN_FILE="$kit/share/zerval/toolchain-i686-mingw.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$kit" >"$out/examples-configure.log" 2>&1 ||
  { cat "$out/examples-configure.log"; fail "the examples do not configure from the kit"; }
cmake --build "$out/examples" -j2 >"$out/examples-build.log" 2>&1 ||
  { cat "$out/examples-build.log"; fail "the examples do not build from the kit"; }
for driver in example_display kelv rmx; do
  [[ -f $out/examples/$driver.sys ]] || fail "no $driver.sys built from the kit"
done
echo "built from the kit: example_display.sys kelv.sys rmx.sys"
