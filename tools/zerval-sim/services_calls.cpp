#include "services_calls.h"

#include "crossing.h"
#include "image_backend.h"
#include "roles.h"

CallMark MarkCalls(ModuleUnderTest &m)
{
    const emu::Machine *machine = MachineOf(m);
    return CallMark{m.log.calls().size(), machine != nullptr ? machine->crossings().size() : 0};
}

std::vector<sim::CallRecord> ServicesCallsSince(ModuleUnderTest &m, CallMark from)
{
    std::vector<sim::CallRecord> calls;
    const auto &log = m.log.calls();
    for (size_t i = from.log; i < log.size(); ++i)
        if (log[i].callee == sim::Callee::QueryMode || log[i].callee == sim::Callee::SetMode)
            calls.push_back(log[i]);
    const emu::Machine *machine = MachineOf(m);
    if (machine == nullptr)
        return calls;
    const std::vector<emu::Crossing> &crossings = machine->crossings();
    for (size_t i = from.crossings; i < crossings.size(); ++i) {
        const emu::Crossing &c = crossings[i];
        if (c.callee != InfoOf(Role::Services).module || !c.returned || !c.queryIn || !c.queryOut)
            continue;
        sim::CallRecord r{c.entry == sim::HookName(sim::Hook::SetMode) ? sim::Callee::SetMode : sim::Callee::QueryMode};
        for (size_t a = 0; a < c.args.size() && a < r.args.size(); ++a)
            r.args[a] = c.args[a];
        r.in = *c.queryIn;
        r.out = *c.queryOut;
        r.result = c.resultBytes == 1 ? c.result & 0xFFu : c.result;  // a BOOLEAN hook's answer is AL
        calls.push_back(r);
    }
    return calls;
}
