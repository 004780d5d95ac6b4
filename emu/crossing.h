// The calls between loaded images (the module, real sibling drivers, a
// display driver) and the calls they make to the simulation's own routines,
// in the order they were made: what a trace shows next to the simulated
// neighbours' call log.
#ifndef ZERVAL_EMU_CROSSING_H
#define ZERVAL_EMU_CROSSING_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "call_log.h"
#include "query.h"

namespace emu {

struct Crossing {
    // Where it falls in the simulation's call log: the log held logIndex
    // calls when it was made.  A call to a simulated routine (callee empty)
    // added the log's calls from logIndex up to logEnd.
    size_t logIndex = 0;
    size_t logEnd = 0;
    int depth = 0;        // calls between images open around this one
    std::string caller;   // module name of the calling image
    std::string callee;   // module name of the called image; empty: a simulated routine
    std::string entry;    // the export or hook called: "_Attach@16", "pfnQueryMode"
    std::vector<uint32_t> args;
    // Where it ran: for a call into an image, the address it entered; for a
    // call to a simulated routine, the calling instruction.
    uint32_t at = 0;
    uint32_t record = 0;       // a record handed to a hook: its address, 0 for none
    uint32_t recordBytes = 0;  // and its documented size
    std::optional<sim::Query> queryIn, queryOut;    // a ModeQuery as handed over and as handed back
    std::optional<sim::TableView> tableAfter;       // Attach: the hook table as it returned
    bool returned = false;
    // What of EAX the callee's result type gives back: 4 bytes, 1 (AL, a
    // BOOLEAN), or 0 for a VOID function, whose EAX means nothing.
    uint8_t resultBytes = 4;
    uint32_t result = 0;  // EAX on return
    // A simulated routine that adds nothing to the call log: what the trace
    // shows after "caller -> " ("VideoPortReadPortUchar(0x3c4) = 0xff", or
    // the text a debug print printed).
    std::string said;
};

// The call as it was made: "kelv.sys!pfnQueryMode({640x480x8 @60 ...}, 0x0)".
std::string DescribeCalled(const Crossing &crossing);

// "zerval.sys -> kelv.sys!pfnQueryMode({640x480x8 @60 ...}, 0x0) = 0x1 -> {...}";
// for a simulated routine (no callee), "ExFreePoolWithTag(0x20000ff8, 0x696e694d) = 0x0".
std::string Describe(const Crossing &crossing);

} // namespace emu

#endif
