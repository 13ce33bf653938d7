#!/bin/bash
# The release script never destroys what it did not make, and never makes
# bytes that are not its commit's: each case runs it in a fresh clone and
# checks that it refused with its reason (before building anything) and
# that every file it was pointed at is still there.
#   guards_test.sh
set -uo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d /tmp/volmirax-guards.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
git clone -q "$repo" "$tmp/src" || exit 1
src=$tmp/src
# the script as it stands in this tree, committed in the clone
cp "$repo/scripts/release.sh" "$src/scripts/release.sh"
(cd "$src" && git -c user.name=t -c user.email=t@t commit -qam "release.sh under test" --allow-empty) || exit 1
failures=0

# Folders a user might give by mistake, each with a file that must survive.
mkdir -p "$tmp/docs" "$tmp/empty" "$tmp/old" "$tmp/old-plus" "$tmp/old-dir/sub"
echo thesis >"$tmp/docs/thesis.tex"
for d in old old-plus old-dir; do
    echo zip >"$tmp/$d/volmirax-1.0.0.1-win32.zip"
    (cd "$tmp/$d" && sha256sum volmirax-1.0.0.1-win32.zip >SHA256SUMS)
done
echo mine >"$tmp/old-plus/notes.txt"
echo untracked >"$src/untracked.txt"

# case: DIST, how the tree is, the words of the refusal
cases=(
    "$src|clean|is the checkout"
    "$tmp|clean|holds the checkout"
    "$tmp/docs|clean|holds no earlier release"
    "$tmp/old-plus|clean|notes.txt, which is not part of its earlier release"
    "$tmp/old-dir|clean|holds sub, which no release makes"
    "$tmp/empty|dirty|uncommitted changes"
    "$tmp/old|dirty|uncommitted changes"
    "$tmp/new|locked|another release is running"
)
for c in "${cases[@]}"; do
    IFS='|' read -r dist tree words <<<"$c"
    (cd "$src" && git checkout -q -- . )
    [ "$tree" = dirty ] && echo "// changed" >>"$src/src/protocol/frame.cpp"
    lock=
    if [ "$tree" = locked ]; then
        mkdir -p "$src/build"
        flock "$src/build/release.lock" sleep 30 &
        lock=$!
        sleep 0.3
    fi
    out=$(cd "$src" && timeout 60 bash scripts/release.sh "$dist" 2>&1)
    rc=$?
    [ -n "$lock" ] && kill $lock 2>/dev/null
    if [ $rc -ne 0 ] && grep -qF -- "$words" <<<"$out"; then
        echo "ok - release.sh $dist ($tree tree): refused: $words"
    else
        echo "not ok - release.sh $dist ($tree tree): status $rc, said: $out"
        failures=$((failures + 1))
    fi
done
(cd "$src" && git checkout -q -- .)

# nothing it was pointed at is gone or changed
for f in "$src/.git/HEAD" "$src/untracked.txt" "$tmp/docs/thesis.tex" "$tmp/old-plus/notes.txt" \
         "$tmp/old/volmirax-1.0.0.1-win32.zip" "$tmp/old-dir/sub"; do
    [ -e "$f" ] || { echo "not ok - $f is gone"; failures=$((failures + 1)); }
done
[ -z "$(ls -A "$tmp/new" 2>/dev/null)" ] || { echo "not ok - a refused release wrote into $tmp/new"; failures=$((failures + 1)); }
echo "$failures failed"
[ $failures -eq 0 ]
