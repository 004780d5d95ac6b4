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

// The services driver answers at the requested rate when the low byte of the
// returned Refresh equals it; a rate of 256 or more never matches.
static bool AnsweredAt(const ModeQuery &query, USHORT rate)
{
    return static_cast<UCHAR>(query.Refresh) == rate;
}

// Sets what a probe asks for; Attributes keeps whatever the query holds.
static void Ask(ModeQuery &query, const ModeTableEntry &row, USHORT rate, ULONG flags)
{
    query.BitsPerPixel = row.BitsPerPixel;
    query.Width = row.Width;
    query.Height = row.Height;
    query.Refresh = rate;
    query.Flags = flags;
}

// One call of pfnQueryMode, read from the table now: the services driver may
// have replaced it, or emptied it, while answering an earlier probe.  An empty
// slot is a refusal.
static bool Accepted(ModeQuery &query)
{
    const PFN_ZERVAL_QUERY_MODE queryMode = BiosDllExt.pfnQueryMode;
    return queryMode != nullptr && queryMode(&query, 0) != FALSE;
}

// Probes one row at one rate.  The query lives in this frame; an accepted
// first answer is copied, as the services driver left it, into the next free
// candidate slot, whose Flags then carries the usability mark.  Returns the
// next free slot.
static ModeQuery *Probe(ModeQuery *next, const ModeTableEntry &row, USHORT rate)
{
    ModeQuery query;
    query.Attributes = 0;
    Ask(query, row, rate, ZERVAL_QUERY_ENUMERATE);
    if (!Accepted(query) || !AnsweredAt(query, rate))
        return next;
    *next = query;

    // The second probe decides usability; Attributes keeps the first answer.
    Ask(query, row, rate, ZERVAL_QUERY_USABLE);
    next->Flags = Accepted(query) && AnsweredAt(query, rate) ? ZERVAL_MODE_USABLE : ZERVAL_MODE_UNUSABLE;
    return next + 1;
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

    const ULONG rows = ClampToCapacity(modeTableSize, ZERVAL_MODE_TABLE_ROWS);
    const ULONG rates = ClampToCapacity(freqTableSize, ZERVAL_FREQUENCY_TABLE_ENTRIES);
    // Room for every row at every rate; at least one entry, so that the pool is
    // never asked for zero bytes.
    const ULONG slots = rows * rates != 0 ? rows * rates : 1;
    ModeQuery *const candidates = static_cast<ModeQuery *>(
        ExAllocatePoolWithTag(PagedPool, slots * sizeof(ModeQuery), ZERVAL_POOL_TAG));
    if (candidates == nullptr)
        return -1;

    ModeQuery *next = candidates;
    for (const ModeTableEntry *row = modetable; row != modetable + rows; ++row) {
        if (SkippedRow(*row) || row->Disabled != 0)
            continue;
        const ULONG *const lastRate = frequencytable + rates;
        if (OnlyAt60Hz(*row)) {
            for (const ULONG *entry = frequencytable; entry != lastRate; ++entry)
                if (static_cast<USHORT>(*entry) == 60)
                    next = Probe(next, *row, 60);
            continue;
        }
        for (const ULONG *entry = frequencytable; entry != lastRate; ++entry)
            next = Probe(next, *row, static_cast<USHORT>(*entry));
    }
    const ULONG found = static_cast<ULONG>(next - candidates);

    // The leading records belong to the display driver.
    const ULONG total = found + ZERVAL_LEADING_RECORDS;
    VIDEO_MODE_INFORMATION *const list = static_cast<VIDEO_MODE_INFORMATION *>(
        ExAllocatePoolWithTag(PagedPool, total * sizeof(VIDEO_MODE_INFORMATION), ZERVAL_POOL_TAG));
    if (list == nullptr) {
        ExFreePool(candidates);
        return -1;
    }
    VideoPortZeroMemory(list, total * sizeof(VIDEO_MODE_INFORMATION));
    VIDEO_MODE_INFORMATION *record = list + ZERVAL_LEADING_RECORDS;
    for (const ModeQuery *candidate = candidates; candidate != next; ++candidate)
        Publish(*record++, *candidate);
    ExFreePool(candidates);

    NumModesFromBIOSDLL = found;
    ORVX_NUM_MODES = total;
    pModeInfoFromBIOSDLL = list;
    return 0;
}
