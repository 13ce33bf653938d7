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
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
dist=$(readlink -f "${1:-dist}")
work=$(pwd)/build/release
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
export TZ=UTC LC_ALL=C
rm -rf "$dist" "$work"
mkdir -p "$dist" "$work"

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
    /usr/bin/python3 scripts/zip_tree.py "$work/$preset/stage" "$dist/volmirax-1.0.0.1-win$bits.zip" "volmirax-1.0.0.1-win$bits"
done

echo "building linux"
# no build folder in the tools' run path: it would change their build ID
build linux -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_BUILD_WITH_INSTALL_RPATH=ON
(cd "$work/linux" && cpack -G DEB >/dev/null)
cp "$work"/linux/*.deb "$dist/"

echo "building the wheels"
for wheel in "linux_x86_64 $work/linux/libvolmirax.so.1.0.0" "win32 $work/windows-x86/VOLMIRAX.dll" \
             "win_amd64 $work/windows-x64/VOLMIRAX.dll"; do
    bash bindings/python/make_wheel.sh ${wheel} "$dist"
done

(cd "$dist" && sha256sum -- *.zip *.deb *.whl >SHA256SUMS)
echo "release in $dist:"
(cd "$dist" && ls -l)
