#!/bin/bash
# Installs what the build and the tests need on Debian 12, skipping what
# is already there.
set -euo pipefail
packages=(cmake make g++ libgtest-dev file pkgconf
          g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686
          wine wine32:i386 wine64
          clang libclang-rt-14-dev llvm-14 lld-14
          python3 python3-venv python3-pytest python3-setuptools python3-wheel
          mono-mcs mono-runtime nlohmann-json3-dev
          chromium python3-pil
          lintian dpkg-dev python3-build unzip
          qemu-system-x86 busybox-static nodejs)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# npm comes with some builds of Node.js, and as its own package with Debian's
command -v npm >/dev/null || missing+=(npm)
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
    echo "run as root, or install them yourself" >&2
    exit 1
fi
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
