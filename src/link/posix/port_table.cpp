// The table of open ports. Records are made as slots are first used and
// kept for the next port of the slot. A link operation holds the record
// while it runs (UsePort .. LeavePort): a port closed under it is released
// at once, but its record and descriptor number are not reused until the
// last operation has left, so a call on a closed handle never reaches a
// port or a file opened later.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "link/posix/posix_port.h"

namespace {

enum {
    SLOT_BITS = 10,
    MAX_PORTS = 1 << SLOT_BITS
};

// The top byte of every handle: small integers never match it, and most
// garbage does not; what does still needs the slot's generation.
const unsigned kTagShift = sizeof(uintptr_t) * 8 - 8;
const uintptr_t kTag = (uintptr_t)0x56 << kTagShift;
const uintptr_t kLow = ((uintptr_t)1 << kTagShift) - 1;  // generation and slot
const uintptr_t kGenerationMask = kLow >> SLOT_BITS;

struct Slot {
    PosixPort *record;
    uintptr_t generation;  // of the live port; 0 while the slot is free
    uintptr_t last;        // the generation last handed out
    int reserved;
    int users;             // link operations inside the record now
    int closeLater;        // closed while in use: the last operation closes the descriptor
};

pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
Slot g_slots[MAX_PORTS];

struct Lock {
    Lock() { pthread_mutex_lock(&g_lock); }
    ~Lock() { pthread_mutex_unlock(&g_lock); }
};

// The slot of a live handle, or null.
Slot *LiveSlot(HANDLE handle)
{
    const uintptr_t value = (uintptr_t)handle;
    if ((value & ~kLow) != kTag)
        return 0;
    Slot *slot = &g_slots[value & (MAX_PORTS - 1)];
    const uintptr_t generation = (value & kLow) >> SLOT_BITS;
    return slot->generation != 0 && slot->generation == generation ? slot : 0;
}

Slot *SlotOfHandle(HANDLE handle)
{
    return &g_slots[(uintptr_t)handle & (MAX_PORTS - 1)];
}

// A port closed while an operation is inside it: the device is let go now
// (its locks dropped, the descriptor number pointed at /dev/null, so that
// a read or write still under way reaches nothing); the number itself
// stays taken until the last operation leaves.
void ReleaseInUse(int fd)
{
    ioctl(fd, TIOCNXCL);
    flock(fd, LOCK_UN);
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
        dup3(null, fd, O_CLOEXEC);
        close(null);
    }
}

// Sets the record's wake-up (readable from then on) or clears it. A full
// or failing eventfd changes nothing that matters: set is set.
void SetWake(int wakeFd, bool set)
{
    uint64_t value = 1;
    if (wakeFd < 0)
        return;
    const ssize_t n = set ? write(wakeFd, &value, sizeof value) : read(wakeFd, &value, sizeof value);
    (void)n;
}

Slot *SlotOf(const PosixPort *port)
{
    for (unsigned i = 0; i < MAX_PORTS; ++i)
        if (g_slots[i].record == port)
            return &g_slots[i];
    return 0;
}

}  // namespace

PosixPort *ReservePort(void)
{
    Lock lock;
    for (unsigned i = 0; i < MAX_PORTS; ++i) {
        Slot &slot = g_slots[i];
        if (slot.generation != 0 || slot.reserved || slot.users != 0 || slot.closeLater)
            continue;
        if (slot.record == 0) {
            slot.record = (PosixPort *)malloc(sizeof(PosixPort));
            if (slot.record == 0) {
                errno = ENOMEM;
                return 0;
            }
            slot.record->fd = -1;
            slot.record->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        }
        slot.reserved = 1;
        return slot.record;
    }
    errno = EMFILE;
    return 0;
}

HANDLE AddPort(PosixPort *port)
{
    Lock lock;
    // a close of the record's previous port may have left its wake-up set
    SetWake(port->wakeFd, false);
    Slot *slot = SlotOf(port);
    slot->reserved = 0;
    slot->last = (slot->last + 1) & kGenerationMask;
    if (slot->last == 0)
        slot->last = 1;
    slot->generation = slot->last;
    return (HANDLE)(kTag | slot->generation << SLOT_BITS | (uintptr_t)(slot - g_slots));
}

PosixPort *UsePort(HANDLE handle)
{
    Lock lock;
    Slot *slot = LiveSlot(handle);
    if (slot == 0) {
        errno = EBADF;
        return 0;
    }
    ++slot->users;
    return slot->record;
}

void LeavePort(HANDLE handle)
{
    int fd = -1;
    {
        Lock lock;
        Slot *slot = SlotOfHandle(handle);
        if (--slot->users == 0 && slot->closeLater) {
            slot->closeLater = 0;
            fd = slot->record->fd;
            slot->record->fd = -1;
        }
    }
    if (fd >= 0)
        close(fd);
}

int StillOpen(HANDLE handle)
{
    Lock lock;
    if (LiveSlot(handle) != 0)
        return 1;
    errno = EBADF;
    return 0;
}

int RemovePort(HANDLE handle)
{
    Lock lock;
    Slot *slot = LiveSlot(handle);
    if (slot == 0) {
        errno = EBADF;
        return -1;
    }
    slot->generation = 0;
    if (slot->users != 0) {
        ReleaseInUse(slot->record->fd);
        // the operations inside wake from poll() and find the handle dead
        SetWake(slot->record->wakeFd, true);
        slot->closeLater = 1;
        return PORT_CLOSED_LATER;
    }
    const int fd = slot->record->fd;
    slot->record->fd = -1;
    return fd;
}
