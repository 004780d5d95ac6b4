/*
 * A video miniport as a display team writes one, on top of zerval.sys:
 * DriverEntry registers it with the video port; HwVidFindAdapter takes the
 * adapter's ranges, reads its registry value and attaches zerval.sys;
 * HwVidStartIO answers the display driver's mode requests from the list
 * zerval.sys published (the usable records only, after the three leading
 * records the miniport fills itself) and sets a mode through SetMode.
 *
 * Its device extension holds all its state; it has no globals but the
 * module's exported data.
 */
#include <ntdef.h>
#include <dderror.h>
#include <devioctl.h>
#include <miniport.h>
#include <video.h>
#include <ntddvdeo.h>

#include "zerval.h"

#define MINIPORT_NO_MODE 0xFFFFFFFFu
/* The register that enables the adapter's output, and its on value. */
#define MINIPORT_CONTROL_REGISTER 0x10u
#define MINIPORT_OUTPUT_ON 0x1u

typedef struct MINIPORT_EXTENSION {
    PHYSICAL_ADDRESS FrameBuffer;
    ULONG FrameBufferLength;
    PUCHAR Registers;
    ULONG AttachParam;
    ULONG ReportedModes;  /* the leading records and the usable published ones */
    ULONG CurrentMode;    /* an index of the reported list, or MINIPORT_NO_MODE */
} MINIPORT_EXTENSION;

/* The registry callback: a REG_DWORD value into the ULONG at Context. */
static VP_STATUS NTAPI ReadDword(PVOID HwDeviceExtension, PVOID Context, PWSTR ValueName, PVOID ValueData,
                                 ULONG ValueLength)
{
    (void)HwDeviceExtension;
    (void)ValueName;
    if (ValueLength != sizeof(ULONG))
        return ERROR_INVALID_PARAMETER;
    *(ULONG *)Context = *(ULONG *)ValueData;
    return NO_ERROR;
}

/* The published record that is reported at `index`, or NULL: the leading
   records first, then each usable record in the order zerval.sys
   published them. */
static VIDEO_MODE_INFORMATION *Reported(ULONG index)
{
    ULONG i;
    if (index < ZERVAL_LEADING_RECORDS)
        return &pModeInfoFromBIOSDLL[index];
    index -= ZERVAL_LEADING_RECORDS;
    for (i = ZERVAL_LEADING_RECORDS; i < ORVX_NUM_MODES; ++i) {
        if (pModeInfoFromBIOSDLL[i].Length != ZERVAL_MODE_USABLE)
            continue;
        if (index-- == 0)
            return &pModeInfoFromBIOSDLL[i];
    }
    return NULL;
}

/* The three leading records: the adapter's VGA text mode and two planar
   graphics modes, which zerval.sys leaves to the display driver. */
static void FillLeadingRecords(void)
{
    static const USHORT widths[ZERVAL_LEADING_RECORDS] = {720, 640, 640};
    static const USHORT heights[ZERVAL_LEADING_RECORDS] = {400, 350, 480};
    ULONG i;
    for (i = 0; i < ZERVAL_LEADING_RECORDS; ++i) {
        VIDEO_MODE_INFORMATION *mode = &pModeInfoFromBIOSDLL[i];
        VideoPortZeroMemory(mode, sizeof *mode);
        mode->Length = sizeof *mode;
        mode->VisScreenWidth = widths[i];
        mode->VisScreenHeight = heights[i];
        mode->NumberOfPlanes = i == 0 ? 1 : 4;
        mode->BitsPerPlane = 1;
        mode->Frequency = 70;
        mode->AttributeFlags = i == 0 ? VIDEO_MODE_COLOR : VIDEO_MODE_COLOR | VIDEO_MODE_GRAPHICS;
    }
}

