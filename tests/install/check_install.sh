#!/bin/bash
# Installs a build into a temporary tree and builds the examples against it
# with find_package(volmirax), as a host project would; on Linux also with
# pkg-config.
#   check_install.sh BUILD_DIR SOURCE_DIR [TOOLCHAIN_FILE]
set -euo pipefail
build=$1
source=$2
toolchain=${3:-}
tmp=$(mktemp -d /tmp/volmirax-install.XXXXXX)
trap 'rm -rf "$tmp"' EXIT

cmake --install "$build" --prefix "$tmp/inst" >/dev/null
echo "installed:"
(cd "$tmp/inst" && find . -type f -o -type l | sort | sed 's/^/  /')

args=(-S "$source/examples" -B "$tmp/examples" -DCMAKE_PREFIX_PATH="$tmp/inst")
[ -n "$toolchain" ] && args+=(-DCMAKE_TOOLCHAIN_FILE="$toolchain")
cmake "${args[@]}" >/dev/null
cmake --build "$tmp/examples" >/dev/null
ls "$tmp/examples" | grep -E '^c(pp)?_example(\.exe)?$'

if [ -z "$toolchain" ]; then
    export PKG_CONFIG_PATH=$tmp/inst/lib/pkgconfig
    cc "$source/examples/c_example.c" $(pkg-config --cflags --libs volmirax) -o "$tmp/c_example_pc"
    echo "pkg-config: $(pkg-config --modversion volmirax)"
fi
