// Host build benchmarks, for whoever works on the tests and the fuzzers: how
// long each entry of the host build takes through the host doubles
// (module/...), which is what the behaviour suite and the fuzz targets spend
// per call - an attach bounds how many inputs a second the fuzzers get
// through.  doubles/... makes the same recorded calls against the doubles
// alone, to tell the doubles' bookkeeping from the module's own time when one
// of them is to be made faster.  The image's own cost is measured, exactly, by
// zerval-bench.
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "host_doubles.h"
#include "platform.h"
#include "replay.h"
#include "zerval.h"

namespace {

// The doubles bound to one adapter model, call log and pool ledger.
struct Rig {
    sim::CallLog log;
    sim::PoolLedger pool;
    sim::Adapter adapter{log};

    explicit Rig(const sim::Profile &profile)
    {
        adapter.profile = profile;
        hostsim::Bind({&adapter, &log, &pool});
    }
    ~Rig() { hostsim::Release(); }
    Rig(const Rig &) = delete;
    Rig &operator=(const Rig &) = delete;

    // The books grow with every call; empty them outside the timing.
    void tidy(bool freeBlocks)
    {
        log.clear();
        pool.clear();
        if (freeBlocks) {
            hostsim::Release();
            hostsim::Bind({&adapter, &log, &pool});
        }
    }
};

VIDEO_MODE_INFORMATION g_mode;

struct Scenario {
    const char *name;
    bool attaches;  // allocates: the published arrays pile up
    sim::Profile (*profile)();
    std::function<void()> call;
};

sim::Profile AcceptAll() { return sim::Profile{}; }

const std::vector<Scenario> &Scenarios()
{
    static const std::vector<Scenario> list = {
        {"attach/accept-all", true, AcceptAll, [] { lDllAttach(0x11, 0x22, 0x33, 0x44, nullptr); }},
        {"attach/default", true, sim::DefaultProfile, [] { lDllAttach(0x11, 0x22, 0x33, 0x44, nullptr); }},
        {"vValidateMode", false, sim::DefaultProfile, [] { vValidateMode(&g_mode, 0); }},
        {"SetMode", false, sim::DefaultProfile, [] { SetMode(&g_mode, 0); }},
        {"Orvalen_Function", false, sim::DefaultProfile, [] { Orvalen_Function(1); }},
        {"MeltoBiosDll", false, sim::DefaultProfile, [] { MeltoBiosDll(1, 2, 3); }},
        {"GetFreeFramebufferSize", false, sim::DefaultProfile, [] { GetFreeFramebufferSize(); }},
        {"BiosDllSetInitialValue", false, sim::DefaultProfile, [] { BiosDllSetInitialValue(); }},
    };
    return list;
}

// An attached module with g_mode the first published mode, and the calls one
// run of the scenario makes; false when the attach failed.
bool Prepare(Rig &rig, const Scenario &s, sim::CallLog &recorded)
{
    if (lDllAttach(0x11, 0x22, 0x33, 0x44, nullptr) == FALSE)
        return false;
    if (ORVX_NUM_MODES > 3)
        g_mode = pModeInfoFromBIOSDLL[3];
    rig.log.clear();
    s.call();
    recorded = rig.log;
    rig.tidy(false);
    return true;
}

void Run(benchmark::State &state, const Scenario &s, bool moduleToo)
{
    Rig rig(s.profile());
    sim::CallLog recorded;
    if (!Prepare(rig, s, recorded)) {
        state.SkipWithError("lDllAttach failed");
        return;
    }
    bench::Replay replay(recorded);
    const int64_t tidyEvery = s.attaches ? 64 : 4096;
    int64_t n = 0;
    for (auto _ : state) {
        if (moduleToo)
            s.call();
        else
            replay.run();
        if (++n % tidyEvery == 0) {
            state.PauseTiming();
            rig.tidy(s.attaches);
            if (s.attaches)
                lDllAttach(0x11, 0x22, 0x33, 0x44, nullptr);  // the table again, for the replay
            state.ResumeTiming();
        }
    }
    state.counters["calls_out"] = static_cast<double>(recorded.calls().size());
    if (moduleToo && !rig.log.breaches().empty())
        state.SkipWithError(("contract breach: " + rig.log.breaches().front()).c_str());
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::printf("zerval-host-bench %s\n", ZERVAL_VERSION);
        return 0;
    }
    for (const Scenario &s : Scenarios()) {
        benchmark::RegisterBenchmark((std::string("module/") + s.name).c_str(),
                                     [&s](benchmark::State &st) { Run(st, s, true); });
        benchmark::RegisterBenchmark((std::string("doubles/") + s.name).c_str(),
                                     [&s](benchmark::State &st) { Run(st, s, false); });
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
