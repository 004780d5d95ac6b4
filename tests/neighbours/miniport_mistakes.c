/*
 * A video miniport that gets one thing wrong, chosen at build time
 * (MINIPORT_MISTAKE_<NAME>); without one it runs right.  It attaches
 * zerval.sys in HwVidFindAdapter (with the AttachParam value of its registry
 * key), prints a line, and answers the mode requests with every record the
 * module published, the unusable ones and the three leading ones too, copied
 * with the kernel's memcpy.
 */
#include <ntdef.h>
#include <dderror.h>
#include <devioctl.h>
#include <miniport.h>
#include <video.h>
#include <ntddvdeo.h>

#include "zerval.h"

#define MINIPORT_TAG 0x696E694Du  /* "Mini" */

/* The run-time routines of ntoskrnl.exe, as a compiler reaches them. */
DECLSPEC_IMPORT ULONG __cdecl DbgPrint(PCSTR Format, ...);
void *__cdecl memcpy(void *to, const void *from, size_t bytes);

/* The kernel's pool, as ntddk.h (which video.h excludes) declares it. */
#define MINIPORT_NON_PAGED_POOL 0
DECLSPEC_IMPORT PVOID NTAPI ExAllocatePoolWithTag(ULONG PoolType, SIZE_T NumberOfBytes, ULONG Tag);
DECLSPEC_IMPORT VOID NTAPI ExFreePoolWithTag(PVOID P, ULONG Tag);
DECLSPEC_IMPORT VOID NTAPI ExFreePool(PVOID P);

#ifdef MINIPORT_MISTAKE_CDECL_CALLBACK
#define CALLBACK_CONVENTION __cdecl
#else
#define CALLBACK_CONVENTION NTAPI
#endif

static VP_STATUS CALLBACK_CONVENTION ReadDword(PVOID HwDeviceExtension, PVOID Context, PWSTR ValueName,
                                               PVOID ValueData, ULONG ValueLength)
{
    (void)HwDeviceExtension;
    (void)ValueName;
    if (ValueLength == sizeof(ULONG))
        *(ULONG *)Context = *(ULONG *)ValueData;
    return NO_ERROR;
}

/* A REG_SZ value into the (at most 32-byte) buffer at Context. */
static VP_STATUS NTAPI ReadText(PVOID HwDeviceExtension, PVOID Context, PWSTR ValueName, PVOID ValueData,
                                ULONG ValueLength)
{
    ULONG i;
    (void)HwDeviceExtension;
    (void)ValueName;
    for (i = 0; i < ValueLength && i < 32; ++i)
        ((PUCHAR)Context)[i] = ((PUCHAR)ValueData)[i];
    return NO_ERROR;
}

#ifdef MINIPORT_MISTAKE_ZERO_RDATA
static const ULONG kConstant[4] = {1, 2, 3, 4};
#endif

static VP_STATUS NTAPI FindAdapter(PVOID HwDeviceExtension, PVOID HwContext, PWSTR ArgumentString,
                                   PVIDEO_PORT_CONFIG_INFO ConfigInfo, PUCHAR Again)
{
    ULONG attachParam = 0;
    UCHAR result = 0xFF;
    (void)HwContext;
    (void)ArgumentString;
    (void)ConfigInfo;
    *Again = FALSE;
#ifdef MINIPORT_MISTAKE_WRONG_TAG
    {
        PVOID block = ExAllocatePoolWithTag(MINIPORT_NON_PAGED_POOL, 64, MINIPORT_TAG);
        ExFreePoolWithTag(block, MINIPORT_TAG + 1);
    }
#endif
#ifdef MINIPORT_MISTAKE_UNSERVED
    VideoPortQueryServices(HwDeviceExtension, VideoPortServicesAGP, NULL);  /* not served */
#endif
    VideoPortGetRegistryParameters(HwDeviceExtension, L"AttachParam", FALSE,
                                   (PMINIPORT_GET_REGISTRY_ROUTINE)ReadDword, &attachParam);
    if (!lDllAttach(0, 0, 0, attachParam, &result))
        return ERROR_DEV_NOT_EXIST;
    DbgPrint("%s: AttachParam %lu, %lu records of %u bytes, tag %08lx\n", "miniport", attachParam, ORVX_NUM_MODES,
             (unsigned)sizeof(VIDEO_MODE_INFORMATION), (ULONG)MINIPORT_TAG);
    {
        /* The adapter's ports, registers and registry key, and a pool
           request larger than the pool. */
        VIDEO_ACCESS_RANGE ranges[3];
        PUCHAR registers;
        ULONG port;
        WCHAR name[16] = {0};
        PVOID huge;
        VideoPortGetAccessRanges(HwDeviceExtension, 0, NULL, 3, ranges, NULL, NULL, NULL);
        registers = (PUCHAR)VideoPortGetDeviceBase(HwDeviceExtension, ranges[1].RangeStart, ranges[1].RangeLength, FALSE);
        port = ranges[2].RangeStart.LowPart + 4;
        VideoPortWritePortUchar((PUCHAR)port, 0x5A);
        VideoPortWriteRegisterUlong((PULONG)(registers + 0x10), 0x12345678u);
        VideoPortSetRegistryParameters(HwDeviceExtension, L"Name", L"zerval", 14);
        VideoPortGetRegistryParameters(HwDeviceExtension, L"NAME", FALSE, ReadText, name);
        huge = VideoPortAllocatePool(HwDeviceExtension, VpNonPagedPool, 0x80000000u, MINIPORT_TAG);
        DbgPrint("port 0x%lx: %02x then %02x, register %08lx, Name %ws, a pool of 2 GiB %s\n", port,
                 VideoPortReadPortUchar((PUCHAR)port), VideoPortReadPortUchar((PUCHAR)(port + 1)),
                 VideoPortReadRegisterUlong((PULONG)(registers + 0x10)), name, huge == NULL ? "refused" : "given");
    }
#ifdef MINIPORT_MISTAKE_ZERO_RDATA
    VideoPortZeroMemory((PVOID)kConstant, sizeof kConstant);  /* read-only data */
#endif
#ifdef MINIPORT_MISTAKE_FREES_PUBLISHED
    ExFreePool(pModeInfoFromBIOSDLL);  /* the display driver may; then it may not read it */
#endif
    return NO_ERROR;
}

