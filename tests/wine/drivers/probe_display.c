/*
 * A probe display driver: its DriverEntry drives zerval.sys and whatever
 * services driver (kelv.sys) and TV driver (rmx.sys) lie beside it, and
 * reports what the stack did, without expecting any answer in particular:
 * the exported tables, the forwarded services before any attach, three
 * attaches (AttachParam 0, 0 again, then 3) with the published list, each
 * record's written fields and what vValidateMode and SetMode answer for it,
 * a few records that are not in the list, and the forwarded services after
 * each attach.  The report goes to C:\zerval-probe.txt, one plain line per
 * call or figure, and ends with "end of report".  A line is a label, ": ",
 * then items separated by "; ".
 *
 * The same image runs under Wine's kernel and in the emulator; the two
 * reports of one set of images must be the same.  Nothing in the report
 * depends on where the loader put an image or the pool a block: addresses
 * appear only as "a new array" or "the array of attach N".
 */
#include <ntddk.h>

#include "report.h"
#include "zerval.h"
#include "zerval_hooks.h" /* the Flags values of the mode-list build */

/* The values the probe hands over; what they mean is the sibling drivers'
   business (the example services driver reads AttachParam 3 as "pfnInit
   fails"). */
#define PROBE_CONTEXT 0u
#define PROBE_PARAM 0u
#define PROBE_MODE_PARAM 0u
#define PROBE_RESULT_BYTE 0x5Au /* the result byte before each attach */

/* A record the probe hands to vValidateMode and SetMode: a copy, so that the
   published list stays as the module left it.  Static, so that every field
   the module does not read is 0. */
static VIDEO_MODE_INFORMATION g_record;

/* The arrays each attach left published, for "a new array" or not. */
static VIDEO_MODE_INFORMATION *g_arrays[3];
static ULONG g_counts[3];

static void Mode(ULONG width, ULONG height, ULONG depth, ULONG hz)
{
    Decimal(width);
    Text("x");
    Decimal(height);
    Text("x");
    Decimal(depth);
    Text(" ");
    Decimal(hz);
    Text(" Hz");
}

static void CopyToScratch(const VIDEO_MODE_INFORMATION *from)
{
    g_record.Length = from->Length;
    g_record.VisScreenWidth = from->VisScreenWidth;
    g_record.VisScreenHeight = from->VisScreenHeight;
    g_record.BitsPerPlane = from->BitsPerPlane;
    g_record.Frequency = from->Frequency;
    g_record.DriverSpecificAttributeFlags = from->DriverSpecificAttributeFlags;
}

/* vValidateMode on the scratch record with Flags, then the Length it left;
   the record's Length is put back afterwards. */
static void Validate(ULONG flags)
{
    const ULONG length = g_record.Length;
    Text("; vValidateMode(Flags ");
    Decimal(flags);
    Text(") Length ");
    ReportFlush();
    vValidateMode(&g_record, flags);
    Decimal(g_record.Length);
    g_record.Length = length;
}

static void Set(ULONG option)
{
    Text("; SetMode(Option ");
    Hex(option);
    Text(") = ");
    ReportFlush();
    Decimal(SetMode(&g_record, option));
}

/* The forwarded services, each on a line of its own, prefixed with when. */
static void Forwarded(const char *when)
{
    static const ULONG kFunctionValues[] = {0, 1, 0x100};
    static const ULONG kPassThrough[][3] = {{1, 2, 3}, {0, 2, 3}, {0x100, 0, 0}, {0xFFFFFFFFu, 0, 0}};
    ULONG i;
    for (i = 0; i < sizeof kFunctionValues / sizeof kFunctionValues[0]; ++i) {
        Text(when);
        Text(": Orvalen_Function(");
        Hex(kFunctionValues[i]);
        Text(") = ");
        ReportFlush();
        Boolean(Orvalen_Function(kFunctionValues[i]));
        EndLine();
    }
    for (i = 0; i < sizeof kPassThrough / sizeof kPassThrough[0]; ++i) {
        Text(when);
        Text(": MeltoBiosDll(");
        Hex(kPassThrough[i][0]);
        Text(", ");
        Hex(kPassThrough[i][1]);
        Text(", ");
        Hex(kPassThrough[i][2]);
        Text(") = ");
        ReportFlush();
        Decimal(MeltoBiosDll(kPassThrough[i][0], kPassThrough[i][1], kPassThrough[i][2]));
        EndLine();
    }
    Text(when);
    Text(": GetFreeFramebufferSize() = ");
    ReportFlush();
    Hex(GetFreeFramebufferSize());
    EndLine();
    Text(when);
    Text(": BiosDllSetInitialValue() = ");
    ReportFlush();
    Decimal(BiosDllSetInitialValue());
    EndLine();
}

static void Tables(void)
{
    ULONG i;
    Text("modeTableSize: ");
    Decimal(modeTableSize);
    EndLine();
    Text("modetable:");
    for (i = 0; i < ZERVAL_MODE_TABLE_ROWS; ++i) {
        Text(" ");
        Decimal(modetable[i].Width);
        Text("x");
        Decimal(modetable[i].Height);
        Text("x");
        Decimal(modetable[i].BitsPerPixel);
        if (modetable[i].Disabled != 0)
            Text(" disabled");
        if (i + 1 < ZERVAL_MODE_TABLE_ROWS)
            Text(";");
    }
    EndLine();
    Text("freqTableSize: ");
    Decimal(freqTableSize);
    EndLine();
    Text("frequencytable:");
    for (i = 0; i < ZERVAL_FREQUENCY_TABLE_ENTRIES; ++i) {
        Text(i == 0 ? " " : "; ");
        Decimal(frequencytable[i]);
    }
    EndLine();
}

