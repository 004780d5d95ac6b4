// The team display driver's mode records in the kernel's pool, with the
// kernel's own header.
#include <ntddk.h>
#include <ntddvdeo.h>

#include "team_display.h"

#define TEAM_POOL_TAG 0x6D546554u  // 'TeTm'

VIDEO_MODE_INFORMATION *TeamAllocateModes(ULONG count)
{
    return ExAllocatePoolWithTag(NonPagedPool, count * sizeof(VIDEO_MODE_INFORMATION), TEAM_POOL_TAG);
}

void TeamFreeModes(VIDEO_MODE_INFORMATION *modes)
{
    ExFreePoolWithTag(modes, TEAM_POOL_TAG);
}
