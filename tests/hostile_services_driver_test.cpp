// A services driver that answers with garbage in the upper bits, rewrites
// whatever it is handed, leaves hooks empty and changes its table between
// calls.  The attach checker judges every build.
#include <random>

#include "accept_all.h"
#include "attach_check.h"
#include "module_test.h"
#include "zerval_hooks.h"

using sim::Callee;
using sim::Hook;

namespace {

class HostileServicesDriverTest : public ModuleTest {
protected:
    std::vector<std::string> attachChecked() { return AttachAndCheck(*m, arrays); }
    PublishedArrays arrays;
};

// Only the low byte of a BOOLEAN answer counts, whatever the upper bits hold.
TEST_P(HostileServicesDriverTest, GarbageInTheUpperBitsOfEveryBooleanAnswer)
{
    for (uint32_t garbage : {0xFFFFFF00u, 0xDEADBE00u}) {
        SCOPED_TRACE("answers 0x" + std::to_string(garbage) + " (+1 for TRUE)");
        auto mod = MakeModule(GetParam());
        PublishedArrays published;
        mod->adapter.onInit = [garbage](const sim::InitBuffer &) { return garbage; };
        EXPECT_EQ(mod->attach(), FALSE);
        mod->adapter.onInit = [garbage](const sim::InitBuffer &) { return garbage | 1u; };
        mod->adapter.onQueryMode = [garbage](sim::Query &) { return garbage; };
        std::vector<std::string> problems = AttachAndCheck(*mod, published);
        EXPECT_TRUE(problems.empty()) << Join(problems);
        EXPECT_EQ(mod->u32("NumModesFromBIOSDLL"), 0u);

        mod->adapter.onQueryMode = [garbage](sim::Query &q) { return q.flags == 0 ? garbage : garbage | 1u; };
        problems = AttachAndCheck(*mod, published);
        EXPECT_TRUE(problems.empty()) << Join(problems);
        ASSERT_EQ(mod->u32("NumModesFromBIOSDLL"), accept_all::Modes());
        EXPECT_EQ(mod->published()[3].Length, 0u);  // the second probe said FALSE

        VIDEO_MODE_INFORMATION r = Record(640, 480, 8, 60);
        mod->vValidateMode(&r, 0);
        EXPECT_EQ(r.Length, 0u);
        mod->adapter.onQueryMode = [garbage](sim::Query &) { return garbage | 1u; };
        mod->vValidateMode(&r, 0);
        EXPECT_EQ(r.Length, 80u);
        mod->adapter.onSetMode = [garbage](const sim::Query &, uint32_t) { return garbage; };
        EXPECT_EQ(mod->SetMode(&r, 0), 87u);
        mod->adapter.onSetMode = [garbage](const sim::Query &, uint32_t) { return garbage | 1u; };
        EXPECT_EQ(mod->SetMode(&r, 0), 0u);
        mod->adapter.onFunction = [garbage](uint32_t) { return garbage; };
        EXPECT_EQ(mod->Orvalen_Function(1), FALSE);
        mod->adapter.onFunction = [garbage](uint32_t) { return garbage | 1u; };
        EXPECT_EQ(mod->Orvalen_Function(1), TRUE);
    }
}

// Answers that rewrite every field of the query at random, refresh included;
// a third of them at the requested rate so that builds have something to
// publish.  Each build must still be exactly the accepted first answers with
// the second answers' marks.
TEST_P(HostileServicesDriverTest, ArbitraryRewritesOfEveryAnsweredField)
{
    for (uint32_t seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        m->adapter.onQueryMode = [&random](sim::Query &q) {
            const uint32_t r = random();
            if (r % 3 == 0)
                q.refresh = static_cast<uint16_t>((random() & 0xFF00u) | (q.refresh & 0xFFu));
            else
                q.refresh = static_cast<uint16_t>(random());
            q.attributes = random();
            q.flags = random();
            if (r & 8)
                q.width = static_cast<uint16_t>(random());
            if (r & 16)
                q.bitsPerPixel = static_cast<uint16_t>(random());
            return random() & 0xFFFF01FFu;
        };
        const std::vector<std::string> problems = attachChecked();
        ASSERT_TRUE(problems.empty()) << Join(problems);
    }
}

// Any subset of the seven hooks left empty by Attach: the attach holds when
// pfnInit, pfnQueryMode and pfnSetMode are all there; every entry then answers
// through the hooks it finds, and with its default where it finds none.
TEST_P(HostileServicesDriverTest, AnySubsetOfHooksEmpty)
{
    for (uint8_t filled = 0; filled <= sim::kAllServiceHooks; ++filled) {
        SCOPED_TRACE("hooks filled 0x" + std::to_string(filled));
        auto mod = MakeModule(GetParam());
        PublishedArrays published;
        mod->adapter.profile.hooks = filled;
        mod->adapter.profile.functionResult = 1;
        mod->adapter.profile.passThroughResult = 7;
        mod->adapter.profile.freeFramebufferBytes = 4096;
        auto has = [filled](Hook h) { return (filled & sim::HookBit(h)) != 0; };
        const bool attaches = has(Hook::Init) && has(Hook::QueryMode) && has(Hook::SetMode);

        std::vector<std::string> problems = AttachAndCheck(*mod, published);
        EXPECT_TRUE(problems.empty()) << Join(problems);
        EXPECT_EQ(mod->u32("ORVX_NUM_MODES"), attaches ? accept_all::Records() : 0u);

        VIDEO_MODE_INFORMATION r = Record(640, 480, 8, 60);
        mod->vValidateMode(&r, 0);
        EXPECT_EQ(r.Length, attaches ? 80u : 0u);
        EXPECT_EQ(mod->SetMode(&r, 0), attaches ? 0u : 87u);
        EXPECT_EQ(mod->Orvalen_Function(1), attaches && has(Hook::Function) ? TRUE : FALSE);
        EXPECT_EQ(mod->MeltoBiosDll(1, 2, 3), attaches && has(Hook::PassThrough) ? 7u : 0u);
        EXPECT_EQ(mod->GetFreeFramebufferSize(), attaches && has(Hook::GetFreeFramebufferSize) ? 4096u : 0u);
        EXPECT_EQ(mod->BiosDllSetInitialValue(), 1u);
        EXPECT_EQ(mod->log.count(Callee::SetInitialValue), attaches && has(Hook::SetInitialValue) ? 1u : 0u);
    }
}

// The services driver keeps the table's address and installs another
// pfnQueryMode after its tenth answer: every later probe goes to the new
// function, and the build is the same.
TEST_P(HostileServicesDriverTest, QueryHookReplacedInTheMiddleOfABuild)
{
    size_t answered = 0;
    m->adapter.afterHook = [&answered](sim::HookTable &t, Callee c) {
        if (c == Callee::QueryMode && ++answered == 10)
            t.fill(Hook::QueryMode, sim::Entry::Replacement);
    };
    const std::vector<std::string> problems = attachChecked();
    EXPECT_TRUE(problems.empty()) << Join(problems);
    EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), accept_all::Modes());
    const std::vector<sim::CallRecord> queries = m->log.of(Callee::QueryMode);
    ASSERT_EQ(queries.size(), accept_all::Probes());
    for (size_t i = 0; i < queries.size(); ++i)
        ASSERT_EQ(queries[i].via, i < 10 ? sim::Entry::Original : sim::Entry::Replacement) << "probe " << i;
}