static BOOLEAN NTAPI Initialize(PVOID HwDeviceExtension)
{
    (void)HwDeviceExtension;
    return TRUE;
}

static BOOLEAN NTAPI StartIO(PVOID HwDeviceExtension, PVIDEO_REQUEST_PACKET Request)
{
    (void)HwDeviceExtension;
    Request->StatusBlock->Information = 0;
    Request->StatusBlock->Status = ERROR_INVALID_FUNCTION;
    if (Request->IoControlCode == IOCTL_VIDEO_QUERY_AVAIL_MODES &&
        Request->OutputBufferLength >= ORVX_NUM_MODES * sizeof(VIDEO_MODE_INFORMATION)) {
        memcpy(Request->OutputBuffer, pModeInfoFromBIOSDLL, ORVX_NUM_MODES * sizeof(VIDEO_MODE_INFORMATION));
        Request->StatusBlock->Information = ORVX_NUM_MODES * sizeof(VIDEO_MODE_INFORMATION);
        Request->StatusBlock->Status = NO_ERROR;
    }
#ifdef MINIPORT_MISTAKE_PAST_INPUT
    if (Request->IoControlCode == IOCTL_VIDEO_SET_CURRENT_MODE)
        Request->StatusBlock->Status = ((ULONG *)Request->InputBuffer)[1];  /* VIDEO_MODE is one ULONG */
#endif
    if (Request->IoControlCode == IOCTL_VIDEO_QUERY_NUM_AVAIL_MODES) {
        ULONG *out = (ULONG *)Request->OutputBuffer;
        out[0] = ORVX_NUM_MODES;
        out[1] = sizeof(VIDEO_MODE_INFORMATION);
#ifdef MINIPORT_MISTAKE_PAST_OUTPUT
        out[2] = 0;  /* VIDEO_NUM_MODES is two ULONGs */
#endif
        Request->StatusBlock->Information = 2 * sizeof(ULONG);
#ifdef MINIPORT_MISTAKE_INFORMATION
        Request->StatusBlock->Information = 4 * sizeof(ULONG);
#endif
        Request->StatusBlock->Status = NO_ERROR;
    }
#ifdef MINIPORT_MISTAKE_START_IO_FALSE
    return FALSE;
#else
    return TRUE;
#endif
}

ULONG NTAPI DriverEntry(PVOID Context1, PVOID Context2)
{
    VIDEO_HW_INITIALIZATION_DATA init;
    VideoPortZeroMemory(&init, sizeof init);
    init.HwInitDataSize = sizeof init;
#ifdef MINIPORT_MISTAKE_INIT_DATA_SIZE
    init.HwInitDataSize = 12;
#endif
    init.HwFindAdapter = FindAdapter;
    init.HwInitialize = Initialize;
    init.HwStartIO = StartIO;
#ifdef MINIPORT_MISTAKE_NO_START_IO
    init.HwStartIO = NULL;
#endif
    return VideoPortInitialize(Context1, Context2, &init, NULL);
}
