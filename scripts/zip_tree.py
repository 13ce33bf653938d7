"""A zip of a folder that is the same bytes for the same files: entries in
name order under one top folder (none when TOP is empty), every time stamp
SOURCE_DATE_EPOCH, modes kept (executables stay executable), no extra
fields.
    python3 zip_tree.py FOLDER OUT.zip TOP"""

import os
import sys
import time
import zipfile

folder, out, top = sys.argv[1:4]
stamp = time.gmtime(int(os.environ.get("SOURCE_DATE_EPOCH", "315532800")))
date_time = (max(stamp.tm_year, 1980),) + tuple(stamp[1:6])
files = []
for root, dirs, names in os.walk(folder):
    files += [os.path.join(root, n) for n in names]
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
    for path in sorted(files, key=lambda p: os.path.relpath(p, folder)):
        name = os.path.relpath(path, folder).replace(os.sep, "/")
        info = zipfile.ZipInfo(top + "/" + name if top else name, date_time)
        info.compress_type = zipfile.ZIP_DEFLATED
        info.external_attr = (0o755 if os.access(path, os.X_OK) else 0o644) << 16
        info.create_system = 3
        with open(path, "rb") as f:
            z.writestr(info, f.read(), compresslevel=9)
