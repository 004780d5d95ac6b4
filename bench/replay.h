// The doubles alone: replays a recorded run's calls straight against the
// host doubles, without the module, so that the module's own share of a
// host run can be told from the doubles' share.
#ifndef ZERVAL_BENCH_REPLAY_H
#define ZERVAL_BENCH_REPLAY_H

#include <vector>

#include "call_log.h"
#include "zerval_hooks.h"

namespace bench {

class Replay {
public:
    // Decodes the recorded calls once, so that run() spends its time in the
    // doubles rather than in reading the log.  Hooks come from the table the
    // services driver filled at the last attach, until the replay makes an
    // attach of its own.
    explicit Replay(const sim::CallLog &recorded);

    // Makes every recorded call again, in order and with the same arguments
    // and records, against the bound doubles.  The published arrays it
    // allocates stay live, as the module leaves them.
    void run();

private:
    struct Op {
        sim::Callee callee;
        ULONG args[4];
        ModeQuery query;  // QueryMode, SetMode
        int block;        // AllocatePool, FreePool, ZeroMemory: which allocation; -1: none
    };
    std::vector<Op> ops_;
    std::vector<PVOID> blocks_;
    DllExt table_{};
    UCHAR scratch_[ZERVAL_INIT_BUFFER_BYTES] = {};
};

} // namespace bench

#endif
