// The deterministic figures of the driver image under the emulator: work and
// stack per entry, pool use per attach, file size, and the floor of the
// accept-all attach.
#ifndef ZERVAL_BENCH_FIGURES_H
#define ZERVAL_BENCH_FIGURES_H

#include <cstdint>
#include <string>
#include <vector>

#include "baseline.h"

namespace bench {

// One entry called in one scenario.
struct EntryRun {
    std::string entry;
    std::string scenario;
    uint64_t instructions = 0;  // executed inside the image
    uint32_t stackBytes = 0;    // deepest, return addresses and hook arguments included
    uint32_t callsOut = 0;      // kernel, sibling and hook calls
    // Attach runs only.
    uint32_t allocations = 0;
    uint64_t allocatedBytes = 0;
    uint32_t modes = 0;
};

// What the accept-all attach had to do, counted from its own call log and the
// catalogue it ran on.
struct AttachWork {
    uint32_t rowsChecked = 0;     // catalogue rows looked at
    uint32_t rowsProbed = 0;      // rows neither skipped nor disabled
    uint32_t rates = 0;           // rates per probed row
    uint32_t firstProbes = 0;     // pfnQueryMode with Flags 2
    uint32_t secondProbes = 0;    // pfnQueryMode with Flags 0
    uint32_t published = 0;       // records written
    uint64_t fixedCallCost = 0;   // argument pushes and calls outside the loops
};

// The least any correct image can execute for an attach, counted in i386
// instructions, under the contract with the services driver: every query
// lives in the caller's stack frame, pfnQueryMode is read from the table (and
// tested, since an empty slot is a refusal) at every call, and an accepted
// first answer is copied whole into the candidate list.  Record writes are
// counted one store per field the build names; a value that lives in memory
// costs a load before it can be stored or compared.  Across a stdcall hook
// only EBX, ESI, EDI and EBP survive, and the loops already need four
// positions there (next free slot, rate entry, row, rate), so the row's fields
// are loaded again for every probe.
namespace cost {
// Load the rate; advance, compare and branch.
constexpr uint64_t kRateIteration = 1 + 3;
// A rate passed over by the 60 Hz-only rule: compare and branch.
constexpr uint64_t kRateSkipped = 2;
// A call of pfnQueryMode on the query in the frame: load the hook from the
// table, test and branch; push 0, compute the query's address and push it,
// call; test and branch on the result.
constexpr uint64_t kQueryCall = 3 + 4 + 2;
// Three row loads, five field stores (depth, width, height, rate, Flags), the
// call.
constexpr uint64_t kRefusedProbe = 3 + 5 + kQueryCall;
// A first probe answered TRUE: also load the returned Refresh byte, compare
// and branch.
constexpr uint64_t kFirstProbe = kRefusedProbe + 3;
// The accepted answer's 16 bytes copied into the candidate list: four loads,
// four stores.
constexpr uint64_t kAnswerCopy = 4 + 4;
// The same query asked again: three row loads, five stores (the four fields
// and Flags; Attributes stays as answered), the call, the returned Refresh
// compared, the mark stored and the next free slot advanced.
constexpr uint64_t kSecondProbe = 3 + 5 + kQueryCall + 3 + 1 + 1;
// Six fields loaded and six stored; index advance, compare, branch.
constexpr uint64_t kPublishedRecord = 6 + 6 + 3;
// Row advance, compare, branch; the depth test and the Disabled test.
constexpr uint64_t kRow = 3 + 2 + 2;
// Global writes: BIOS_Attach, Size, pfnTvControl, NumModesFromBIOSDLL
// (cleared), the three published values; the return.
constexpr uint64_t kGlobals = 7 + 1;
} // namespace cost

struct Floor {
    uint64_t perRateIteration = 0, perRateSkipped = 0, perFirstProbe = 0, perAnswerCopy = 0, perSecondProbe = 0,
             perPublishedRecord = 0, perRow = 0, fixed = 0;
    uint64_t total = 0;
};

Floor FloorOf(const AttachWork &work);

struct Figures {
    std::vector<EntryRun> runs;
    AttachWork acceptAllWork;
    Floor floor;
    uint64_t imageBytes = 0;
    // Marginal cost of one more accepted combination (both probes and its
    // published record), and of one more refused probe, from runs that differ
    // by one rate.
    double perAcceptedCombination = 0;
    double perRefusedProbe = 0;
};

Figures Measure(const std::string &imagePath);

// The figures as the baseline keeps them.
std::vector<Value> Flatten(const Figures &figures);

} // namespace bench

#endif
