#!/bin/bash
# A picture of a report page as a browser draws it: Debian's chromium,
# headless, with no network. For a developer to look at a page, and for the
# README's picture (docs/report.png, from tests/capture/sample.jsonl).
#   screenshot.sh REPORT.html OUT.png [WIDTH,HEIGHT] [#xN]
set -euo pipefail
page=$(readlink -f "$1") out=$2 size=${3:-1200,1600} anchor=${4:-}
profile=$(mktemp -d /tmp/volmirax-chromium.XXXXXX)
trap 'rm -rf "$profile"' EXIT
chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking \
    --disable-component-update --disable-sync --hide-scrollbars --user-data-dir="$profile" \
    --window-size="$size" --screenshot="$(readlink -f "$(dirname "$out")")/$(basename "$out")" \
    "file://$page$anchor" >/dev/null 2>&1
