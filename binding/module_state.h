// module_state.h - the module-wide state that is not exported: the hook table
// and the services driver's attach entry, and the internal mode-list build.
#ifndef ZERVAL_MODULE_STATE_H
#define ZERVAL_MODULE_STATE_H

#include "compiler.h"
#include "driver_entry.h"
#include "platform.h"
#include "zerval.h"

extern "C" {
// The hook table handed to the services driver; all zero at load.
extern DllExt BiosDllExt;
// The services driver's attach entry, refilled at every attach.  First object
// of the .biosdll section.
extern PFN_ZERVAL_SERVICES_ATTACH BIOS_Attach;

// Probes the catalogue and publishes the mode list.  0 when a new list is
// published; -1 when either of its two pool allocations is refused: then
// NumModesFromBIOSDLL is 0 while ORVX_NUM_MODES and pModeInfoFromBIOSDLL keep
// the earlier list, and nothing stays allocated.
LONG ZERVAL_CALL GetMode(ULONG_PTR Context, ULONG_PTR ModeParam);
}

#endif // ZERVAL_MODULE_STATE_H
