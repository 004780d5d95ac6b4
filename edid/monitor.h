// The monitor an EDID describes, in the adapter model's terms.
#ifndef ZERVAL_EDID_MONITOR_H
#define ZERVAL_EDID_MONITOR_H

#include "edid.h"
#include "profile.h"

namespace edid {

// Replaces the profile's monitor fields with what the EDID says.  With a
// Display Range Limits descriptor: its vertical rates (both limits), its
// maximum horizontal rate and its maximum pixel clock.  Without one: the
// progressive timings the block lists, each at its rate rounded to whole Hz.
// Throws BadEdid when the EDID has neither.
void SetMonitor(const Edid &edid, sim::Profile &profile);

} // namespace edid

#endif