// The services driver empties pfnQueryMode in the middle of a build: nothing
// is called through the empty slot, every later probe counts as refused, and
// the build publishes what it found in its usual two allocations.  Emptied
// after a first probe, that combination's second probe is refused too, so it
// is published unusable.
TEST_P(HostileServicesDriverTest, QueryHookEmptiedInTheMiddleOfABuild)
{
    for (size_t emptiedAfter : {size_t{10}, size_t{9}}) {
        SCOPED_TRACE("emptied after answer " + std::to_string(emptiedAfter));
        auto mod = MakeModule(GetParam());
        PublishedArrays published;
        size_t answered = 0;
        mod->adapter.afterHook = [&answered, emptiedAfter](sim::HookTable &t, Callee c) {
            if (c == Callee::QueryMode && ++answered == emptiedAfter)
                t.clear(Hook::QueryMode);
        };
        const std::vector<std::string> problems = AttachAndCheck(*mod, published);
        EXPECT_TRUE(problems.empty()) << Join(problems);
        EXPECT_EQ(mod->log.count(Callee::QueryMode), emptiedAfter);
        ASSERT_EQ(mod->u32("NumModesFromBIOSDLL"), 5u);  // the accept-all adapter's first five
        const std::vector<VIDEO_MODE_INFORMATION> list = mod->published();
        ASSERT_EQ(list.size(), 8u);
        EXPECT_EQ(list[6].Length, 80u);
        EXPECT_EQ(list[7].Length, emptiedAfter == 10 ? 80u : 0u);
        EXPECT_EQ(mod->pool.allocations().size(), 2u);
        EXPECT_EQ(mod->pool.live().size(), 1u);
        expectModeServicesRefuseWithoutCalls(*mod);
        for (const std::string &breach : mod->log.breaches())
            ADD_FAILURE() << breach;
    }
}

