// The table of open ports. Records are made as slots are first used and
// kept for the next port of the slot, so a record is never freed under a
// call that another thread is still making with a handle just closed:
// that call finds its handle dead at its next step.
#include <errno.h>
#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>

#include "link/posix/posix_port.h"

namespace {

enum {
    SLOT_BITS = 10,
    MAX_PORTS = 1 << SLOT_BITS
};

// The top byte of every handle: small integers and addresses never match.
const unsigned kTagShift = sizeof(uintptr_t) * 8 - 8;
const uintptr_t kTag = (uintptr_t)0x56 << kTagShift;
const uintptr_t kLow = ((uintptr_t)1 << kTagShift) - 1;  // generation and slot
const uintptr_t kGenerationMask = kLow >> SLOT_BITS;

struct Slot {
    PosixPort *record;
    uintptr_t generation;  // of the live port; 0 while the slot is free
    uintptr_t last;        // the generation last handed out
    int reserved;
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
        if (slot.generation != 0 || slot.reserved)
            continue;
        if (slot.record == 0) {
            slot.record = (PosixPort *)malloc(sizeof(PosixPort));
            if (slot.record == 0) {
                errno = ENOMEM;
                return 0;
            }
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
    Slot *slot = SlotOf(port);
    slot->reserved = 0;
    slot->last = (slot->last + 1) & kGenerationMask;
    if (slot->last == 0)
        slot->last = 1;
    slot->generation = slot->last;
    return (HANDLE)(kTag | slot->generation << SLOT_BITS | (uintptr_t)(slot - g_slots));
}

PosixPort *FindPort(HANDLE handle)
{
    Lock lock;
    Slot *slot = LiveSlot(handle);
    if (slot == 0) {
        errno = EBADF;
        return 0;
    }
    return slot->record;
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
    const int fd = slot->record->fd;
    slot->record->fd = -1;
    return fd;
}
