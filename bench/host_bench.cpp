// Host build benchmarks: each entry of the module through the host doubles,
// and the same calls made by the doubles alone, so that the module's share of
// a call shows as a ratio.
#include <cstdio>
#include <functional>
#include <map>
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
// run of the scenario makes.
sim::CallLog Prepare(Rig &rig, const Scenario &s)
{
    lDllAttach(0x11, 0x22, 0x33, 0x44, nullptr);
    if (ORVX_NUM_MODES > 3)
        g_mode = pModeInfoFromBIOSDLL[3];
    rig.log.clear();
    s.call();
    sim::CallLog recorded = rig.log;
    rig.tidy(false);
    return recorded;
}

void Run(benchmark::State &state, const Scenario &s, bool moduleToo)
{
    Rig rig(s.profile());
    const sim::CallLog recorded = Prepare(rig, s);
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

// Prints the ordinary report, then each scenario's module time over its
// doubles-alone time.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &r : runs)
            if (r.run_type == Run::RT_Iteration && r.error_message.empty())
                perCall_[r.benchmark_name()] = r.GetAdjustedRealTime();
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::printf("\n%-26s %14s %14s %8s\n", "scenario", "module+doubles", "doubles alone", "ratio");
        for (const Scenario &s : Scenarios()) {
            const auto m = perCall_.find(std::string("module/") + s.name);
            const auto d = perCall_.find(std::string("doubles/") + s.name);
            if (m == perCall_.end() || d == perCall_.end())
                continue;
            std::printf("%-26s %11.1f ns %11.1f ns %8.2f\n", s.name, m->second, d->second, m->second / d->second);
        }
    }

private:
    std::map<std::string, double> perCall_;
};

} // namespace

int main(int argc, char **argv)
{
    for (const Scenario &s : Scenarios()) {
        benchmark::RegisterBenchmark((std::string("module/") + s.name).c_str(),
                                     [&s](benchmark::State &st) { Run(st, s, true); });
        benchmark::RegisterBenchmark((std::string("doubles/") + s.name).c_str(),
                                     [&s](benchmark::State &st) { Run(st, s, false); });
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
