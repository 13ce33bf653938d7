#!/bin/bash
# A wheel of the package for one platform, carrying the library built for
# it; offline, with Debian's python3-build (no isolation, no download).
#   make_wheel.sh PLATFORM LIBRARY OUT_FOLDER     (PLATFORM: linux_x86_64, win32, win_amd64)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
platform=$1 library=$(readlink -f "$2") out=$(readlink -f "$3")
tmp=$(mktemp -d /tmp/volmirax-wheel.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
# built from a copy, so that the build leaves nothing in the repository
cp -r "$here/volmirax" "$here/pyproject.toml" "$here/setup.py" "$here/README.md" "$here/LICENSE" "$tmp/"
cd "$tmp"
VOLMIRAX_WHEEL_LIBRARY=$library VOLMIRAX_WHEEL_PLATFORM=$platform \
    /usr/bin/python3 -m build --wheel --no-isolation --outdir "$out" . >"$tmp/build.log" 2>&1 ||
    { cat "$tmp/build.log" >&2; exit 1; }
ls "$out"/*-"$platform".whl >/dev/null
