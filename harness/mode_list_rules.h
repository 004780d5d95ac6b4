// What the mode-list build is documented to probe and to keep, written here
// from the documented rules for the side that judges the module (the attach
// checker, the simulator's matrix, the tests).  Deliberately apart from the
// module's own code, which is never included or called for it: a misreading
// of the rules should show as a disagreement, not be shared.
#ifndef ZERVAL_HARNESS_MODE_LIST_RULES_H
#define ZERVAL_HARNESS_MODE_LIST_RULES_H

#include <cstdint>

#include "call_log.h"
#include "zerval.h"

namespace rules {

// "Records 0, 1 and 2 belong to the display driver; records 3 to N + 2 hold
// the modes found": the published array's leading records.
constexpr uint32_t kLeadingRecords = 3;

// "Skip the row if its BitsPerPixel is 24 and it is 800 by 600, or 640 by
// 480, or 720 pixels wide at any height."
inline bool SkippedAtItsDepth(const ModeTableEntry &row)
{
    if (row.BitsPerPixel != 24)
        return false;
    const bool is800x600 = row.Width == 800 && row.Height == 600;
    const bool is640x480 = row.Width == 640 && row.Height == 480;
    const bool is720Wide = row.Width == 720;
    return is800x600 || is640x480 || is720Wide;
}

// "Skip the row if its Disabled is non-zero."
inline bool Disabled(const ModeTableEntry &row) { return row.Disabled != 0; }

// "If the row is 1024 by 768 at 24 bits and the rate is not 60, go on to the
// next rate": that row is probed at 60 Hz only.
inline bool OnlyAt60Hz(const ModeTableEntry &row)
{
    return row.Width == 1024 && row.Height == 768 && row.BitsPerPixel == 24;
}

// Whether the build probes `row` at `rate` (the rate being the table entry's
// low 16 bits).
inline bool Probed(const ModeTableEntry &row, uint16_t rate)
{
    return !SkippedAtItsDepth(row) && !Disabled(row) && !(OnlyAt60Hz(row) && rate != 60);
}

// A probe's answer: pfnQueryMode's result counts by its low byte only.
inline bool Accepted(const sim::CallRecord &probe) { return (probe.result & 0xFFu) != 0; }

// Accepted at the rate asked: "If the low byte of the returned Refresh differs
// from the rate, go on to the next rate.  All 8 bits take part", so a rate of
// 256 or more is never answered at.
inline bool AnsweredAt(const sim::CallRecord &probe, uint16_t rate)
{
    return Accepted(probe) && (probe.out.refresh & 0xFFu) == rate;
}

} // namespace rules

#endif
