#!/usr/bin/env bash
# Installs the Debian packages the build needs, only when one is missing.
set -euo pipefail

packages=(
  cmake make g++ clang
  googletest libgtest-dev libbenchmark-dev
  nlohmann-json3-dev libcli11-dev libunicorn-dev libzydis-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  libclang-rt-14-dev clang-tidy cppcheck
  clang-14 clang-tools-14 lld-14 llvm-14 llvm-14-dev
  edid-decode gdb lcov
  python3
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  if [[ $(id -u) -ne 0 ]]; then
    echo "error: missing packages and not root; run: sudo apt-get install ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
