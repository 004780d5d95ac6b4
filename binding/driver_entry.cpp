// The image's entry point.  The kernel loads this module because a display
// driver imports from it; all work starts with lDllAttach.
#include "module_state.h"

extern "C" NTSTATUS ZERVAL_CALL DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath)
{
    (void)DriverObject;
    (void)RegistryPath;
    return STATUS_SUCCESS;
}
