#!/bin/bash
# One command makes a release: builds the 32-bit and 64-bit DLLs and the
# Linux library, and writes dist/ with
#   volmirax-1.0.0.1-win32.zip, volmirax-1.0.0.1-win64.zip   (DLL, import libraries, header, tool, docs)
#   libvolmirax1_*.deb, libvolmirax-dev_*.deb, volmirax-tools_*.deb
#   volmirax-1.0.0.1-py3-none-{linux_x86_64,win32,win_amd64}.whl
#   SHA256SUMS
# The binaries and zips are reproducible: the same commit built again, in
# any folder, at any time, gives the same bytes (SOURCE_DATE_EPOCH is the
# commit's time). Installs what it needs, like the other scripts.
#   bash scripts/release.sh [DIST_FOLDER]
#
# It never deletes what it did not make: DIST_FOLDER must be new, empty, or
# hold only an earlier release (every file listed in its SHA256SUMS); the
# release is written beside it and moved into place at the end. It refuses
# a tree with uncommitted changes (the bytes would not be the commit's),
# and a second release running in the same checkout.
set -euo pipefail
cd "$(dirname "$0")/.."
refuse() { echo "release: $*" >&2; exit 1; }

dist=$(readlink -m "${1:-dist}")
checkout=$(pwd -P)
case $dist/ in
    "$checkout"/|/) refuse "$dist is the checkout or the root: give a folder for the release" ;;
esac
case $checkout/ in
    "$dist"/*) refuse "$dist holds the checkout: give a folder for the release" ;;
esac
if [ -e "$dist" ]; then
    [ -d "$dist" ] || refuse "$dist exists and is not a folder"
    if [ -n "$(ls -A "$dist")" ]; then
        [ -f "$dist/SHA256SUMS" ] || refuse "$dist is not empty and holds no earlier release (no SHA256SUMS): nothing was changed"
        # an earlier release: every file in it is one its SHA256SUMS lists
        listed=$(awk '{print $2}' "$dist/SHA256SUMS" | sed 's/^\*//')
        while IFS= read -r -d '' f; do
            name=${f#"$dist"/}
            [ -f "$f" ] && [ ! -L "$f" ] || refuse "$dist holds $name, which no release makes: nothing was changed"
            [ "$name" = SHA256SUMS ] || grep -Fxq -- "$name" <<<"$listed" ||
                refuse "$dist holds $name, which is not part of its earlier release: nothing was changed"
        done < <(find "$dist" -mindepth 1 -print0)
    fi
fi
if git rev-parse --git-dir >/dev/null 2>&1 && [ -n "$(git status --porcelain --untracked-files=no)" ]; then
    refuse "the tree has uncommitted changes, so the release's bytes would not be those of its commit: commit or stash them first"
fi
mkdir -p build
exec 9>build/release.lock
flock -n 9 || refuse "another release is running in this checkout"

bash scripts/install-deps.sh
work=$(pwd)/build/release
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
export TZ=UTC LC_ALL=C
mkdir -p "$(dirname "$dist")"
out=$(mktemp -d "$dist.new.XXXXXX")
trap 'rm -rf "$out"' EXIT
rm -rf "$work"
mkdir -p "$work"

# build PRESET [ARGS...]: a release build of the preset's platform, without the tests
build() {
    local preset=$1
    shift
    cmake --preset "$preset" -B "$work/$preset" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
        -DVOLMIRAX_REPRODUCIBLE=ON "$@" >/dev/null
    cmake --build "$work/$preset" -j 2 >/dev/null
}

for preset in windows-x86 windows-x64; do
    echo "building $preset"
    build "$preset"
    cmake --install "$work/$preset" --prefix "$work/$preset/stage" >/dev/null
    bits=$([ "$preset" = windows-x86 ] && echo 32 || echo 64)
    /usr/bin/python3 scripts/zip_tree.py "$work/$preset/stage" "$out/volmirax-1.0.0.1-win$bits.zip" "volmirax-1.0.0.1-win$bits"
done

echo "building linux"
# Debian's hardening flags (fortified functions, stack protector, full
# RELRO with immediate binding), no compiler ident in the binaries; no
# build folder in the tools' run path: it would change their build ID
flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
# the packages' binaries stripped of the toolchain's notes as well
printf '#!/bin/sh\nexec strip --remove-section=.comment --remove-section=.note "$@"\n' >"$work/strip"
chmod +x "$work/strip"
build linux -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_BUILD_WITH_INSTALL_RPATH=ON -DCMAKE_STRIP="$work/strip" \
    -DCMAKE_C_FLAGS="$(flags CPPFLAGS) $(flags CFLAGS) -fno-ident" \
    -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS) -fno-ident" \
    -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" -DCMAKE_SHARED_LINKER_FLAGS="$(flags LDFLAGS)"
