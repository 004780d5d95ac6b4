/*
 * A minimal display (video miniport) driver that imports every function and
 * every data export of zerval.sys.  It is built, not run: it proves that a
 * display driver compiles and links against zerval.h and libzerval.a.
 */
#include <ntdef.h>
#include <miniport.h>
#include <video.h>

#include "zerval.h"

static UCHAR g_attachResult = 0xFF;

/* Picks the first usable published mode at the given depth and sets it. */
static ULONG SetFirstUsableMode(ULONG bitsPerPlane)
{
    ULONG i;
    for (i = 3; i < ORVX_NUM_MODES; ++i) {
        VIDEO_MODE_INFORMATION *mode = &pModeInfoFromBIOSDLL[i];
        if (mode->BitsPerPlane != bitsPerPlane)
            continue;
        vValidateMode(mode, 0);
        if (mode->Length == ZERVAL_MODE_USABLE)
            return SetMode(mode, 0);
    }
    return ZERVAL_ERROR_INVALID_PARAMETER;
}

static BOOLEAN StartAdapter(PVOID context)
{
    ULONG row;

    /* This adapter has no use for 200 Hz, nor for 320x200 at 8 bits. */
    frequencytable[freqTableSize - 1] = 0;
    for (row = 0; row < modeTableSize; ++row)
        if (modetable[row].Width == 320 && modetable[row].Height == 200 && modetable[row].BitsPerPixel == 8)
            modetable[row].Disabled = 1;

    if (!lDllAttach((ULONG_PTR)context, 0, 0, 0, &g_attachResult))
        return FALSE;
    if (NumModesFromBIOSDLL == 0)
        return FALSE;

    BiosDllSetInitialValue();
    if (GetFreeFramebufferSize() == 0)
        return FALSE;
    Orvalen_Function(1);
    MeltoBiosDll(0, 0, 0);
    return SetFirstUsableMode(32) == ZERVAL_NO_ERROR;
}

ULONG NTAPI DriverEntry(PVOID Context1, PVOID Context2)
{
    (void)Context2;
    return StartAdapter(Context1) ? 0 : 0xC0000001u;
}
