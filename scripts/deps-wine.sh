#!/usr/bin/env bash
# Installs Wine (the 32-bit build, whose kernel-side host loads i386 drivers),
# only when it is missing. ./test.sh runs it before the tests, the Wine route
# among them (tests/wine/).
set -euo pipefail

packages=(wine wine32:i386)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
((${#missing[@]})) || exit 0

echo "installing: ${missing[*]}"
if [[ $(id -u) -ne 0 ]]; then
  echo "error: Wine is missing and this is not root; run: sudo dpkg --add-architecture i386 && sudo apt-get update && sudo apt-get install wine wine32:i386" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
