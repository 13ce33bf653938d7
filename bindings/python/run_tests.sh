#!/bin/bash
# Installs the package into a fresh virtual environment, the way a user
# would (Debian's pytest and setuptools come from the system), and runs its
# tests against the simulator.
#   run_tests.sh LIBRARY DEVSIM
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d /tmp/volmirax-py.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
/usr/bin/python3 -m venv --system-site-packages "$tmp/venv"
# built from a copy, so that the build leaves nothing in the repository
cp -r "$here" "$tmp/src"
"$tmp/venv/bin/pip" install -q --no-build-isolation --no-index --no-deps "$tmp/src"
cd "$tmp"
VOLMIRAX_LIBRARY=$1 DEVSIM=$2 "$tmp/venv/bin/python" -m pytest -q -p no:cacheprovider "$here/tests"
