/*
 * A stand-in videoprt.sys for loaders that have none: exports the one
 * video-port routine zerval.sys and the display drivers here import.
 * Test support only; never shipped.
 */
#include <ntddk.h>

VOID NTAPI VideoPortZeroMemory(PVOID Destination, ULONG Length)
{
    volatile UCHAR *p = (volatile UCHAR *)Destination;
    while (Length-- != 0)
        *p++ = 0;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath)
{
    (void)DriverObject;
    (void)RegistryPath;
    return STATUS_SUCCESS;
}
