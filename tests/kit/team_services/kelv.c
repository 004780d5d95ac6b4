// A services driver written by a team outside this project, in its own style
// (C99), against the kit's headers.  It supports 16-bit and 32-bit modes at
// 60 and 75 Hz only; 32-bit modes at 75 Hz are listed but not usable.
#include <ntdef.h>
#include <miniport.h>

#include "zerval_hooks.h"

#define TEAM_ATTRIBUTES 0x00030000u  // published as 0x3
#define TEAM_FRAMEBUFFER_BYTES (8u << 20)

// Kept for a later revision; unused here, which the team's warnings mention
// and the kit's build does not turn into an error.
static ULONG TeamUnused(ULONG v) { return v * 2; }

static BOOLEAN ZERVAL_CALL TeamInit(PVOID buffer)
{
    UCHAR *bytes = buffer;
    for (int i = 0; i < 76; ++i)
        bytes[i] = (UCHAR)i;
    return TRUE;
}

static BOOLEAN ZERVAL_CALL TeamQueryMode(ModeQuery *q, ULONG zero)
{
    (void)zero;
    const BOOLEAN depthOk = q->BitsPerPixel == 16 || q->BitsPerPixel == 32;
    const BOOLEAN rateOk = q->Refresh == 60 || q->Refresh == 75;
    if (!depthOk || !rateOk)
        return FALSE;
    if (q->Flags == ZERVAL_QUERY_USABLE && q->BitsPerPixel == 32 && q->Refresh == 75)
        return FALSE;
    q->Attributes = TEAM_ATTRIBUTES;
    return TRUE;
}

static BOOLEAN ZERVAL_CALL TeamSetMode(ModeQuery *q, ULONG zero, ULONG option)
{
    (void)zero;
    (void)option;
    return q->Attributes == TEAM_ATTRIBUTES;
}

#ifdef TEAM_FLOAT  // the mistake the kit's flags turn into a link error: a double in kernel code
ULONG TeamVideoMemoryBytes = 32u << 20;
static ULONG ZERVAL_CALL TeamFreeFramebuffer(VOID) { return (ULONG)(TeamVideoMemoryBytes * 0.25); }
#else
static ULONG ZERVAL_CALL TeamFreeFramebuffer(VOID) { return TEAM_FRAMEBUFFER_BYTES; }
#endif

ZERVAL_SERVICES_ATTACH Attach;

#ifdef TEAM_CDECL_ATTACH  // the mistake the declaration above catches
ULONG Attach(
#else
ULONG ZERVAL_CALL Attach(
#endif
    ULONG_PTR context, ULONG_PTR param, DllExt *table, ULONG_PTR attachParam)
{
    (void)context;
    (void)param;
    (void)attachParam;
    table->pfnInit = TeamInit;
    table->pfnQueryMode = TeamQueryMode;
    table->pfnSetMode = TeamSetMode;
    table->pfnGetFreeFramebufferSize = TeamFreeFramebuffer;
    return 1;
}

ULONG NTAPI DriverEntry(PVOID driverObject, PVOID registryPath)
{
    (void)driverObject;
    (void)registryPath;
    return 0;
}