static VP_STATUS NTAPI FindAdapter(PVOID HwDeviceExtension, PVOID HwContext, PWSTR ArgumentString,
                                   PVIDEO_PORT_CONFIG_INFO ConfigInfo, PUCHAR Again)
{
    MINIPORT_EXTENSION *ext = (MINIPORT_EXTENSION *)HwDeviceExtension;
    VIDEO_ACCESS_RANGE ranges[2];
    UCHAR attachResult = 0xFF;
    ULONG i;
    (void)HwContext;
    (void)ArgumentString;
    (void)ConfigInfo;
    *Again = FALSE;

    /* The frame buffer and the register range, in that order. */
    if (VideoPortGetAccessRanges(HwDeviceExtension, 0, NULL, 2, ranges, NULL, NULL, NULL) != NO_ERROR)
        return ERROR_DEV_NOT_EXIST;
    ext->FrameBuffer = ranges[0].RangeStart;
    ext->FrameBufferLength = ranges[0].RangeLength;
    ext->Registers = (PUCHAR)VideoPortGetDeviceBase(HwDeviceExtension, ranges[1].RangeStart, ranges[1].RangeLength,
                                                    ranges[1].RangeInIoSpace);
    if (ext->Registers == NULL)
        return ERROR_DEV_NOT_EXIST;

    /* What the services driver is told at attach: the adapter's own setting. */
    ext->AttachParam = 0;
    VideoPortGetRegistryParameters(HwDeviceExtension, L"AttachParam", FALSE, ReadDword, &ext->AttachParam);
    if (!lDllAttach(0, 0, 0, ext->AttachParam, &attachResult) || ORVX_NUM_MODES < ZERVAL_LEADING_RECORDS)
        return ERROR_DEV_NOT_EXIST;

    FillLeadingRecords();
    ext->ReportedModes = ZERVAL_LEADING_RECORDS;
    for (i = ZERVAL_LEADING_RECORDS; i < ORVX_NUM_MODES; ++i) {
        pModeInfoFromBIOSDLL[i].NumberOfPlanes = 1;
        pModeInfoFromBIOSDLL[i].ScreenStride =
            pModeInfoFromBIOSDLL[i].VisScreenWidth * (pModeInfoFromBIOSDLL[i].BitsPerPlane / 8);
        pModeInfoFromBIOSDLL[i].AttributeFlags = VIDEO_MODE_COLOR | VIDEO_MODE_GRAPHICS;
        if (pModeInfoFromBIOSDLL[i].Length == ZERVAL_MODE_USABLE)
            ++ext->ReportedModes;
    }
    ext->CurrentMode = MINIPORT_NO_MODE;
    VideoPortDebugPrint(Info, "miniport: %lu of %lu published modes usable, frame buffer %lu KiB\n",
                        ext->ReportedModes - ZERVAL_LEADING_RECORDS, NumModesFromBIOSDLL,
                        ext->FrameBufferLength / 1024);
    return NO_ERROR;
}

static BOOLEAN NTAPI Initialize(PVOID HwDeviceExtension)
{
    MINIPORT_EXTENSION *ext = (MINIPORT_EXTENSION *)HwDeviceExtension;
    VideoPortWriteRegisterUlong((PULONG)(ext->Registers + MINIPORT_CONTROL_REGISTER), MINIPORT_OUTPUT_ON);
    return TRUE;
}

/* Sets a reported mode: a leading one is the adapter's own business, the
   others go through zerval.sys. */
static VP_STATUS SetCurrentMode(MINIPORT_EXTENSION *ext, ULONG index)
{
    VIDEO_MODE_INFORMATION *mode = Reported(index);
    if (mode == NULL)
        return ERROR_INVALID_PARAMETER;
    if (index >= ZERVAL_LEADING_RECORDS && SetMode(mode, 0) != ZERVAL_NO_ERROR)
        return ERROR_INVALID_PARAMETER;
    ext->CurrentMode = index;
    return NO_ERROR;
}