# the packages' dependencies never come from a copy of this library that
# is installed on the building machine (dpkg-shlibdeps would read its
# shlibs and add it a second time): the release's own packages are
# excluded from what it finds
shim=$(mktemp -d)
printf '#!/bin/sh\nexec /usr/bin/dpkg-shlibdeps -xlibvolmirax1 "$@"\n' >"$shim/dpkg-shlibdeps"
chmod +x "$shim/dpkg-shlibdeps"
(cd "$work/linux" && PATH=$shim:$PATH cpack -G DEB >/dev/null)
rm -rf "$shim"
# CPack adds maintainer scripts that call ldconfig to a library package;
# the package's trigger does that, as Debian wants: they are taken out
# (the times are clamped to SOURCE_DATE_EPOCH, so the bytes stay the same)
unpacked=$(mktemp -d)
dpkg-deb -R "$work"/linux/libvolmirax1_*.deb "$unpacked/p"
rm -f "$unpacked/p/DEBIAN/postinst" "$unpacked/p/DEBIAN/postrm"
dpkg-deb --root-owner-group -Zxz -b "$unpacked/p" "$work"/linux/libvolmirax1_*.deb >/dev/null
rm -rf "$unpacked"
cp "$work"/linux/*.deb "$out/"

# the wheels and the npm package carry the library stripped, as the package does
"$work/strip" -o "$work/libvolmirax.so.1" "$work/linux/libvolmirax.so.1.0.0"

echo "building the wheels"
for wheel in "linux_x86_64 $work/libvolmirax.so.1" "win32 $work/windows-x86/VOLMIRAX.dll" \
             "win_amd64 $work/windows-x64/VOLMIRAX.dll"; do
    bash bindings/python/make_wheel.sh ${wheel} "$out"
done

echo "packing the Node.js package"
bash bindings/node/pack.sh "$out" "linux-x64=$work/libvolmirax.so.1" \
    "win32-ia32=$work/windows-x86/VOLMIRAX.dll" "win32-x64=$work/windows-x64/VOLMIRAX.dll"

echo "packing the NuGet package"
/usr/bin/python3 bindings/dotnet/make_nupkg.py "$out" "win-x86=$work/windows-x86/VOLMIRAX.dll" \
    "win-x64=$work/windows-x64/VOLMIRAX.dll" "linux-x64=$work/libvolmirax.so.1"

(cd "$out" && sha256sum -- *.zip *.deb *.whl *.tgz *.nupkg >SHA256SUMS)
chmod 755 "$out"
# into place: the earlier release (checked above to hold only its own
# files) goes only once the new one is complete
if [ -e "$dist" ]; then
    old=$(mktemp -d "$dist.old.XXXXXX")
    rmdir "$old"
    mv "$dist" "$old"
    mv "$out" "$dist"
    rm -rf "$old"
else
    mv "$out" "$dist"
fi
echo "release in $dist:"
(cd "$dist" && ls -l)
