// libFuzzer target over the EDID reader: any file contents, binary or hex
// dump.  Either a one-line BadEdid or an EDID whose timings and limits are
// what the block can hold, and a monitor taken from it.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "edid.h"
#include "monitor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view contents(reinterpret_cast<const char *>(data), size);
    try {
        const edid::Edid e = edid::Decode(edid::BytesOf(contents));
        // Four descriptors, 17 established and 8 standard timings at most.
        if (e.timings.size() > 17 + 8 + 4)
            std::abort();
        for (const edid::Timing &t : e.timings)
            if (t.width > 8191 || t.height > 2 * 4095 + 1)
                std::abort();
        if (e.range && (e.range->maxVerticalHz > 510 || e.range->maxHorizontalKHz > 510 || e.range->maxPixelClockMHz > 2550))
            std::abort();
        sim::Profile p;
        edid::SetMonitor(e, p);
    } catch (const edid::BadEdid &bad) {
        for (const char *c = bad.what(); *c; ++c)
            if (*c == '\n')
                std::abort();  // one line
    }
    return 0;
}
