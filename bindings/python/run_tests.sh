#!/bin/bash
# Installs the package into a fresh virtual environment as the README says
# (Debian's pytest, setuptools and wheel come from the system), and runs its
# tests against the simulator.
#   run_tests.sh LIBRARY DEVSIM
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d /tmp/volmirax-py.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
# the README's offline install, as written, from the checkout itself: it
# installs, and leaves nothing behind in the checkout
/usr/bin/python3 -m venv --system-site-packages "$tmp/venv"
before=$(cd "$here" && find . -path ./tests -prune -o -print | sort)
"$tmp/venv/bin/pip" install -q --no-build-isolation --no-index "$here"
after=$(cd "$here" && find . -path ./tests -prune -o -print | sort)
if [ "$before" != "$after" ]; then
    echo "not ok - the offline install left files in the checkout:" >&2
    diff <(echo "$before") <(echo "$after") >&2
    exit 1
fi
echo "ok - the README's offline install works as written and leaves nothing in the checkout"
cd "$tmp"
VOLMIRAX_LIBRARY=$1 DEVSIM=$2 "$tmp/venv/bin/python" -m pytest -q -p no:cacheprovider "$here/tests"
