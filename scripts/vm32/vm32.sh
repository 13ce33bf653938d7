#!/bin/bash
# Runs a command on a 32-bit-capable kernel: Debian's own amd64 kernel under
# QEMU's full-system emulation (TCG), for machines whose kernel cannot run
# 32-bit x86 code. The guest sees the host's / read-only and the checkout
# read-write at its own path, and runs COMMAND in a chroot of the host's
# files: Wine, CTest, Python and the simulator all come from the host,
# nothing is installed in the guest, and what COMMAND writes under the
# checkout stays there.
#
#   vm32.sh [--timeout SECONDS] [--wine] COMMAND [ARGS...]
#
# COMMAND runs in the current folder (which must be inside the checkout)
# with VOLMIRAX_LANE=emulated. --wine gives it a booted win32 Wine prefix
# with a persistent server (VOLMIRAX_WINE_PREFIX): made once per wine32
# version and kept as a template in the cache. Exits with COMMAND's status;
# 125 when the guest itself failed, saying what failed and where its log is.
#
# Cache: $VOLMIRAX_VM32_CACHE, by default build/vm32 in the checkout.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
checkout=$(cd "$here/../.." && pwd)
timeout=1500 wine=
while [ $# -gt 0 ]; do
    case $1 in
        --timeout) timeout=$2; shift 2 ;;
        --wine) wine=1; shift ;;
        *) break ;;
    esac
