// What the module asked the services driver - its pfnQueryMode and
// pfnSetMode calls, each with the record as handed over and as handed back -
// whichever services driver answered: the simulated one (its call log) or a
// real kelv.sys (the machine's calls between images).
#ifndef ZERVAL_SIM_TOOL_SERVICES_CALLS_H
#define ZERVAL_SIM_TOOL_SERVICES_CALLS_H

#include <cstddef>
#include <vector>

#include "call_log.h"
#include "module_under_test.h"

// A point in the run, to ask for the calls made after it.
struct CallMark {
    size_t log = 0;        // calls in the module's call log
    size_t crossings = 0;  // the machine's calls between images (image backend)
};
CallMark MarkCalls(ModuleUnderTest &module);

// The pfnQueryMode and pfnSetMode calls since `from` that returned, in order.
std::vector<sim::CallRecord> ServicesCallsSince(ModuleUnderTest &module, CallMark from);

#endif
