// Every pool allocation refused in turn, in every scenario that allocates, on
// both backends: no crash, no leak, counts and array consistent, an earlier
// list intact, and the next attach whole again.
#include <functional>

#include "attach_check.h"
#include "module_test.h"
#include "zerval_hooks.h"

namespace {

struct Scenario {
    const char *name;
    std::function<void(ModuleUnderTest &)> setUp;
};

const std::vector<Scenario> &Scenarios()
{
    static const std::vector<Scenario> list = {
        {"accept-all", [](ModuleUnderTest &) {}},
        {"default profile", [](ModuleUnderTest &m) { m.adapter.profile = sim::DefaultProfile(); }},
        {"refuse-all", [](ModuleUnderTest &m) { m.adapter.onQueryMode = [](sim::Query &) { return 0u; }; }},
        {"every row disabled", [](ModuleUnderTest &m) { m.editEveryRow([](ModeTableEntry &r) { r.Disabled = 1; }); }},
        {"table sizes 0", [](ModuleUnderTest &m) { m.setU32("modeTableSize", 0); m.setU32("freqTableSize", 0); }},
        {"unusable under the second probe",
         [](ModuleUnderTest &m) {
             m.adapter.onQueryMode = [](sim::Query &q) { return q.flags == ZERVAL_QUERY_ENUMERATE ? 1u : 0u; };
         }},
    };
    return list;
}

class LowResourcesTest : public ModuleTest {};

// A clean attach makes exactly two requests, so refusing the first, then the
// second, covers every request; the third refusal names a request that never
// comes and must change nothing.
TEST_P(LowResourcesTest, EachAllocationRefusedInTurnOnFirstAttach)
{
    for (const Scenario &s : Scenarios()) {
        for (uint32_t nth = 1; nth <= 3; ++nth) {
            SCOPED_TRACE(std::string(s.name) + ", request " + std::to_string(nth) + " refused");
            auto mod = MakeModule(GetParam());
            s.setUp(*mod);
            PublishedArrays arrays;
            mod->pool.failRequest(nth);
            std::vector<std::string> problems = AttachAndCheck(*mod, arrays);
            EXPECT_TRUE(problems.empty()) << Join(problems);
            if (nth <= 2) {
                EXPECT_EQ(mod->u32("NumModesFromBIOSDLL"), 0u);
                EXPECT_EQ(mod->u32("ORVX_NUM_MODES"), 0u);
                EXPECT_EQ(mod->publishedAddress(), 0u);
            }
            problems = AttachAndCheck(*mod, arrays);
            EXPECT_TRUE(problems.empty()) << "next attach:" << Join(problems);
            EXPECT_NE(mod->publishedAddress(), 0u);
        }
    }
}

TEST_P(LowResourcesTest, EachAllocationRefusedInTurnKeepsTheEarlierList)
{
    for (const Scenario &s : Scenarios()) {
        for (uint32_t nth = 1; nth <= 2; ++nth) {
            SCOPED_TRACE(std::string(s.name) + ", request " + std::to_string(nth) + " refused");
            auto mod = MakeModule(GetParam());
            PublishedArrays arrays;
            // The earlier list comes from an ordinary adapter.
            mod->adapter.profile = sim::DefaultProfile();
            std::vector<std::string> problems = AttachAndCheck(*mod, arrays);
            ASSERT_TRUE(problems.empty()) << Join(problems);
            const uint32_t earlierCount = mod->u32("ORVX_NUM_MODES");
            const std::vector<VIDEO_MODE_INFORMATION> earlier = mod->published();

            mod->adapter.profile = sim::Profile{};
            s.setUp(*mod);
            mod->pool.failRequest(nth);
            problems = AttachAndCheck(*mod, arrays);  // checks the earlier list is intact
            EXPECT_TRUE(problems.empty()) << Join(problems);
            EXPECT_EQ(mod->u32("NumModesFromBIOSDLL"), 0u);
            EXPECT_EQ(mod->u32("ORVX_NUM_MODES"), earlierCount);
            ASSERT_EQ(mod->published().size(), earlier.size());
            EXPECT_EQ(mod->published()[3].VisScreenWidth, earlier[3].VisScreenWidth);

            problems = AttachAndCheck(*mod, arrays);
            EXPECT_TRUE(problems.empty()) << "next attach:" << Join(problems);
        }
    }
}

// The entries other than lDllAttach never allocate, attached or not.
TEST_P(LowResourcesTest, OnlyAttachAllocates)
{
    VIDEO_MODE_INFORMATION r = Record(640, 480, 8, 60);
    auto everyOtherEntry = [&] {
        m->vValidateMode(&r, 0);
        m->SetMode(&r, 0);
        m->Orvalen_Function(1);
        m->MeltoBiosDll(0xFFFFFFFF, 2, 3);
        m->GetFreeFramebufferSize();
        m->BiosDllSetInitialValue();
        m->DriverEntry();
    };
    everyOtherEntry();
    EXPECT_TRUE(m->pool.allocations().empty());
    ASSERT_EQ(m->attach(), TRUE);
    const size_t afterAttach = m->pool.allocations().size();
    everyOtherEntry();
    EXPECT_EQ(m->pool.allocations().size(), afterAttach);
}

ZERVAL_ON_EVERY_BACKEND(LowResourcesTest);

} // namespace