done
[ $# -gt 0 ] || { echo "usage: vm32.sh [--timeout SECONDS] [--wine] COMMAND [ARGS...]" >&2; exit 2; }
case $PWD/ in
    "$checkout"/*) ;;
    *) echo "vm32: run it from inside the checkout ($checkout)" >&2; exit 2 ;;
esac
cache=${VOLMIRAX_VM32_CACHE:-$checkout/build/vm32}
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)
case $cache/ in
    "$checkout"/*) ;;
    *) echo "vm32: the cache must be inside the checkout, which the guest writes" >&2; exit 2 ;;
esac

fail() { echo "vm32: $*" >&2; exit 125; }

# Debian's current amd64 kernel, unpacked, never installed.
kernel_pkg=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/{print $2; exit}')
[ -n "$kernel_pkg" ] || fail "no linux-image-amd64 in the package lists (apt-get update?)"
kdir=$cache/$kernel_pkg
if [ ! -f "$kdir/ready" ]; then
    echo "vm32: fetching $kernel_pkg (once)"
    rm -rf "$kdir" && mkdir -p "$kdir/dl"
    (cd "$kdir/dl" && apt-get download "$kernel_pkg" >"$kdir/download.log" 2>&1) ||
        fail "apt-get download $kernel_pkg failed: see $kdir/download.log"
    dpkg-deb --fsys-tarfile "$kdir"/dl/*.deb |
        tar -x -C "$kdir/dl" --wildcards './boot/vmlinuz-*' './lib/modules/*/kernel/drivers/virtio/*' \
            './lib/modules/*/kernel/net/9p/*' './lib/modules/*/kernel/fs/9p/*' \
            './lib/modules/*/kernel/fs/netfs/*' './lib/modules/*/kernel/fs/fscache/*' ||
        fail "unpacking $kernel_pkg failed"
    mv "$kdir"/dl/boot/vmlinuz-* "$kdir/vmlinuz"
    mkdir -p "$kdir/modules"
    find "$kdir/dl/lib/modules" -name '*.ko' -exec mv {} "$kdir/modules/" \;
    rm -rf "$kdir/dl"
    touch "$kdir/ready"
fi

# The initramfs: busybox, the modules in their depends= order, the init.
initrd=$cache/initrd-$kernel_pkg.cpio
if [ ! -f "$initrd" ] || [ "$here/guest_init.sh" -nt "$initrd" ]; then
    root=$(mktemp -d)
    mkdir -p "$root/bin" "$root/proc" "$root/sys" "$root/dev" "$root/modules"
    cp /bin/busybox "$root/bin/busybox"
    file -b "$root/bin/busybox" | grep -q 'statically linked' || fail "/bin/busybox is not static (install busybox-static)"
    cp "$here/guest_init.sh" "$root/init" && chmod 755 "$root/init"
    order=()
    add_module() {
        local m=$1 dep
        for done_m in "${order[@]}"; do [ "$done_m" = "$m" ] && return 0; done
        [ -f "$kdir/modules/$m.ko" ] || fail "module $m is not in $kernel_pkg"
        for dep in $(tr '\0' '\n' <"$kdir/modules/$m.ko" | sed -n 's/^depends=//p' | tr ',' ' '); do
            add_module "$dep"
        done
        order+=("$m")
    }
    for m in virtio_pci 9pnet_virtio 9p; do add_module "$m"; done
    for m in "${order[@]}"; do cp "$kdir/modules/$m.ko" "$root/modules/"; done
    printf '%s\n' "${order[@]}" >"$root/modules.order"
    (cd "$root" && find . | busybox cpio -o -H newc >"$initrd.new" 2>/dev/null) || fail "making the initramfs failed"
    mv "$initrd.new" "$initrd"
    rm -rf "$root"
fi

# The job: COMMAND in the current folder, its status in the job folder.
job=$(mktemp -d "$cache/job.XXXXXX")
trap 'rm -rf "$job"' EXIT
{
    echo '#!/bin/bash'
    echo 'export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin'
    echo 'export HOME=/tmp/home LANG=C.UTF-8 VOLMIRAX_LANE=emulated'
    echo 'mkdir -p "$HOME"'
    # the caller's VOLMIRAX_* settings and CTest's own
    env | awk '/^(VOLMIRAX_[A-Z0-9_]*|CTEST_[A-Z_]*)=/ && !/^VOLMIRAX_LANE=/' |
        while IFS= read -r kv; do printf 'export %q\n' "$kv"; done
    printf 'cache=%q\n' "$cache"
    printf 'cd %q || exit 126\n' "$PWD"
    if [ -n "$wine" ]; then
        printf '. %q || { echo 126 >%q; exit; }\n' "$here/guest_wine.sh" "$job/rc"
    fi
    printf '%q ' "$@"
    echo
    printf 'echo $? >%q\n' "$job/rc"
} >"$job/run.sh"

# TCG always: a /dev/kvm in a virtual machine may be there and still fail.
# Without -smap, QEMU 7.2's TCG faults 32-bit processes at their iret.
accel=(-accel tcg,thread=multi -cpu max,-smap)
# 8250.nr_uarts=1: Wine maps COM1-COM4 to /dev/ttyS0-3; the guest has one
timeout -k 10 "$timeout" qemu-system-x86_64 "${accel[@]}" -smp "$(nproc)" -m 4096 \
    -display none -monitor none -serial "file:$job/console.log" -no-reboot \
    -kernel "$kdir/vmlinuz" -initrd "$initrd" \
    -append "console=ttyS0 8250.nr_uarts=1 panic=-1 quiet loglevel=3 vmx.checkout=$checkout vmx.job=$job" \
    -virtfs "local,path=/,mount_tag=hostroot,security_model=none,multidevs=remap,readonly=on" \
    -virtfs "local,path=$checkout,mount_tag=checkout,security_model=none,multidevs=remap" \
    >"$job/qemu.log" 2>&1 &
qemu=$!
touch "$job/console.log"
tail -n +1 -f --pid=$qemu "$job/console.log" | sed -u -e 's/\r$//' -e '/^\[ *[0-9.]*\] reboot: Power down$/d' &
tailer=$!
wait $qemu && qemu_rc=0 || qemu_rc=$?
wait $tailer 2>/dev/null || true
if [ -f "$job/rc" ]; then
    exit "$(cat "$job/rc")"
fi
keep=$cache/failed-$(date +%Y%m%d-%H%M%S)
cp -r "$job" "$keep"
if [ $qemu_rc -eq 124 ] || [ $qemu_rc -eq 137 ]; then
    fail "the guest ran over ${timeout} s and was stopped: see $keep/console.log"
fi
fail "the guest ended without the job's status (QEMU status $qemu_rc): see $keep/console.log and $keep/qemu.log"
