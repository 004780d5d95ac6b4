/*
 * The report file, written through the kernel's Zw file routines, which both
 * Wine's kernel and the emulator's simulated kernel serve.
 */
#include "report.h"

/* L"\\DosDevices\\C:\\zerval-probe.txt", spelled out so that the probe needs
   no Rtl string routine. */
static WCHAR g_path[] = {'\\', 'D', 'o', 's', 'D', 'e', 'v', 'i', 'c', 'e', 's', '\\', 'C', ':', '\\', 'z', 'e',
                         'r', 'v', 'a', 'l', '-', 'p', 'r', 'o', 'b', 'e', '.', 't', 'x', 't'};

static HANDLE g_file;
static BOOLEAN g_open;
static BOOLEAN g_failed;
static char g_buffer[512];
static ULONG g_length;

BOOLEAN ReportOpen(void)
{
    UNICODE_STRING path;
    OBJECT_ATTRIBUTES attributes;
    IO_STATUS_BLOCK io;

    path.Buffer = g_path;
    path.Length = (USHORT)sizeof g_path;
    path.MaximumLength = (USHORT)sizeof g_path;
    InitializeObjectAttributes(&attributes, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    g_open = NT_SUCCESS(ZwCreateFile(&g_file, GENERIC_WRITE | SYNCHRONIZE, &attributes, &io, NULL,
                                     FILE_ATTRIBUTE_NORMAL, 0, FILE_OVERWRITE_IF,
                                     FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, NULL, 0));
    g_failed = !g_open;
    return g_open;
}

BOOLEAN ReportFlush(void)
{
    IO_STATUS_BLOCK io;
    if (g_open && !g_failed && g_length != 0)
        g_failed = !NT_SUCCESS(ZwWriteFile(g_file, NULL, NULL, NULL, &io, g_buffer, g_length, NULL, NULL));
    g_length = 0;
    return !g_failed;
}

void ReportClose(void)
{
    ReportFlush();
    if (g_open)
        ZwClose(g_file);
    g_open = FALSE;
}

void Text(const char *text)
{
    while (*text != '\0') {
        if (g_length == sizeof g_buffer)
            ReportFlush();
        g_buffer[g_length++] = *text++;
    }
}

void Decimal(ULONG value)
{
    char digits[11];
    int n = 0;
    do {
        digits[n++] = (char)('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0) {
        char one[2];
        one[0] = digits[--n];
        one[1] = '\0';
        Text(one);
    }
}

static void HexDigits(ULONG value, int digits)
{
    static const char kDigits[] = "0123456789ABCDEF";
    char text[11];
    int i;
    text[0] = '0';
    text[1] = 'x';
    for (i = 0; i < digits; ++i)
        text[2 + i] = kDigits[(value >> (4 * (digits - 1 - i))) & 0xF];
    text[2 + digits] = '\0';
    Text(text);
}

void Hex(ULONG value) { HexDigits(value, 8); }

void HexByte(UCHAR value) { HexDigits(value, 2); }

void Boolean(ULONG value)
{
    if (value == 0)
        Text("FALSE");
    else if (value == 1)
        Text("TRUE");
    else
        Decimal(value);
}

void EndLine(void)
{
    Text("\n");
    ReportFlush();
}
