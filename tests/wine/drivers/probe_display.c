/*
 * A probe display driver: its DriverEntry runs zerval.sys end to end with the
 * example services driver (kelv.sys) and TV driver (rmx.sys), and writes one
 * line per check to C:\zerval-probe.txt:
 *   "ok <check>" or "FAIL <check>: expected <x>, got <y>",
 * then "<N> passed, <M> failed".
 *
 * The expectations are the example drivers' documented answers and the
 * accept-all mode list: every catalogue row at every rate, usable.
 */
#include <ntddk.h>

#include "zerval.h"

/* The example services driver's behaviours, chosen through AttachParam. */
#define KELV_ACCEPT_ALL 0u
#define KELV_FAIL_INIT 3u

static char g_report[8192];
static ULONG g_length;
static ULONG g_passed;
static ULONG g_failed;

static void Append(const char *text)
{
    while (*text != '\0' && g_length < sizeof g_report - 1)
        g_report[g_length++] = *text++;
}

static void AppendNumber(ULONG value)
{
    char digits[11];
    int n = 0;
    do {
        digits[n++] = (char)('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0) {
        char one[2] = {digits[--n], '\0'};
        Append(one);
    }
}

static void Check(const char *name, ULONG expected, ULONG got)
{
    if (expected == got) {
        ++g_passed;
        Append("ok ");
        Append(name);
    } else {
        ++g_failed;
        Append("FAIL ");
        Append(name);
        Append(": expected ");
        AppendNumber(expected);
        Append(", got ");
        AppendNumber(got);
    }
    Append("\n");
}

static void WriteReport(void)
{
    UNICODE_STRING path;
    OBJECT_ATTRIBUTES attributes;
    IO_STATUS_BLOCK io;
    HANDLE file;

    AppendNumber(g_passed);
    Append(" passed, ");
    AppendNumber(g_failed);
    Append(" failed\n");
    RtlInitUnicodeString(&path, L"\\DosDevices\\C:\\zerval-probe.txt");
    InitializeObjectAttributes(&attributes, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    if (!NT_SUCCESS(ZwCreateFile(&file, GENERIC_WRITE | SYNCHRONIZE, &attributes, &io, NULL,
                                 FILE_ATTRIBUTE_NORMAL, 0, FILE_OVERWRITE_IF,
                                 FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, NULL, 0)))
        return;
    ZwWriteFile(file, NULL, NULL, NULL, &io, g_report, g_length, NULL, NULL);
    ZwClose(file);
}

static ULONG CountUsable(void)
{
    ULONG i, usable = 0;
    for (i = 3; i < ORVX_NUM_MODES; ++i)
        if (pModeInfoFromBIOSDLL[i].Length == ZERVAL_MODE_USABLE)
            ++usable;
    return usable;
}

static void Probe(ULONG_PTR context)
{
    UCHAR result = 0xFF;
    VIDEO_MODE_INFORMATION *record;
    VIDEO_MODE_INFORMATION *firstList;

    Check("catalogue rows (modeTableSize)", ZERVAL_MODE_TABLE_ROWS, modeTableSize);
    Check("refresh rates (freqTableSize)", ZERVAL_FREQUENCY_TABLE_ENTRIES, freqTableSize);
    Check("before attach: Orvalen_Function", FALSE, Orvalen_Function(1));
    Check("before attach: GetFreeFramebufferSize", 0, GetFreeFramebufferSize());

    Check("lDllAttach accept-all", TRUE, lDllAttach(context, 0, 0, KELV_ACCEPT_ALL, &result));
    Check("lDllAttach clears the result byte", 0, result);
    Check("NumModesFromBIOSDLL", 913, NumModesFromBIOSDLL);
    Check("ORVX_NUM_MODES", 916, ORVX_NUM_MODES);
    Check("list published", TRUE, pModeInfoFromBIOSDLL != NULL);
    if (pModeInfoFromBIOSDLL == NULL)
        return;
    Check("every published mode usable", 913, CountUsable());
    record = &pModeInfoFromBIOSDLL[3];
    Check("record 3 width", 640, record->VisScreenWidth);
    Check("record 3 height", 480, record->VisScreenHeight);
    Check("record 3 depth", 8, record->BitsPerPlane);
    Check("record 3 refresh", 44, record->Frequency);
    Check("record 3 usable", ZERVAL_MODE_USABLE, record->Length);

    record->Length = 0;
    vValidateMode(record, 0);
    Check("vValidateMode marks record 3 usable", ZERVAL_MODE_USABLE, record->Length);
    Check("SetMode record 3", ZERVAL_NO_ERROR, SetMode(record, 0));

    Check("Orvalen_Function(1)", TRUE, Orvalen_Function(1));
    Check("MeltoBiosDll(1, 2, 3) by the services driver", 6, MeltoBiosDll(1, 2, 3));
    Check("MeltoBiosDll(0, 2, 3) by the TV driver", 0x45, MeltoBiosDll(0, 2, 3));
    Check("GetFreeFramebufferSize", 0x00400000, GetFreeFramebufferSize());
    Check("BiosDllSetInitialValue", 1, BiosDllSetInitialValue());

    firstList = pModeInfoFromBIOSDLL;
    result = 0x5A;
    Check("lDllAttach with init failing", FALSE, lDllAttach(context, 0, 0, KELV_FAIL_INIT, &result));
    Check("failed attach leaves the result byte", 0x5A, result);
    Check("failed attach keeps the list", TRUE, pModeInfoFromBIOSDLL == firstList && NumModesFromBIOSDLL == 913);
    Check("after failed attach: GetFreeFramebufferSize", 0, GetFreeFramebufferSize());
    Check("after failed attach: BiosDllSetInitialValue", 1, BiosDllSetInitialValue());
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath)
{
    (void)RegistryPath;
    Probe((ULONG_PTR)DriverObject);
    WriteReport();
    return g_failed == 0 ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}
