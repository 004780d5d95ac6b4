// Runs each entry of the image in its scenarios and counts what it did.
#include "figures.h"

#include <fstream>
#include <set>
#include <stdexcept>
#include <tuple>

#include "image_backend.h"
#include "zerval_hooks.h"

namespace bench {

namespace {

struct Session {
    std::unique_ptr<ModuleUnderTest> module;
    emu::Machine *machine = nullptr;
};

Session Fresh(const pe::Image &image)
{
    Session s;
    s.module = MakeImageModule(image);
    s.machine = MachineOf(*s.module);
    return s;
}

EntryRun Stats(const Session &s, const std::string &entry, const std::string &scenario)
{
    const emu::CallStats &stats = s.machine->lastCall();
    EntryRun run;
    run.entry = entry;
    run.scenario = scenario;
    run.instructions = stats.instructions;
    run.stackBytes = stats.stackBytes;
    run.callsOut = stats.hookCalls;
    return run;
}

void RefuseEveryMode(ModuleUnderTest &m)
{
    m.adapter.onQueryMode = [](sim::Query &) { return 0u; };
}

AttachWork WorkOf(const sim::CallLog &log, ModuleUnderTest &m);

// One attach on a fresh module, with its pool use; `work`, when asked for,
// gets what the attach had to do.
EntryRun Attach(const pe::Image &image, const std::string &scenario, const sim::Profile &profile,
                bool refuseAll, uint32_t rates, AttachWork *work = nullptr)
{
    Session s = Fresh(image);
    s.module->adapter.profile = profile;
    if (refuseAll)
        RefuseEveryMode(*s.module);
    s.module->setU32("freqTableSize", rates);
    if (s.module->attach() == 0)
        throw std::runtime_error("lDllAttach (" + scenario + ") failed");
    EntryRun run = Stats(s, "lDllAttach", scenario);
    for (const sim::Allocation &a : s.module->pool.allocations()) {
        ++run.allocations;
        run.allocatedBytes += a.size;
    }
    run.modes = s.module->u32("NumModesFromBIOSDLL");
    if (work != nullptr)
        *work = WorkOf(s.module->log, *s.module);
    return run;
}

// Arguments of each call the module makes outside its probing loops.
uint32_t ArgumentsOf(sim::Callee callee)
{
    switch (callee) {
    case sim::Callee::Attach: return 4;
    case sim::Callee::AttachRMX: return 2;
    case sim::Callee::Init: return 1;
    case sim::Callee::AllocatePool: return 3;
    case sim::Callee::FreePool: return 1;
    case sim::Callee::ZeroMemory: return 2;
    default: return 0;
    }
}

AttachWork WorkOf(const sim::CallLog &log, ModuleUnderTest &m)
{
    AttachWork w;
    w.rowsChecked = std::min<uint32_t>(m.u32("modeTableSize"), ZERVAL_MODE_TABLE_ROWS);
    w.rates = std::min<uint32_t>(m.u32("freqTableSize"), ZERVAL_FREQUENCY_TABLE_ENTRIES);
    std::set<std::tuple<uint16_t, uint16_t, uint16_t>> rows;
    for (const sim::CallRecord &c : log.calls()) {
        if (c.callee == sim::Callee::QueryMode) {
            if (c.in.flags == ZERVAL_QUERY_ENUMERATE) {
                ++w.firstProbes;
                rows.insert({c.in.width, c.in.height, c.in.bitsPerPixel});
            } else {
                ++w.secondProbes;
            }
        } else {
            w.fixedCallCost += ArgumentsOf(c.callee) + 1;
        }
    }
    w.rowsProbed = static_cast<uint32_t>(rows.size());
    w.published = m.u32("NumModesFromBIOSDLL");
    return w;
}

} // namespace

Floor FloorOf(const AttachWork &w)
{
    using namespace cost;
    const uint64_t rateIterations = uint64_t{w.rowsProbed} * w.rates;
    Floor f;
    f.perRateIteration = kRateIteration * rateIterations;
    f.perRateSkipped = kRateSkipped * (rateIterations - w.firstProbes);
    f.perFirstProbe = kFirstProbe * w.firstProbes;
    f.perAnswerCopy = kAnswerCopy * w.secondProbes;  // one copy for each accepted first answer
    f.perSecondProbe = kSecondProbe * w.secondProbes;
    f.perPublishedRecord = kPublishedRecord * w.published;
    f.perRow = kRow * w.rowsChecked;
    f.fixed = w.fixedCallCost + kGlobals;
    f.total = f.perRateIteration + f.perRateSkipped + f.perFirstProbe + f.perAnswerCopy + f.perSecondProbe +
              f.perPublishedRecord + f.perRow + f.fixed;
    return f;
}

Figures Measure(const std::string &imagePath)
{
    const pe::Image image = pe::Load(imagePath);
    Figures f;
    {
        std::ifstream in(imagePath, std::ios::binary | std::ios::ate);
        f.imageBytes = static_cast<uint64_t>(in.tellg());
    }

    {
        Session s = Fresh(image);
        s.module->DriverEntry();
        f.runs.push_back(Stats(s, "DriverEntry", "load"));
    }

    constexpr uint32_t kAllRates = ZERVAL_FREQUENCY_TABLE_ENTRIES;
    f.runs.push_back(Attach(image, "accept-all", sim::Profile{}, false, kAllRates, &f.acceptAllWork));
    f.runs.push_back(Attach(image, "default profile", sim::DefaultProfile(), false, kAllRates));
    f.runs.push_back(Attach(image, "refuse-all", sim::Profile{}, true, kAllRates));
    f.floor = FloorOf(f.acceptAllWork);

    // Marginal costs: one rate fewer takes one combination off every row.
    const EntryRun all16 = f.runs[1];
    const EntryRun all15 = Attach(image, "accept-all, 15 rates", sim::Profile{}, false, kAllRates - 1);
    const EntryRun none16 = f.runs[3];
    const EntryRun none15 = Attach(image, "refuse-all, 15 rates", sim::Profile{}, true, kAllRates - 1);
    f.perAcceptedCombination = static_cast<double>(all16.instructions - all15.instructions) /
                               static_cast<double>(all16.modes - all15.modes);
    // Every other call out is the same in both runs: the difference is probes.
    f.perRefusedProbe = static_cast<double>(none16.instructions - none15.instructions) /
                        static_cast<double>(none16.callsOut - none15.callsOut);

    // The mode services and the forwarded services, after a default attach.
    Session s = Fresh(image);
    s.module->adapter.profile = sim::DefaultProfile();
    if (s.module->attach() == 0)
        throw std::runtime_error("lDllAttach (default profile) failed");
    std::vector<VIDEO_MODE_INFORMATION> list = s.module->published();
    if (list.size() < 4)
        throw std::runtime_error("the default profile published no mode");
    VIDEO_MODE_INFORMATION mode = list[3];
    s.module->vValidateMode(&mode, 0);
    f.runs.push_back(Stats(s, "vValidateMode", "default, first published mode"));
    s.module->SetMode(&mode, 0);
    f.runs.push_back(Stats(s, "SetMode", "default, first published mode"));
    s.module->Orvalen_Function(1);
    f.runs.push_back(Stats(s, "Orvalen_Function", "hook filled"));
    s.module->MeltoBiosDll(1, 2, 3);
    f.runs.push_back(Stats(s, "MeltoBiosDll", "hook filled"));
    s.module->GetFreeFramebufferSize();
    f.runs.push_back(Stats(s, "GetFreeFramebufferSize", "hook filled"));
    s.module->BiosDllSetInitialValue();
    f.runs.push_back(Stats(s, "BiosDllSetInitialValue", "hook filled"));
    return f;
}

std::vector<Value> Flatten(const Figures &f)
{
    std::vector<Value> v;
    for (const EntryRun &r : f.runs) {
        std::string key = r.entry + "[" + r.scenario + "]";
        v.push_back({key + ".instructions", r.instructions});
        v.push_back({key + ".stack_bytes", r.stackBytes});
        v.push_back({key + ".calls_out", r.callsOut});
        if (r.entry == "lDllAttach") {
            v.push_back({key + ".allocations", r.allocations});
            v.push_back({key + ".allocated_bytes", r.allocatedBytes});
        }
    }
    v.push_back({"image.file_bytes", f.imageBytes});
    return v;
}

} // namespace bench
