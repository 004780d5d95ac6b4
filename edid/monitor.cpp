#include "monitor.h"

#include <algorithm>

namespace edid {

void SetMonitor(const Edid &e, sim::Profile &p)
{
    p.monitorMinRefresh = 0;
    p.monitorMaxRefresh = 0;
    p.monitorMaxLineRate = 0;
    p.monitorMaxPixelRate = 0;
    p.monitorModes.clear();
    if (e.range) {
        // The minimum horizontal rate is left out: the model counts visible
        // lines only, which would put 640x480 at 60 Hz (28.8 kHz) below
        // nearly every monitor's minimum.
        p.monitorMinRefresh = e.range->minVerticalHz;
        p.monitorMaxRefresh = e.range->maxVerticalHz;
        p.monitorMaxLineRate = e.range->maxHorizontalKHz * 1000u;
        p.monitorMaxPixelRate = uint64_t(e.range->maxPixelClockMHz) * 1'000'000u;
        return;
    }
    for (const Timing &t : e.timings) {
        const text::MonitorMode m{t.width, t.height, t.refreshHz()};
        if (!t.interlaced && m.refresh != 0 &&
            std::find(p.monitorModes.begin(), p.monitorModes.end(), m) == p.monitorModes.end())
            p.monitorModes.push_back(m);
    }
    if (p.monitorModes.empty())
        throw BadEdid("no Display Range Limits descriptor and no progressive timing: nothing says what the monitor shows");
}

} // namespace edid
