// GetMode: probes every allowed combination of catalogue row and refresh rate
// through the services driver and publishes those it accepts at exactly the
// requested rate, each marked usable (Length 80) or not (Length 0).
#include "module_state.h"

// The display driver may write any value into the sizes; the build never reads
// past the tables themselves.
static ULONG ClampToCapacity(ULONG size, ULONG capacity)
{
    return size < capacity ? size : capacity;
}

// 24-bit modes the hardware cannot scan out: 800x600, 640x480 and every
// 720-pixel-wide mode.
static bool SkippedRow(const ModeTableEntry &row)
{
    if (row.BitsPerPixel != 24)
        return false;
    return (row.Width == 800 && row.Height == 600) || (row.Width == 640 && row.Height == 480) ||
           row.Width == 720;
}

// 1024x768 at 24 bits is probed at 60 Hz only.
static bool OnlyAt60Hz(const ModeTableEntry &row)
{
    return row.BitsPerPixel == 24 && row.Width == 1024 && row.Height == 768;
}

static void SetFromRow(ModeQuery &query, const ModeTableEntry &row, USHORT rate)
{
    query.BitsPerPixel = row.BitsPerPixel;
    query.Width = row.Width;
    query.Height = row.Height;
    query.Refresh = rate;
}

// The services driver answers at the requested rate when the low byte of the
// returned Refresh equals it; a rate of 256 or more never matches.
static bool AnsweredAt(const ModeQuery &query, USHORT rate)
{
    return static_cast<UCHAR>(query.Refresh) == rate;
}

static void Publish(VIDEO_MODE_INFORMATION &record, const ModeQuery &candidate)
{
    record.Length = candidate.Flags;  // the usability mark
    record.VisScreenWidth = candidate.Width;
    record.VisScreenHeight = candidate.Height;
    record.BitsPerPlane = candidate.BitsPerPixel;
    record.Frequency = static_cast<UCHAR>(candidate.Refresh);
    record.DriverSpecificAttributeFlags = candidate.Attributes >> 16;
}

extern "C" LONG ZERVAL_CALL GetMode(ULONG_PTR Context, ULONG_PTR ModeParam)
{
    (void)Context;
    (void)ModeParam;

    NumModesFromBIOSDLL = 0;

    const PFN_ZERVAL_QUERY_MODE queryMode = BiosDllExt.pfnQueryMode;
    if (queryMode == nullptr)
        return -1;

    const ULONG rows = ClampToCapacity(modeTableSize, ZERVAL_MODE_TABLE_ROWS);
    const ULONG rates = ClampToCapacity(freqTableSize, ZERVAL_FREQUENCY_TABLE_ENTRIES);
    // Room for every row at every rate; at least one entry, so that the pool is
    // never asked for zero bytes.
    const ULONG slots = rows * rates != 0 ? rows * rates : 1;
    ModeQuery *const candidates = static_cast<ModeQuery *>(
        ExAllocatePoolWithTag(PagedPool, slots * sizeof(ModeQuery), kZervalPoolTag));
    if (candidates == nullptr)
        return -1;

    ULONG found = 0;
    for (ULONG r = 0; r < rows; ++r) {
        const ModeTableEntry &row = modetable[r];
        if (SkippedRow(row) || row.Disabled != 0)
            continue;
        const bool onlyAt60 = OnlyAt60Hz(row);

        for (ULONG f = 0; f < rates; ++f) {
            const USHORT rate = static_cast<USHORT>(frequencytable[f]);
            if (onlyAt60 && rate != 60)
                continue;

            ModeQuery query;
            SetFromRow(query, row, rate);
            query.Attributes = 0;
            query.Flags = ZERVAL_QUERY_ENUMERATE;
            if (!queryMode(&query, 0) || !AnsweredAt(query, rate))
                continue;

            ModeQuery &candidate = candidates[found++];
            candidate = query;

            // Second probe decides usability; Attributes keeps the first answer.
            SetFromRow(query, row, rate);
            query.Flags = ZERVAL_QUERY_USABLE;
            const bool usable = queryMode(&query, 0) && AnsweredAt(query, rate);
            candidate.Flags = usable ? ZERVAL_MODE_USABLE : ZERVAL_MODE_UNUSABLE;
        }
    }

    // Three leading records belong to the display driver.
    const ULONG total = found + 3;
    VIDEO_MODE_INFORMATION *const list = static_cast<VIDEO_MODE_INFORMATION *>(
        ExAllocatePoolWithTag(PagedPool, total * sizeof(VIDEO_MODE_INFORMATION), kZervalPoolTag));
    if (list == nullptr) {
        ExFreePool(candidates);
        return -1;
    }
    VideoPortZeroMemory(list, total * sizeof(VIDEO_MODE_INFORMATION));
    for (ULONG k = 0; k < found; ++k)
        Publish(list[3 + k], candidates[k]);
    ExFreePool(candidates);

    NumModesFromBIOSDLL = found;
    ORVX_NUM_MODES = total;
    pModeInfoFromBIOSDLL = list;
    return 0;
}
