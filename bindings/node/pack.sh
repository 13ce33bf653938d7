#!/bin/bash
# The npm package (npm pack) into OUT_FOLDER, carrying the libraries given
# as PLATFORM=FILE (linux-x64, win32-ia32, win32-x64): each goes to
# lib/PLATFORM/ under the name the package loads (libvolmirax.so.1,
# VOLMIRAX.dll). Built from a copy, so that nothing is written into the
# checkout; npm pack's archives are the same bytes every time.
#   pack.sh OUT_FOLDER PLATFORM=FILE...
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$(readlink -f "$1")
shift
tmp=$(mktemp -d /tmp/volmirax-pack.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
cp "$here"/package.json "$here"/index.js "$here"/index.d.ts "$here"/codes.js "$here"/README.md "$here"/LICENSE "$tmp/"
for carried in "$@"; do
    platform=${carried%%=*} file=${carried#*=}
    name=$([ "${platform%%-*}" = win32 ] && echo VOLMIRAX.dll || echo libvolmirax.so.1)
    mkdir -p "$tmp/lib/$platform"
    cp -L "$file" "$tmp/lib/$platform/$name"
done
(cd "$tmp" && npm pack --silent --pack-destination "$out" >/dev/null)
