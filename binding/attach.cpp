// lDllAttach: binds the TV driver and the services driver through the hook
// table, lets the services driver initialise the hardware, and publishes the
// mode list.
#include "module_state.h"

extern "C" {
DllExt BiosDllExt = {};
}

static void WipeHookTable()
{
    VideoPortZeroMemory(&BiosDllExt, sizeof(BiosDllExt));
}

// An attached services driver provides these three; one that leaves any of
// them empty after Attach has not attached, and pfnInit is not called.
static bool RequiredHooksFilled()
{
    return BiosDllExt.pfnInit != nullptr && BiosDllExt.pfnQueryMode != nullptr &&
           BiosDllExt.pfnSetMode != nullptr;
}

// In a frame of its own, so that the 76-byte buffer is off the stack before
// the mode-list build runs.  The buffer is zeroed before the services driver
// sees it: it lies in this frame, and nothing that earlier calls left on the
// kernel stack is handed to another driver.  What the hook writes is
// discarded.
static ZERVAL_NOINLINE bool InitHardware()
{
    UCHAR initBuffer[ZERVAL_INIT_BUFFER_BYTES];
    VideoPortZeroMemory(initBuffer, sizeof(initBuffer));
    return BiosDllExt.pfnInit(initBuffer) != FALSE;
}

extern "C" BOOLEAN ZERVAL_CALL lDllAttach(ULONG_PTR Context, ULONG_PTR Param, ULONG_PTR ModeParam,
                                          ULONG_PTR AttachParam, UCHAR *pResult)
{
    BIOS_Attach = Attach;

    WipeHookTable();
    BiosDllExt.Size = sizeof(BiosDllExt);

    AttachRMX(Context, Param);
    BiosDllExt.pfnTvControl = S_RMX_Control;

    BIOS_Attach(Context, Param, &BiosDllExt, AttachParam);

    if (!RequiredHooksFilled()) {
        WipeHookTable();
        return FALSE;
    }

    if (!InitHardware()) {
        WipeHookTable();
        return FALSE;
    }

    if (pResult != nullptr)
        *pResult = 0;
    GetMode(Context, ModeParam);
    return TRUE;
}
