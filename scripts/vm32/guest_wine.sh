# Sourced by a job in the guest (vm32.sh --wine): a booted win32 Wine prefix
# in the guest's memory with a persistent server, as VOLMIRAX_WINE_PREFIX.
# Booting a prefix under emulation costs minutes, so the first run keeps
# it as a template in the cache, keyed on the wine32 version; the DLLs
# identical to Wine's own are kept as links to them.
wine_version=$(dpkg-query -W -f='${Version}' wine32:i386 2>/dev/null) || {
    echo "vm32: wine32:i386 is not installed" >&2; return 1; }
template=$cache/wine32-prefix-${wine_version//[^A-Za-z0-9.+-]/_}.tar
export WINEARCH=win32 WINEDEBUG=-all
export VOLMIRAX_WINE_PREFIX=/tmp/wine32
if [ ! -f "$template" ]; then
    echo "vm32: making a win32 Wine prefix for wine32 $wine_version (once; a few minutes under emulation)"
    WINEPREFIX=$VOLMIRAX_WINE_PREFIX wineboot -i >"$cache/wineboot.log" 2>&1 || {
        echo "vm32: wineboot failed: see $cache/wineboot.log" >&2; return 1; }
    WINEPREFIX=$VOLMIRAX_WINE_PREFIX wineserver -w
    python3 - "$VOLMIRAX_WINE_PREFIX/drive_c" <<'LINK'
import filecmp, glob, os, sys
wine_own = {}
for d in ["/usr/lib/i386-linux-gnu/wine/i386-windows"] + glob.glob("/usr/share/wine/*"):
    for n in (os.listdir(d) if os.path.isdir(d) else []):
        wine_own.setdefault(n.lower(), []).append(os.path.join(d, n))
for root, _, files in os.walk(sys.argv[1]):
    for n in files:
        f = os.path.join(root, n)
        for b in wine_own.get(n.lower(), []):
            if not os.path.islink(f) and os.path.isfile(b) and filecmp.cmp(f, b, shallow=False):
                os.remove(f)
                os.symlink(b, f)
                break
LINK
    tar -C "$VOLMIRAX_WINE_PREFIX" -cf "$template.new" . && mv "$template.new" "$template"
else
    mkdir -p "$VOLMIRAX_WINE_PREFIX"
    tar -C "$VOLMIRAX_WINE_PREFIX" -xf "$template"
fi
# its own session, so that no hang-up of the console reaches it; and Wine's
# own services started now, so that no test's output stays open in them
WINEPREFIX=$VOLMIRAX_WINE_PREFIX setsid wineserver -p </dev/null >/dev/null 2>&1
WINEPREFIX=$VOLMIRAX_WINE_PREFIX setsid wine cmd /c exit </dev/null >/dev/null 2>&1
