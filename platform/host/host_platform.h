// host_platform.h - kernel and video-port calls as the host build declares
// them.  The host program links the definitions (see the doubles library).
#ifndef ZERVAL_HOST_PLATFORM_H
#define ZERVAL_HOST_PLATFORM_H

#include "zerval_host_types.h"

#define ZERVAL_SIBLING_IMPORT

extern "C" {
PVOID ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag);
VOID ExFreePool(PVOID P);
VOID VideoPortZeroMemory(PVOID Destination, ULONG Length);
}

#endif // ZERVAL_HOST_PLATFORM_H
