/*
 * A minimal display (video miniport) driver that imports every function and
 * every data export of zerval.sys, and runs: its entry adapts the catalogue,
 * attaches the module, walks the published list as a display driver does
 * when it answers the video port's mode queries, fills in the three records
 * the module leaves to it, and sets the first usable 32-bit mode.
 *
 * It returns STATUS_SUCCESS when all of that worked, and an NTSTATUS error
 * otherwise; it does no hardware work of its own.
 */
#include <ntdef.h>
#include <miniport.h>
#include <video.h>

#include "zerval.h"

#define EXAMPLE_STATUS_UNSUCCESSFUL 0xC0000001u
/* The three leading records describe the adapter's VGA text and planar modes. */
#define EXAMPLE_LEADING_RECORDS 3u

static UCHAR g_attachResult = 0xFF;
static ULONG g_usableModes;

/* Picks the first usable published mode at the given depth and sets it. */
static ULONG SetFirstUsableMode(ULONG bitsPerPlane)
{
    ULONG i;
    for (i = EXAMPLE_LEADING_RECORDS; i < ORVX_NUM_MODES; ++i) {
        VIDEO_MODE_INFORMATION *mode = &pModeInfoFromBIOSDLL[i];
        if (mode->BitsPerPlane != bitsPerPlane)
            continue;
        vValidateMode(mode, 0);
        if (mode->Length == ZERVAL_MODE_USABLE)
            return SetMode(mode, 0);
    }
    return ZERVAL_ERROR_INVALID_PARAMETER;
}

/* What the display driver adds to each published record, and the count of
   modes it would offer. */
static void CompleteModeList(void)
{
    ULONG i;
    for (i = 0; i < EXAMPLE_LEADING_RECORDS; ++i) {
        VIDEO_MODE_INFORMATION *mode = &pModeInfoFromBIOSDLL[i];
        mode->Length = ZERVAL_MODE_USABLE;
        mode->ModeIndex = i;
        mode->VisScreenWidth = i == 0 ? 80 : 640;
        mode->VisScreenHeight = i == 0 ? 25 : 480;
        mode->NumberOfPlanes = i == 0 ? 1 : 4;
        mode->BitsPerPlane = 1;
        mode->Frequency = 60;
    }
    g_usableModes = 0;
    for (i = EXAMPLE_LEADING_RECORDS; i < ORVX_NUM_MODES; ++i) {
        VIDEO_MODE_INFORMATION *mode = &pModeInfoFromBIOSDLL[i];
        mode->ModeIndex = i;
        mode->NumberOfPlanes = 1;
        mode->ScreenStride = mode->VisScreenWidth * (mode->BitsPerPlane / 8);
        mode->AttributeFlags = VIDEO_MODE_COLOR | VIDEO_MODE_GRAPHICS;
        if (mode->Length == ZERVAL_MODE_USABLE)
            ++g_usableModes;
    }
}

static BOOLEAN StartAdapter(ULONG_PTR context)
{
    ULONG row;

    /* This adapter has no use for 200 Hz, nor for 320x200 at 8 bits. */
    frequencytable[freqTableSize - 1] = 0;
    for (row = 0; row < modeTableSize; ++row)
        if (modetable[row].Width == 320 && modetable[row].Height == 200 && modetable[row].BitsPerPixel == 8)
            modetable[row].Disabled = 1;

    if (!lDllAttach(context, 0, 0, 0, &g_attachResult))
        return FALSE;
    if (NumModesFromBIOSDLL == 0 || ORVX_NUM_MODES != NumModesFromBIOSDLL + EXAMPLE_LEADING_RECORDS)
        return FALSE;
    CompleteModeList();
    if (g_usableModes == 0)
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
    return StartAdapter((ULONG_PTR)Context1) ? 0 : EXAMPLE_STATUS_UNSUCCESSFUL;
}
