#!/bin/bash
# The NuGet package as NuGet and .NET see it: its layout against NuGet's
# conventions (the manifest at the root, the library and its documentation
# under lib/net45/, each native library under runtimes/RID/native/ for its
# machine), then the compiled library from it, run under Mono with the
# package's linux-x64 native library against the simulator.
#   nupkg_test.sh NUPKG DEVSIM
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
nupkg=$(readlink -f "$1") devsim=$2
. "$here/../../tools/devsim/sim_session.sh"
failures=0
check() {
    if [ "$1" = 0 ]; then echo "ok - nupkg: $2"; else echo "not ok - nupkg: $2${3:+: $3}"; failures=$((failures + 1)); fi
}
mkdir "$tmp/pkg" && (cd "$tmp/pkg" && unzip -q "$nupkg")
listing=$(cd "$tmp/pkg" && find . -type f | sort | tr '\n' ' ')
want='./Volmirax.nuspec ./[Content_Types].xml ./_rels/.rels ./lib/net45/Volmirax.dll ./lib/net45/Volmirax.xml ./runtimes/linux-x64/native/libvolmirax.so ./runtimes/win-x64/native/VOLMIRAX.dll ./runtimes/win-x86/native/VOLMIRAX.dll '
check "$([ "$listing" = "$(tr ' ' '\n' <<<"$want" | sort | grep . | tr '\n' ' ')" ] && echo 0 || echo 1)" \
    "the files NuGet expects, and nothing else" "$listing"
checked=$(/usr/bin/python3 - "$tmp/pkg" <<'PY'
import os, struct, sys, xml.etree.ElementTree as ET
root = sys.argv[1]
ns = {"n": "http://schemas.microsoft.com/packaging/2013/05/nuspec.xsd"}
meta = ET.parse(os.path.join(root, "Volmirax.nuspec")).getroot().find("n:metadata", ns)
fields = {e.tag.split("}")[1]: (e.text or "").strip() for e in meta}
license = meta.find("n:license", ns)
ok = fields.get("id") == "Volmirax" and \
     all(fields.get(k) for k in ("version", "authors", "description", "releaseNotes", "projectUrl")) and \
     license is not None and license.get("type") == "expression" and license.text == "MIT"
print("ok - nupkg: the manifest has id, version, licence, project URL, description and release notes" if ok
      else f"not ok - nupkg: the manifest: {fields}")
for rid, machine in (("win-x86", 0x14C), ("win-x64", 0x8664)):
    dll = open(os.path.join(root, "runtimes", rid, "native", "VOLMIRAX.dll"), "rb").read()
    pe = struct.unpack_from("<I", dll, 0x3C)[0]
    got = struct.unpack_from("<H", dll, pe + 4)[0]
    print(("ok" if got == machine else "not ok") + f" - nupkg: runtimes/{rid}/native/VOLMIRAX.dll is for machine {machine:#x} ({got:#x})")
so = open(os.path.join(root, "runtimes", "linux-x64", "native", "libvolmirax.so"), "rb").read(20)
print(("ok" if so[:4] == b"\x7fELF" and struct.unpack_from("<H", so, 18)[0] == 62 else "not ok") +
      " - nupkg: runtimes/linux-x64/native/libvolmirax.so is an x86-64 ELF library")
doc = ET.parse(os.path.join(root, "lib", "net45", "Volmirax.xml")).getroot()
members = [m.get("name") for m in doc.iter("member")]
print(("ok" if "T:Volmirax.VolmiraxPort" in members and any(m.startswith("M:Volmirax.VolmiraxPort.Send") for m in members)
       else "not ok") + " - nupkg: the XML documentation documents VolmiraxPort for IDEs")
PY
)
echo "$checked"
failures=$((failures + $(grep -c '^not ok' <<<"$checked")))
# the library from the package, as a build puts it beside a program with
# the native library of its runtime
mkdir "$tmp/app"
cp "$tmp/pkg/lib/net45/Volmirax.dll" "$tmp/pkg/runtimes/linux-x64/native/libvolmirax.so" "$tmp/app/"
mcs -nologo -warnaserror -r:"$tmp/app/Volmirax.dll" -out:"$tmp/app/example.exe" "$here/example/Program.cs"
start_devsim "$devsim" --on '1=data=CARD 4711' >/dev/null 2>&1
out=$(cd "$tmp/app" && env -u LD_LIBRARY_PATH mono example.exe "$tmp/ttyVMX" 2>&1); rc=$?
check $rc "the compiled library from the package drives the simulator under Mono with the package's libvolmirax.so" "$out"
echo "$failures failed"
[ $failures = 0 ]