static BOOLEAN NTAPI StartIO(PVOID HwDeviceExtension, PVIDEO_REQUEST_PACKET Request)
{
    MINIPORT_EXTENSION *ext = (MINIPORT_EXTENSION *)HwDeviceExtension;
    PSTATUS_BLOCK status = Request->StatusBlock;
    ULONG i;
    status->Information = 0;
    switch (Request->IoControlCode) {
    case IOCTL_VIDEO_QUERY_NUM_AVAIL_MODES: {
        VIDEO_NUM_MODES *num = (VIDEO_NUM_MODES *)Request->OutputBuffer;
        if (Request->OutputBufferLength < sizeof *num) {
            status->Status = ERROR_INSUFFICIENT_BUFFER;
            break;
        }
        num->NumModes = ext->ReportedModes;
        num->ModeInformationLength = sizeof(VIDEO_MODE_INFORMATION);
        status->Information = sizeof *num;
        status->Status = NO_ERROR;
        break;
    }
    case IOCTL_VIDEO_QUERY_AVAIL_MODES: {
        VIDEO_MODE_INFORMATION *out = (VIDEO_MODE_INFORMATION *)Request->OutputBuffer;
        if (Request->OutputBufferLength < ext->ReportedModes * sizeof *out) {
            status->Status = ERROR_INSUFFICIENT_BUFFER;
            break;
        }
        for (i = 0; i < ext->ReportedModes; ++i) {
            out[i] = *Reported(i);
            out[i].ModeIndex = i;
        }
        status->Information = ext->ReportedModes * sizeof *out;
        status->Status = NO_ERROR;
        break;
    }
    case IOCTL_VIDEO_SET_CURRENT_MODE:
        status->Status = Request->InputBufferLength < sizeof(VIDEO_MODE)
                             ? ERROR_INSUFFICIENT_BUFFER
                             : SetCurrentMode(ext, ((VIDEO_MODE *)Request->InputBuffer)->RequestedMode);
        break;
    case IOCTL_VIDEO_QUERY_CURRENT_MODE: {
        VIDEO_MODE_INFORMATION *out = (VIDEO_MODE_INFORMATION *)Request->OutputBuffer;
        if (ext->CurrentMode == MINIPORT_NO_MODE) {
            status->Status = ERROR_INVALID_FUNCTION;
            break;
        }
        if (Request->OutputBufferLength < sizeof *out) {
            status->Status = ERROR_INSUFFICIENT_BUFFER;
            break;
        }
        *out = *Reported(ext->CurrentMode);
        out->ModeIndex = ext->CurrentMode;
        status->Information = sizeof *out;
        status->Status = NO_ERROR;
        break;
    }
    case IOCTL_VIDEO_MAP_VIDEO_MEMORY: {
        VIDEO_MEMORY_INFORMATION *info = (VIDEO_MEMORY_INFORMATION *)Request->OutputBuffer;
        PVOID address = ((VIDEO_MEMORY *)Request->InputBuffer)->RequestedVirtualAddress;
        ULONG length = ext->FrameBufferLength, inIoSpace = 0;
        if (Request->InputBufferLength < sizeof(VIDEO_MEMORY) || Request->OutputBufferLength < sizeof *info) {
            status->Status = ERROR_INSUFFICIENT_BUFFER;
            break;
        }
        status->Status = VideoPortMapMemory(HwDeviceExtension, ext->FrameBuffer, &length, &inIoSpace, &address);
        if (status->Status != NO_ERROR)
            break;
        info->VideoRamBase = address;
        info->VideoRamLength = length;
        info->FrameBufferBase = address;
        info->FrameBufferLength = length;
        status->Information = sizeof *info;
        break;
    }
    case IOCTL_VIDEO_UNMAP_VIDEO_MEMORY:
        status->Status = Request->InputBufferLength < sizeof(VIDEO_MEMORY)
                             ? ERROR_INSUFFICIENT_BUFFER
                             : VideoPortUnmapMemory(HwDeviceExtension,
                                                    ((VIDEO_MEMORY *)Request->InputBuffer)->RequestedVirtualAddress, NULL);
        break;
    case IOCTL_VIDEO_RESET_DEVICE:
        ext->CurrentMode = MINIPORT_NO_MODE;
        status->Status = NO_ERROR;
        break;
    default:
        status->Status = ERROR_INVALID_FUNCTION;
        break;
    }
    return TRUE;
}

ULONG NTAPI DriverEntry(PVOID Context1, PVOID Context2)
{
    VIDEO_HW_INITIALIZATION_DATA init;
    VideoPortZeroMemory(&init, sizeof init);
    init.HwInitDataSize = sizeof init;
    init.AdapterInterfaceType = PCIBus;
    init.HwFindAdapter = FindAdapter;
    init.HwInitialize = Initialize;
    init.HwStartIO = StartIO;
    init.HwDeviceExtensionSize = sizeof(MINIPORT_EXTENSION);
    return VideoPortInitialize(Context1, Context2, &init, NULL);
}
