// A display (video miniport) driver written by a team outside this project,
// with the headers a video miniport includes, against the kit: it attaches
// zerval.sys, keeps the published modes in pool and answers the video port's
// mode queries by copying whole records.
#include <ntdef.h>
#include <dderror.h>
#include <miniport.h>
#include <video.h>
#include <ntddvdeo.h>

#include "zerval.h"
#include "team_display.h"

#define TEAM_STATUS_UNSUCCESSFUL 0xC0000001u
// IOCTL_VIDEO_QUERY_CURRENT_MODE: mingw-w64's ntddvdeo.h spells it with
// CTL_CODE, which its headers do not define.
#define TEAM_IOCTL_QUERY_CURRENT_MODE 0x00232020u

typedef struct {
    VIDEO_MODE_INFORMATION *modes;
    ULONG count;
    VIDEO_MODE_INFORMATION current;
} TeamExtension;

static VP_STATUS NTAPI TeamFindAdapter(PVOID ext, PVOID context, PWSTR args,
                                       PVIDEO_PORT_CONFIG_INFO info, PUCHAR again)
{
    TeamExtension *team = ext;
    UCHAR attached = 0;
    ULONG i;
    (void)args;
    (void)info;
    *again = FALSE;
    if (!lDllAttach((ULONG_PTR)context, 0, 0, 0, &attached) || ORVX_NUM_MODES == 0)
        return ERROR_DEV_NOT_EXIST;
    team->modes = TeamAllocateModes(ORVX_NUM_MODES);
    if (team->modes == NULL)
        return ERROR_NOT_ENOUGH_MEMORY;
    for (i = 0; i < ORVX_NUM_MODES; ++i)
        team->modes[i] = pModeInfoFromBIOSDLL[i];  // a whole record at a time
    if (NumModesFromBIOSDLL == 0) {  // nothing but the leading records
        TeamFreeModes(team->modes);
        team->modes = NULL;
        return ERROR_DEV_NOT_EXIST;
    }
    team->count = ORVX_NUM_MODES;
    team->current = team->modes[0];
    return NO_ERROR;
}

static BOOLEAN NTAPI TeamInitialize(PVOID ext)
{
    return ((TeamExtension *)ext)->count != 0;
}

static BOOLEAN NTAPI TeamStartIo(PVOID ext, PVIDEO_REQUEST_PACKET packet)
{
    TeamExtension *team = ext;
    if (packet->IoControlCode != TEAM_IOCTL_QUERY_CURRENT_MODE ||
        packet->OutputBufferLength < sizeof(VIDEO_MODE_INFORMATION)) {
        packet->StatusBlock->Status = ERROR_INVALID_FUNCTION;
        return TRUE;
    }
    *(VIDEO_MODE_INFORMATION *)packet->OutputBuffer = team->current;
    packet->StatusBlock->Information = sizeof(VIDEO_MODE_INFORMATION);
    packet->StatusBlock->Status = NO_ERROR;
    return TRUE;
}

ULONG NTAPI DriverEntry(PVOID Context1, PVOID Context2)
{
    VIDEO_HW_INITIALIZATION_DATA init;
    VideoPortZeroMemory(&init, sizeof init);
    init.HwInitDataSize = sizeof init;
    init.HwFindAdapter = TeamFindAdapter;
    init.HwInitialize = TeamInitialize;
    init.HwStartIO = TeamStartIo;
    init.HwDeviceExtensionSize = sizeof(TeamExtension);
    return VideoPortInitialize(Context1, Context2, &init, NULL) == NO_ERROR ? 0 : TEAM_STATUS_UNSUCCESSFUL;
}
