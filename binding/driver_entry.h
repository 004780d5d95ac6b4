// driver_entry.h - the image's entry point, for the module and for the host
// programs that call it as a loader would.
#ifndef ZERVAL_DRIVER_ENTRY_H
#define ZERVAL_DRIVER_ENTRY_H

#include "platform.h"

extern "C" {
// Returns success and does nothing else.
NTSTATUS ZERVAL_CALL DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath);
}

#endif // ZERVAL_DRIVER_ENTRY_H
