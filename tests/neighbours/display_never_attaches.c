/*
 * A display driver that imports zerval.sys but whose DriverEntry returns
 * success without ever calling lDllAttach: it only reads the size of the
 * catalogue.
 */
#include <ntdef.h>
#include <miniport.h>
#include <video.h>

#include "zerval.h"

ULONG g_rows; /* kept: the read of modeTableSize stays in the image */

ULONG NTAPI DriverEntry(PVOID DriverObject, PVOID RegistryPath)
{
    (void)DriverObject;
    (void)RegistryPath;
    g_rows = modeTableSize;
    return 0; /* STATUS_SUCCESS, with the module never attached */
}