static BOOLEAN SameRecord(const VIDEO_MODE_INFORMATION *a, const VIDEO_MODE_INFORMATION *b)
{
    return a->Length == b->Length && a->VisScreenWidth == b->VisScreenWidth &&
           a->VisScreenHeight == b->VisScreenHeight && a->BitsPerPlane == b->BitsPerPlane &&
           a->Frequency == b->Frequency && a->DriverSpecificAttributeFlags == b->DriverSpecificAttributeFlags;
}

/* One published record: its written fields, then what vValidateMode (with
   the two Flags the mode-list build uses) and SetMode answer for a copy. */
static void Record(ULONG index, const VIDEO_MODE_INFORMATION *record)
{
    Text("record ");
    Decimal(index);
    Text(": ");
    Mode(record->VisScreenWidth, record->VisScreenHeight, record->BitsPerPlane, record->Frequency);
    Text("; Length ");
    Decimal(record->Length);
    Text("; attributes ");
    Hex(record->DriverSpecificAttributeFlags);
    CopyToScratch(record);
    Validate(ZERVAL_QUERY_ENUMERATE);
    Validate(ZERVAL_QUERY_USABLE);
    Set(0);
    EndLine();
}

/* The list the attach numbered `number` (1 to 3) left published. */
static void List(ULONG number)
{
    const ULONG n = number - 1;
    ULONG i, earlier;
    Text("attach ");
    Decimal(number);
    Text(": NumModesFromBIOSDLL ");
    Decimal(NumModesFromBIOSDLL);
    Text("; ORVX_NUM_MODES ");
    Decimal(ORVX_NUM_MODES);
    g_arrays[n] = pModeInfoFromBIOSDLL;
    g_counts[n] = ORVX_NUM_MODES;
    if (pModeInfoFromBIOSDLL == NULL) {
        Text("; no array");
        EndLine();
        return;
    }
    /* The same array as an earlier attach: nothing new to list. */
    for (earlier = 0; earlier < n; ++earlier)
        if (g_arrays[earlier] == pModeInfoFromBIOSDLL) {
            Text("; the array of attach ");
            Decimal(earlier + 1);
            EndLine();
            return;
        }
    Text("; a new array");
    /* A new array with the records of the one before it: listed once. */
    if (n > 0 && g_arrays[n - 1] != NULL && g_counts[n - 1] == ORVX_NUM_MODES) {
        BOOLEAN same = TRUE;
        for (i = 3; i < ORVX_NUM_MODES && same; ++i)
            same = SameRecord(&g_arrays[n - 1][i], &pModeInfoFromBIOSDLL[i]);
        if (same) {
            Text(" with the records of attach ");
            Decimal(n);
            EndLine();
            return;
        }
    }
    EndLine();
    for (i = 3; i < ORVX_NUM_MODES; ++i)
        Record(i, &pModeInfoFromBIOSDLL[i]);
}

static void Attach(ULONG number, ULONG attachParam)
{
    UCHAR result = PROBE_RESULT_BYTE;
    Text("attach ");
    Decimal(number);
    Text(": lDllAttach(");
    Decimal(PROBE_CONTEXT);
    Text(", ");
    Decimal(PROBE_PARAM);
    Text(", ");
    Decimal(PROBE_MODE_PARAM);
    Text(", ");
    Decimal(attachParam);
    Text(", &result) = ");
    ReportFlush();
    Boolean(lDllAttach(PROBE_CONTEXT, PROBE_PARAM, PROBE_MODE_PARAM, attachParam, &result));
    Text("; result byte ");
    HexByte(result);
    EndLine();
    List(number);
}

/* Records that are not in the list: a rate of 0 and of 1 (SetMode asks for
   the default rate), a rate vValidateMode always refuses (140 Hz, whose low
   byte has bit 7 set), a width no catalogue row has, and SetMode's option
   in a 32-bit slot. */
static void Unlisted(void)
{
    static const ULONG kModes[][5] = {
        /* width, height, depth, Hz, attributes */
        {1024, 768, 16, 75, 0},
        {640, 480, 8, 0, 0},
        {640, 480, 8, 1, 0x00050000u},
        {640, 480, 32, 140, 0},
        {801, 600, 16, 60, 0},
    };
    ULONG i;
    for (i = 0; i < sizeof kModes / sizeof kModes[0]; ++i) {
        Text("unlisted ");
        Mode(kModes[i][0], kModes[i][1], kModes[i][2], kModes[i][3]);
        Text("; attributes ");
        Hex(kModes[i][4]);
        g_record.Length = ZERVAL_MODE_USABLE;
        g_record.VisScreenWidth = kModes[i][0];
        g_record.VisScreenHeight = kModes[i][1];
        g_record.BitsPerPlane = kModes[i][2];
        g_record.Frequency = kModes[i][3];
        g_record.DriverSpecificAttributeFlags = kModes[i][4];
        Validate(ZERVAL_QUERY_USABLE);
        Set(0x1FF);
        EndLine();
    }
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath)
{
    BOOLEAN written;
    (void)DriverObject;
    (void)RegistryPath;
    if (!ReportOpen())
        return STATUS_UNSUCCESSFUL;
    Text("zprobe report, format 1");
    EndLine();
    Tables();
    Forwarded("before attach");
    Attach(1, 0);
    Unlisted();
    Forwarded("attach 1");
    Attach(2, 0);
    Attach(3, 3);
    Forwarded("attach 3");
    Text("end of report");
    EndLine();
    written = ReportFlush();
    ReportClose();
    return written ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}
