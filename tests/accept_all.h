// What a services driver that accepts every combination under both probes,
// at the rate asked, gets published from the shipped catalogue: counted once
// here, from the catalogue as its documentation gives it
// (shipped_catalogue.h) and the documented rules of the build
// (mode_list_rules.h), so that no test types the counts.
#ifndef ZERVAL_TESTS_ACCEPT_ALL_H
#define ZERVAL_TESTS_ACCEPT_ALL_H

#include <cstdint>

#include "mode_list_rules.h"
#include "shipped_catalogue.h"

namespace accept_all {

// The modes found: every row at every rate that the build probes.
inline uint32_t Modes()
{
    uint32_t n = 0;
    for (const ModeTableEntry &row : shipped::Rows())
        for (const uint32_t rate : shipped::Rates())
            n += rules::Probed(row, static_cast<uint16_t>(rate)) ? 1 : 0;
    return n;
}
// ORVX_NUM_MODES: the modes after the display driver's leading records.
inline uint32_t Records() { return Modes() + rules::kLeadingRecords; }
// pfnQueryMode calls: two probes for each mode found.
inline uint32_t Probes() { return 2 * Modes(); }

} // namespace accept_all

#endif
