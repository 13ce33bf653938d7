#!/bin/bash
# Packs the Node.js package as the release does (npm pack, carrying the Linux
# library), installs the tarball into a fresh folder as a user would (koffi
# comes from npm's registry), and runs the tests with that installed package
# against the simulator.
#   run_tests.sh LIBRARY DEVSIM INCLUDE_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
library=$(readlink -f "$1") devsim=$2 include=$3
tmp=$(mktemp -d /tmp/volmirax-node.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
bash "$here/pack.sh" "$tmp" "linux-x64=$library"
mkdir "$tmp/app"
cd "$tmp/app"
npm init -y >/dev/null
npm install --no-audit --no-fund --loglevel=error "$tmp"/volmirax-*.tgz >/dev/null
DEVSIM=$devsim VOLMIRAX_HEADER_DIR=$include NODE_PATH=$tmp/app/node_modules node --expose-gc --test "$here/test/"
