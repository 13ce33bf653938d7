#!/bin/busybox sh
# The guest's first process: loads the virtio and 9p modules, mounts the
# host's / read-only and the checkout read-write at its own path, gives the
# chroot its own /proc, /sys, /dev, /tmp, and runs the job there. The
# job's exit status lands in its folder; then the guest powers off.
/bin/busybox --install -s /bin
[ -n "$VMX_DEBUG" ] && set -x
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for m in $(cat /modules.order); do
    insmod "/modules/$m.ko" || echo "vm32: module $m did not load"
done
for arg in $(cat /proc/cmdline); do
    case $arg in
        vmx.checkout=*) checkout=${arg#vmx.checkout=} ;;
        vmx.job=*) job=${arg#vmx.job=} ;;
    esac
done
opts=trans=virtio,version=9p2000.L,msize=512000
mkdir -p /host
if mount -t 9p -o "$opts,ro,cache=loose" hostroot /host; then
    mount -t proc proc /host/proc
    mount -t sysfs sys /host/sys
    mount -t devtmpfs dev /host/dev
    mkdir -p /host/dev/pts /host/dev/shm
    mount -t devpts -o ptmxmode=0666 devpts /host/dev/pts
    ln -sf pts/ptmx /host/dev/ptmx
    ln -sf /proc/self/fd /host/dev/fd
    mount -t tmpfs -o mode=1777 shm /host/dev/shm
    mount -t tmpfs -o mode=1777 tmp /host/tmp
    mount -t tmpfs -o mode=755 run /host/run
    mount -t tmpfs -o mode=1777 vartmp /host/var/tmp
    # the checkout last, so that no tmpfs hides one that lives under /tmp
    mkdir -p "/host$checkout" 2>/dev/null
    mount -t 9p -o "$opts,cache=mmap" checkout "/host$checkout" ||
        echo "vm32: the checkout could not be mounted at $checkout"
    # through a pipe, not the console: programs then write plain lines
    # (Wine draws on a terminal with cursor moves)
    chroot /host /bin/bash "$job/run.sh" </dev/null 2>&1 | cat >/dev/console
else
    echo "vm32: the host's files could not be mounted"
fi
sync
poweroff -f