// SetMode reads pfnSetMode after pfnQueryMode has answered: a replacement
// installed while the query is answered gets the set; a slot emptied then
// makes it 87 without a call.
TEST_P(HostileServicesDriverTest, SetHookReplacedOrEmptiedWhileAnsweringTheQuery)
{
    ASSERT_TRUE(attachChecked().empty());
    VIDEO_MODE_INFORMATION r = Record(640, 480, 8, 60);
    m->log.clear();
    m->adapter.afterHook = [](sim::HookTable &t, Callee c) {
        if (c == Callee::QueryMode)
            t.fill(Hook::SetMode, sim::Entry::Replacement);
    };
    EXPECT_EQ(m->SetMode(&r, 0), 0u);
    ASSERT_EQ(m->log.count(Callee::SetMode), 1u);
    EXPECT_EQ(m->log.of(Callee::SetMode)[0].via, sim::Entry::Replacement);

    m->log.clear();
    m->adapter.afterHook = [](sim::HookTable &t, Callee c) {
        if (c == Callee::QueryMode)
            t.clear(Hook::SetMode);
    };
    EXPECT_EQ(m->SetMode(&r, 0), 87u);
    EXPECT_EQ(m->log.count(Callee::QueryMode), 1u);
    EXPECT_EQ(m->log.count(Callee::SetMode), 0u);
}

// The TV hook emptied, the Size rewritten and the hooks shuffled between
// calls: each entry reads the table as it stands when it is called.
TEST_P(HostileServicesDriverTest, TableFieldsChangedBetweenCalls)
{
    ASSERT_TRUE(attachChecked().empty());
    m->adapter.profile.passThroughResult = -1;
    m->adapter.afterHook = [](sim::HookTable &t, Callee c) {
        if (c == Callee::PassThrough)
            t.clear(Hook::TvControl);
    };
    EXPECT_EQ(m->MeltoBiosDll(1, 2, 3), FALSE);  // negative answer, no TV hook left
    EXPECT_EQ(m->log.count(Callee::TvControl), 0u);

    m->adapter.afterHook = [](sim::HookTable &t, Callee c) {
        if (c == Callee::Function) {
            t.clear(Hook::Function);
            t.fill(Hook::TvControl);
        }
    };
    EXPECT_EQ(m->Orvalen_Function(1), TRUE);
    EXPECT_EQ(m->Orvalen_Function(1), FALSE);
    EXPECT_EQ(m->MeltoBiosDll(1, 2, 3), m->adapter.profile.tvControlResult & 0xFFu);
    EXPECT_EQ(m->log.count(Callee::TvControl), 1u);
}

// pfnInit fails on a later attach: the attach fails, the table is wiped, the
// earlier list stays published and unchanged, every entry answers its default,
// and a later successful attach builds afresh.
TEST_P(HostileServicesDriverTest, InitFailsAfterAnEarlierSuccess)
{
    m->adapter.profile = sim::DefaultProfile();
    ASSERT_TRUE(attachChecked().empty());
    const uint32_t earlier = m->u32("ORVX_NUM_MODES");
    m->adapter.profile.initSucceeds = false;
    std::vector<std::string> problems = attachChecked();
    EXPECT_TRUE(problems.empty()) << Join(problems);
    EXPECT_EQ(m->u32("ORVX_NUM_MODES"), earlier);
    expectModeServicesRefuseWithoutCalls();
    EXPECT_EQ(m->GetFreeFramebufferSize(), 0u);
    m->adapter.profile.initSucceeds = true;
    problems = attachChecked();
    EXPECT_TRUE(problems.empty()) << Join(problems);
    EXPECT_EQ(m->u32("ORVX_NUM_MODES"), earlier);
    EXPECT_NE(m->publishedAddress(), 0u);
}

ZERVAL_ON_EVERY_BACKEND(HostileServicesDriverTest);

} // namespace
