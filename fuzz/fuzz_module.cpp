// libFuzzer target over the host build.  The input is a script: the services
// driver's answers (what each hook returns and how it rewrites the query),
// the display driver's edits of the exported tables, refused allocations, and
// a sequence of display-driver calls.  After every step the invariants of the
// module are checked; any breach aborts with a description.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fuzzer/FuzzedDataProvider.h>

#include "attach_check.h"
#include "module_under_test.h"
#include "query_answer.h"
#include "zerval_hooks.h"

namespace {

[[noreturn]] void Breach(const std::string &what)
{
    std::fprintf(stderr, "invariant broken: %s\n", what.c_str());
    std::abort();
}

void EditTables(FuzzedDataProvider &in, ModuleUnderTest &m)
{
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: {
        const uint32_t i = in.ConsumeIntegralInRange<uint32_t>(0, ZERVAL_MODE_TABLE_ROWS - 1);
        ModeTableEntry r = m.row(i);
        switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: r.Width = in.ConsumeIntegral<uint16_t>(); break;
        case 1: r.Height = in.ConsumeIntegral<uint16_t>(); break;
        case 2: r.BitsPerPixel = in.PickValueInArray({uint16_t{8}, uint16_t{16}, uint16_t{24}, uint16_t{32},
                                                     in.ConsumeIntegral<uint16_t>()}); break;
        default: r.Disabled = in.ConsumeIntegral<uint16_t>(); break;
        }
        m.setRow(i, r);
        break;
    }
    case 1:
        m.setRate(in.ConsumeIntegralInRange<uint32_t>(0, ZERVAL_FREQUENCY_TABLE_ENTRIES - 1),
                  in.PickValueInArray({60u, 0u, 255u, 256u, 0xFFFFFFFFu, in.ConsumeIntegral<uint32_t>()}));
        break;
    case 2: {
        constexpr uint32_t rows = ZERVAL_MODE_TABLE_ROWS;  // around the capacity
        m.setU32("modeTableSize", in.PickValueInArray({0u, 1u, rows - 1, rows, rows + 1, 0xFFFFFFFFu,
                                                       in.ConsumeIntegralInRange<uint32_t>(0, 70)}));
        break;
    }
    default: {
        constexpr uint32_t rates = ZERVAL_FREQUENCY_TABLE_ENTRIES;
        m.setU32("freqTableSize", in.PickValueInArray({0u, 1u, rates - 1, rates, rates + 1, 0xFFFFFFFFu,
                                                       in.ConsumeIntegralInRange<uint32_t>(0, 20)}));
        break;
    }
    }
}

VIDEO_MODE_INFORMATION SomeRecord(FuzzedDataProvider &in, ModuleUnderTest &m)
{
    const std::vector<VIDEO_MODE_INFORMATION> list = m.published();
    if (!list.empty() && in.ConsumeBool())
        return list[in.ConsumeIntegralInRange<size_t>(0, list.size() - 1)];
    VIDEO_MODE_INFORMATION r{};
    r.VisScreenWidth = in.ConsumeIntegral<uint32_t>();
    r.VisScreenHeight = in.ConsumeIntegral<uint32_t>();
    r.BitsPerPlane = in.ConsumeIntegral<uint32_t>();
    r.Frequency = in.ConsumeIntegral<uint32_t>();
    r.DriverSpecificAttributeFlags = in.ConsumeIntegral<uint32_t>();
    return r;
}

void CheckPool(ModuleUnderTest &m, const char *after)
{
    if (!m.pool.faults().empty())
        Breach(std::string("pool fault after ") + after + ": " + m.pool.faults().front());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    std::unique_ptr<ModuleUnderTest> m = MakeModule(Backend::Host);
    PublishedArrays arrays;

    // The services driver.
    m->adapter.profile.hooks = in.ConsumeBool() ? sim::kAllServiceHooks
                                                : in.ConsumeIntegralInRange<uint8_t>(0, sim::kAllServiceHooks);
    m->adapter.onInit = [&in](const sim::InitBuffer &) { return in.ConsumeBool() ? 0xFF00u : 0x01u; };
    m->adapter.onQueryMode = [&in](sim::Query &q) { return AnswerQuery(in, q); };
    m->adapter.onSetMode = [&in](const sim::Query &, uint32_t) { return in.ConsumeBool() ? 0x100u : 1u; };
    m->adapter.onPassThrough = [&in](uint32_t, uint32_t, uint32_t) { return in.ConsumeIntegral<int32_t>(); };
    // Now and then it empties a hook after answering.
    uint8_t clearAfter = 0;
    m->adapter.afterHook = [&clearAfter](sim::HookTable &t, sim::Callee) {
        if (clearAfter != 0) {
            t.clear(static_cast<sim::Hook>(clearAfter % sim::kHookCount));
            clearAfter = 0;
        }
    };

    int attaches = 0;
    for (int step = 0; step < 48 && in.remaining_bytes() > 0; ++step) {
        switch (in.ConsumeIntegralInRange<int>(0, 7)) {
        case 0: {
            if (++attaches > 6)
                break;
            const std::vector<std::string> problems = AttachAndCheck(*m, arrays);
            if (!problems.empty())
                Breach("attach " + std::to_string(attaches) + ":" + Join(problems));
            break;
        }
        case 1: EditTables(in, *m); break;
        case 2: m->pool.failRequest(in.ConsumeIntegralInRange<uint32_t>(1, 3)); break;
        case 3: {
            VIDEO_MODE_INFORMATION r = SomeRecord(in, *m);
            const VIDEO_MODE_INFORMATION before = r;
            m->vValidateMode(in.ConsumeIntegralInRange<int>(0, 15) == 0 ? nullptr : &r, in.ConsumeIntegral<uint32_t>());
            if (r.Length != ZERVAL_MODE_UNUSABLE && r.Length != ZERVAL_MODE_USABLE)
                Breach("vValidateMode wrote Length " + std::to_string(r.Length));
            r.Length = before.Length;
            if (std::memcmp(&r, &before, sizeof r) != 0)
                Breach("vValidateMode wrote beyond Length");
            break;
        }
        case 4: {
            const VIDEO_MODE_INFORMATION r = SomeRecord(in, *m);
            const uint32_t status = m->SetMode(in.ConsumeIntegralInRange<int>(0, 15) == 0 ? nullptr : &r,
                                               in.ConsumeIntegral<uint32_t>());
            if (status != ZERVAL_NO_ERROR && status != ZERVAL_ERROR_INVALID_PARAMETER)
                Breach("SetMode returned " + std::to_string(status));
            break;
        }
        case 5:
            switch (in.ConsumeIntegralInRange<int>(0, 3)) {
            case 0: m->Orvalen_Function(in.ConsumeIntegral<uint32_t>()); break;
            case 1: m->MeltoBiosDll(in.ConsumeIntegral<uint32_t>(), 2, 3); break;
            case 2: m->GetFreeFramebufferSize(); break;
            default:
                if (m->BiosDllSetInitialValue() != 1)
                    Breach("BiosDllSetInitialValue did not answer 1");
                break;
            }
            break;
        case 6: clearAfter = static_cast<uint8_t>(1 + in.ConsumeIntegral<uint8_t>() % sim::kHookCount); break;
        default: m->adapter.profile.hooks = in.ConsumeIntegralInRange<uint8_t>(0, sim::kAllServiceHooks); break;
        }
        CheckPool(*m, "a step");
    }
    return 0;
}
