#!/bin/bash
# The release: the same commit built twice, from two clones in different
# folders at two different times, gives byte-identical DLLs (both), Linux
# library, tools, zips, packages and wheels; the Debian packages pass
# lintian with no error and their tool drives the simulator from the
# unpacked tree (the second build is made with the first one's library
# installed: a release never depends on what the building machine has);
# lintian --pedantic -I has nothing to say about them; the Linux wheel installed in a fresh virtual environment
# drives the simulator with the library it carries; each Windows wheel
# carries a DLL of its machine type; so do the npm and NuGet packages, and
# each drives the simulator once installed.
#   release_test.sh        (builds the committed state, HEAD)
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d /tmp/volmirax-release.XXXXXX)
sim=
installed=
uninstall() { [ -n "$installed" ] && dpkg -P libvolmirax1 >/dev/null 2>&1; installed=; }
trap '[ -n "$sim" ] && kill $sim 2>/dev/null; uninstall; rm -rf "$tmp"' EXIT
failures=0 passes=0
check() {
    if [ "$1" = 0 ]; then echo "ok - $2"; passes=$((passes + 1)); else echo "not ok - $2${3:+: $3}"; failures=$((failures + 1)); fi
}

# Two builds: different folders (and lengths of path), one after the other.
one=$tmp/first
two=$tmp/a-second-folder-with-a-longer-name
for side in "$one" "$two"; do
    git clone -q "$repo" "$side/src"
    (cd "$side/src" && bash scripts/release.sh "$side/dist" >"$side/release.log" 2>&1) ||
        { cat "$side/release.log"; exit 1; }
    mkdir -p "$side/x"
    for z in "$side"/dist/*.zip; do (cd "$side/x" && unzip -q "$z"); done
    for d in "$side"/dist/*.deb; do dpkg-deb -x "$d" "$side/x/deb"; done
    # the second build with the first one's library installed, as after a
    # user installed the release and rebuilt it to check it
    if [ "$side" = "$one" ] && [ "$(id -u)" = 0 ] &&
        [ "$(dpkg-query -W -f='${Status}' libvolmirax1 2>/dev/null)" != "install ok installed" ]; then
        dpkg -i "$side"/dist/libvolmirax1_*.deb >/dev/null && installed=1
    fi
done
check "$([ -n "$installed" ] && echo 0 || echo 1)" "the second build ran with the release's library installed"
uninstall
for f in volmirax-1.0.0.1-win32/bin/VOLMIRAX.dll volmirax-1.0.0.1-win64/bin/VOLMIRAX.dll \
         volmirax-1.0.0.1-win32/bin/volmirax.exe volmirax-1.0.0.1-win64/bin/volmirax.exe \
         deb/usr/lib/x86_64-linux-gnu/libvolmirax.so.1.0.0 deb/usr/bin/volmirax deb/usr/bin/devsim; do
    check "$(cmp -s "$one/x/$f" "$two/x/$f"; echo $?)" "reproducible: $f"
done
check "$(cmp -s "$one/dist/SHA256SUMS" "$two/dist/SHA256SUMS"; echo $?)" "reproducible: every file of the release (SHA256SUMS)" \
    "$(diff "$one/dist/SHA256SUMS" "$two/dist/SHA256SUMS" | tr '\n' ' ')"
check "$(cd "$one/dist" && sha256sum --quiet -c SHA256SUMS >/dev/null 2>&1; echo $?)" "SHA256SUMS checks the release"

# Debian packages.
dist=$one/dist
lint=$(lintian --tag-display-limit 0 "$dist"/*.deb 2>&1 | grep -v 'root privileges' || true)
check "$(grep -q '^E:' <<<"$lint" && echo 1 || echo 0)" "lintian reports no error on the packages" "$(grep '^E:' <<<"$lint" | tr '\n' ' ')"
echo "$lint" | sed 's/^/# lintian: /'
pedantic=$(lintian --pedantic -I --tag-display-limit 0 "$dist"/*.deb 2>&1 | grep -v 'root privileges' | grep '^[EWIP]:' || true)
check "$([ -z "$pedantic" ] && echo 0 || echo 1)" "lintian --pedantic -I has nothing to say" "$(tr '\n' ' ' <<<"$pedantic")"
check "$(dpkg-deb --ctrl-tarfile "$dist"/libvolmirax1_*.deb | tar -t | grep -qE 'postinst|postrm' && echo 1 || echo 0)" \
    "libvolmirax1 has no maintainer scripts (its trigger runs ldconfig)"
depends=$(dpkg-deb -f "$dist"/volmirax-tools_*.deb Depends)
check "$([ "$(grep -o 'libvolmirax1' <<<"$depends" | wc -l)" = 1 ] && echo 0 || echo 1)" "volmirax-tools names libvolmirax1 once" "$depends"
[[ "$depends" == *"libvolmirax1 (= 1.0.0.1)"* && "$depends" == *"libc6"* ]] && deps=0 || deps=1
check $deps "volmirax-tools depends on libvolmirax1 and the C and C++ libraries (found by the generator)" "$depends"
[ "$(dpkg-deb -f "$dist"/libvolmirax-dev_*.deb Depends)" = "libvolmirax1 (= 1.0.0.1)" ] && deps=0 || deps=1
check $deps "libvolmirax-dev depends on libvolmirax1"
root=$one/x/deb
check "$(grep -qx 'prefix=/usr' "$root/usr/lib/x86_64-linux-gnu/pkgconfig/volmirax.pc" && echo 0 || echo 1)" \
    "the packages' pkg-config file gives the plain installed paths"
for page in volmirax devsim; do
    zcat "$root/usr/share/man/man1/$page.1.gz" | grep -q '^\.TH' && man=0 || man=1
    check $man "volmirax-tools has the manual page of $page"
done
for pkg in libvolmirax1 libvolmirax-dev volmirax-tools; do
    check "$([ -s "$root/usr/share/doc/$pkg/copyright" ] && echo 0 || echo 1)" "$pkg carries the licence"
done
"$root/usr/bin/devsim" --link "$tmp/ttyVMX" >/dev/null 2>&1 &
sim=$!
for _ in $(seq 50); do [ -L "$tmp/ttyVMX" ] && break; sleep 0.1; done
out=$(env -u LD_LIBRARY_PATH LD_LIBRARY_PATH="$root/usr/lib/x86_64-linux-gnu" "$root/usr/bin/volmirax" --device "$tmp/ttyVMX" version 2>&1) && rc=0 || rc=$?
[ $rc = 0 ] && grep -q 'VOLMIRAX-SIM 1.0' <<<"$out" && ran=0 || ran=1
check $ran "the unpacked tool drives the unpacked simulator" "$out"

# Wheels.
check "$(ldconfig -p | grep -q libvolmirax && echo 1 || echo 0)" "no libvolmirax on this machine's library path"
/usr/bin/python3 -m venv "$tmp/venv"
"$tmp/venv/bin/pip" install -q --no-index "$dist"/volmirax-1.0.0.1-py3-none-linux_x86_64.whl
out=$(cd "$tmp" && env -u LD_LIBRARY_PATH "$tmp/venv/bin/python" -c "
import sys, volmirax
with volmirax.Port(sys.argv[1]) as p:
    print(p.version().decode(), p._lib._name)
" "$tmp/ttyVMX" 2>&1) && rc=0 || rc=$?
[ $rc = 0 ] && [[ "$out" == "VOLMIRAX-SIM 1.0 $tmp/venv/"*"/volmirax/libvolmirax.so.1" ]] && wheel=0 || wheel=1
check $wheel "the Linux wheel, in a fresh virtual environment, drives the simulator with the library it carries" "$out"
for w in "win32 14c" "win_amd64 8664"; do
    set -- $w
    machine=$(/usr/bin/python3 - "$dist/volmirax-1.0.0.1-py3-none-$1.whl" <<'PY'
import struct, sys, zipfile
dll = zipfile.ZipFile(sys.argv[1]).read("volmirax/VOLMIRAX.dll")
pe = struct.unpack_from("<I", dll, 0x3C)[0]
assert dll[pe:pe + 4] == b"PE\0\0"
print(f"{struct.unpack_from('<H', dll, pe + 4)[0]:x}")
PY
)
    check "$([ "$machine" = "$2" ] && echo 0 || echo 1)" "the $1 wheel carries volmirax/VOLMIRAX.dll for machine 0x$2" "0x$machine"
done
# The npm package: the three libraries where the package looks, each
# Windows DLL of its machine type; installed from the tarball into a fresh
# folder, it drives the simulator with the library it carries.
tgz=$(ls "$dist"/volmirax-*.tgz)
mkdir "$tmp/npm" && tar -xzf "$tgz" -C "$tmp/npm"
for w in "win32-ia32 14c" "win32-x64 8664"; do
    set -- $w
    machine=$(/usr/bin/python3 - "$tmp/npm/package/lib/$1/VOLMIRAX.dll" <<'PY'
import struct, sys
dll = open(sys.argv[1], "rb").read()
pe = struct.unpack_from("<I", dll, 0x3C)[0]
print(f"{struct.unpack_from('<H', dll, pe + 4)[0]:x}")
PY
)
    check "$([ "$machine" = "$2" ] && echo 0 || echo 1)" "the npm package carries lib/$1/VOLMIRAX.dll for machine 0x$2" "0x$machine"
done
mkdir "$tmp/npm-app"
out=$(cd "$tmp/npm-app" && npm init -y >/dev/null && npm install --no-audit --no-fund --loglevel=error "$tgz" >/dev/null &&
      env -u LD_LIBRARY_PATH node -e "
const { Port, libraryPath } = require('volmirax');
const p = new Port(process.argv[1]);
console.log(p.version().toString(), libraryPath());
p.close();" "$tmp/ttyVMX" 2>&1) && rc=0 || rc=$?
[ $rc = 0 ] && [[ "$out" == "VOLMIRAX-SIM 1.0 $tmp/npm-app/node_modules/volmirax/lib/linux-x64/libvolmirax.so.1" ]] && npm=0 || npm=1
check $npm "the npm package, installed into a fresh folder, drives the simulator with the library it carries" "$out"
# The NuGet package: its layout, and its library run from it.
out=$(bash "$repo/bindings/dotnet/nupkg_test.sh" "$dist/Volmirax.1.0.0.1.nupkg" "$root/usr/bin/devsim" 2>&1) && rc=0 || rc=$?
echo "$out" | grep -E '^(not )?ok' | sed 's/^/# /'
check $rc "the NuGet package has NuGet's layout and its library drives the simulator" "$(grep '^not ok' <<<"$out" | tr '\n' ' ')"
echo "release: $passes passed, $failures failed"
[ "$failures" = 0 ]
