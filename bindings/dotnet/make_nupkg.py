"""The NuGet package of the C# binding, the same bytes from the same commit:
Volmirax.cs compiled as a library with Mono's mcs (which targets the .NET
Framework 4.5 profile: lib/net45/), its XML documentation beside it, and
the native libraries where .NET looks for them (runtimes/RID/native/).
mcs gives each build a random module id (MVID); it is replaced with one
drawn from the assembly's own bytes, so that a rebuild is identical.
    python3 make_nupkg.py OUT_FOLDER win-x86=DLL win-x64=DLL linux-x64=SO"""

import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile

VERSION = "1.0.0.1"
here = os.path.dirname(os.path.abspath(__file__))
repo = os.path.dirname(os.path.dirname(here))
out_folder, natives = sys.argv[1], sys.argv[2:]

NUSPEC = f"""<?xml version="1.0" encoding="utf-8"?>
<package xmlns="http://schemas.microsoft.com/packaging/2013/05/nuspec.xsd">
  <metadata>
    <id>Volmirax</id>
    <version>{VERSION}</version>
    <title>VOLMIRAX card device</title>
    <authors>The VOLMIRAX developers</authors>
    <license type="expression">MIT</license>
    <projectUrl>https://example.org/volmirax</projectUrl>
    <description>Drive a VOLMIRAX card device (reset, card ejection, version, any raw command) over an RS-232 serial line from .NET: the library's exports declared exactly, and VolmiraxPort, an IDisposable wrapper that turns result codes into exceptions. Carries VOLMIRAX.dll for Windows x86 and x64 and libvolmirax.so for Linux x64.</description>
    <releaseNotes>1.0.0.1: the first package. A port may be shared between threads (its calls are serialised); open errors carry the system's reason and words.</releaseNotes>
    <tags>serial rs232 card kiosk</tags>
  </metadata>
</package>
"""

CONTENT_TYPES = """<?xml version="1.0" encoding="utf-8"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">
  <Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml" />
  <Default Extension="nuspec" ContentType="application/octet" />
  <Default Extension="dll" ContentType="application/octet" />
  <Default Extension="xml" ContentType="application/octet" />
  <Default Extension="so" ContentType="application/octet" />
</Types>
"""

RELS = """<?xml version="1.0" encoding="utf-8"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
  <Relationship Type="http://schemas.microsoft.com/packaging/2010/07/manifest" Target="/Volmirax.nuspec" Id="R0" />
</Relationships>
"""


def rva_to_offset(data, rva):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    table = pe + 24 + optional
    for i in range(sections):
        size, address, _, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
        if address <= rva < address + max(size, 1):
            return rva - address + raw
    raise ValueError(f"RVA {rva:#x} is in no section")


def mvid_offset(data):
    """The file offset of the module's MVID: the first GUID of #GUID."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    directories = pe + 24 + (96 if magic == 0x10B else 112)
    cli_rva = struct.unpack_from("<I", data, directories + 14 * 8)[0]
    cli = rva_to_offset(data, cli_rva)
    metadata = rva_to_offset(data, struct.unpack_from("<I", data, cli + 8)[0])
    length = struct.unpack_from("<I", data, metadata + 12)[0]
    at = metadata + 16 + length + 2  # past the version string and the flags
    streams = struct.unpack_from("<H", data, at)[0]
    at += 2
    for _ in range(streams):
        offset, _size = struct.unpack_from("<II", data, at)
        name_start = at + 8
        name = data[name_start:data.index(b"\0", name_start)].decode()
        at = name_start + ((len(name) + 4) & ~3)
        if name == "#GUID":
            return metadata + offset
    raise ValueError("no #GUID stream")


def build(stage):
    lib = os.path.join(stage, "lib", "net45")
    os.makedirs(lib)
    dll = os.path.join(lib, "Volmirax.dll")
    subprocess.run(["mcs", "-nologo", "-target:library", "-optimize+", "-nowarn:1591", "-pathmap:" + repo + "=.",
                    "-doc:" + os.path.join(lib, "Volmirax.xml"), "-out:" + dll,
                    os.path.join(here, "Volmirax.cs")], check=True)
    data = bytearray(open(dll, "rb").read())
    at = mvid_offset(data)
    data[at:at + 16] = bytes(16)
    data[at:at + 16] = hashlib.sha256(data).digest()[:16]
    open(dll, "wb").write(data)
    for native in natives:
        rid, path = native.split("=", 1)
        folder = os.path.join(stage, "runtimes", rid, "native")
        os.makedirs(folder, exist_ok=True)
        shutil.copyfile(path, os.path.join(folder, "libvolmirax.so" if rid.startswith("linux") else "VOLMIRAX.dll"))
    for name, text in (("Volmirax.nuspec", NUSPEC), ("[Content_Types].xml", CONTENT_TYPES)):
        open(os.path.join(stage, name), "w").write(text)
    os.makedirs(os.path.join(stage, "_rels"))
    open(os.path.join(stage, "_rels", ".rels"), "w").write(RELS)
    for root, _dirs, names in os.walk(stage):
        for n in names:
            os.chmod(os.path.join(root, n), 0o644)


with tempfile.TemporaryDirectory() as stage:
    build(stage)
    out = os.path.join(out_folder, f"Volmirax.{VERSION}.nupkg")
    subprocess.run([sys.executable, os.path.join(repo, "scripts", "zip_tree.py"), stage, out, ""], check=True)
