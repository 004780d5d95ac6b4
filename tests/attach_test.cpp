// Attach: the order of calls, the table the services driver is handed, a
// failed init, repeated attaches.
#include "accept_all.h"
#include "module_test.h"
#include "zerval_hooks.h"

using sim::Callee;
using sim::Hook;

namespace {

class AttachTest : public ModuleTest {};

// The table size the services driver must see: sizeof(DllExt), 36 in the image.
uint32_t ExpectedTableSize(Backend backend) { return backend == Backend::Host ? sizeof(DllExt) : 36u; }

void FillAllBut(sim::HookTable &table, Hook missing)
{
    for (int h = 0; h < sim::kHookCount - 1; ++h)
        if (static_cast<Hook>(h) != missing)
            table.fill(static_cast<Hook>(h));
}

TEST_P(AttachTest, DriverEntrySucceedsAndTouchesNothing)
{
    EXPECT_EQ(m->DriverEntry(), 0u);
    EXPECT_TRUE(m->log.calls().empty());
    EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), 0u);
    EXPECT_EQ(m->publishedAddress(), 0u);
}

TEST_P(AttachTest, CallsSiblingsThenInitThenProbes)
{
    uint8_t result = 0xEE;
    EXPECT_EQ(m->lDllAttach(0x1001, 0x2002, 0x3003, 0x4004, &result), TRUE);
    EXPECT_EQ(result, 0);

    const auto seq = m->log.driverSequence();
    ASSERT_GE(seq.size(), 4u);
    EXPECT_EQ(seq[0], Callee::AttachRMX);
    EXPECT_EQ(seq[1], Callee::Attach);
    EXPECT_EQ(seq[2], Callee::Init);
    for (size_t i = 3; i < seq.size(); ++i)
        ASSERT_EQ(seq[i], Callee::QueryMode) << "call " << i;

    const auto rmx = m->log.of(Callee::AttachRMX).at(0);
    EXPECT_EQ(rmx.args[0], 0x1001u);
    EXPECT_EQ(rmx.args[1], 0x2002u);
    const auto attach = m->log.of(Callee::Attach).at(0);
    EXPECT_EQ(attach.args[0], 0x1001u);
    EXPECT_EQ(attach.args[1], 0x2002u);
    EXPECT_EQ(attach.args[3], 0x4004u);
    EXPECT_TRUE(m->log.of(Callee::Init).at(0).bufferZero);
}

TEST_P(AttachTest, ServicesDriverSeesSizeAndTvControlOnly)
{
    m->attach();
    const sim::TableView during = m->log.of(Callee::Attach).at(0).table;
    EXPECT_EQ(during.size, ExpectedTableSize(GetParam()));
    EXPECT_EQ(during.filled, 1u << static_cast<int>(Hook::TvControl));
    EXPECT_TRUE(during.tvControlIsRmx);

    const sim::TableView after = m->adapter.table()->view();
    EXPECT_EQ(after.size, ExpectedTableSize(GetParam()));
    EXPECT_EQ(after.filled, 0xFFu);
}

TEST_P(AttachTest, FailedInitWipesTableAndKeepsEverythingElse)
{
    uint8_t result = 0xEE;
    ASSERT_EQ(m->attach(&result), TRUE);
    const uint64_t firstList = m->publishedAddress();
    const uint32_t firstCount = m->u32("ORVX_NUM_MODES");
    m->log.clear();

    result = 0x5A;
    m->adapter.profile.initSucceeds = false;
    EXPECT_EQ(m->attach(&result), FALSE);
    EXPECT_EQ(result, 0x5A);
    const sim::TableView table = m->adapter.table()->view();
    EXPECT_EQ(table.size, 0u);
    EXPECT_EQ(table.filled, 0u);
    EXPECT_EQ(m->log.count(Callee::QueryMode), 0u);
    EXPECT_EQ(m->publishedAddress(), firstList);
    EXPECT_EQ(m->u32("ORVX_NUM_MODES"), firstCount);
    EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), firstCount - rules::kLeadingRecords);

    // Unattached again: the forwarded services answer with their defaults.
    EXPECT_EQ(m->GetFreeFramebufferSize(), 0u);
    EXPECT_EQ(m->BiosDllSetInitialValue(), 1u);
    EXPECT_EQ(m->Orvalen_Function(7), FALSE);
    EXPECT_EQ(m->MeltoBiosDll(1, 2, 3), FALSE);
    EXPECT_EQ(m->log.count(Callee::GetFreeFramebufferSize), 0u);
}

// The byte at pResult as the sibling drivers see it while the attach runs (a
// sibling may know its address, through AttachParam): untouched through
// Attach and pfnInit, 0 from the first probe of the mode-list build on; after
// a failed pfnInit never written.
TEST_P(AttachTest, ResultByteIsClearedAfterInitAndBeforeTheFirstProbe)
{
    std::vector<int> seen;  // -1: no byte to read
    auto look = [this, &seen] {
        const std::optional<uint8_t> byte = m->resultByteNow();
        seen.push_back(byte ? *byte : -1);
    };
    m->adapter.onAttach = [look](sim::HookTable &table) {
        look();
        FillAllBut(table, Hook::TvControl);
    };
    bool initSucceeds = true;
    m->adapter.onInit = [look, &initSucceeds](const sim::InitBuffer &) {
        look();
        return initSucceeds ? 1u : 0u;
    };
    m->adapter.onQueryMode = [look](sim::Query &) {
        look();
        return 1u;
    };

    uint8_t result = 0x5A;
    ASSERT_EQ(m->attach(&result), TRUE);
    EXPECT_EQ(result, 0);
    // Attach, pfnInit, then the two probes of every combination.
    ASSERT_EQ(seen.size(), 2 + accept_all::Probes());
    EXPECT_EQ(seen[0], 0x5A) << "during Attach";
    EXPECT_EQ(seen[1], 0x5A) << "during pfnInit";
    for (size_t i = 2; i < seen.size(); ++i)
        ASSERT_EQ(seen[i], 0) << "during probe " << i - 2;
    EXPECT_FALSE(m->resultByteNow().has_value()) << "after the attach";

    seen.clear();
    initSucceeds = false;
    result = 0xC3;
    ASSERT_EQ(m->attach(&result), FALSE);
    EXPECT_EQ(result, 0xC3);
    EXPECT_EQ(seen, (std::vector<int>{0xC3, 0xC3}));

    // With no result byte there is none to see.
    seen.clear();
    initSucceeds = true;
    ASSERT_EQ(m->lDllAttach(1, 2, 3, 4, nullptr), TRUE);
    ASSERT_EQ(seen.size(), 2 + accept_all::Probes());
    EXPECT_EQ(seen.front(), -1);
    EXPECT_EQ(seen.back(), -1);
}

TEST_P(AttachTest, InitResultCountsByLowByteOnly)
{
    m->adapter.onInit = [](const sim::InitBuffer &) { return 0x100u; };
    EXPECT_EQ(m->attach(), FALSE);
    m->adapter.onInit = [](const sim::InitBuffer &) { return 0xFFFFFF01u; };
    EXPECT_EQ(m->attach(), TRUE);
}

TEST_P(AttachTest, NullResultPointerStillAttaches)
{
    EXPECT_EQ(m->lDllAttach(1, 2, 3, 4, nullptr), TRUE);
    EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), accept_all::Modes());
}

TEST_P(AttachTest, EmptyRequiredHookFailsLikeInit)
{
    for (Hook missing : {Hook::Init, Hook::QueryMode, Hook::SetMode}) {
        SCOPED_TRACE(sim::HookName(missing));
        m = MakeModule(GetParam());
        m->adapter.onAttach = [missing](sim::HookTable &t) { FillAllBut(t, missing); };
        uint8_t result = 0x77;
        EXPECT_EQ(m->attach(&result), FALSE);
        EXPECT_EQ(result, 0x77);
        EXPECT_EQ(m->log.count(Callee::Init), 0u);
        EXPECT_EQ(m->log.count(Callee::QueryMode), 0u);
        EXPECT_EQ(m->adapter.table()->view().filled, 0u);
        EXPECT_EQ(m->adapter.table()->view().size, 0u);
        EXPECT_EQ(m->publishedAddress(), 0u);
        EXPECT_EQ(m->u32("ORVX_NUM_MODES"), 0u);
    }
}

// An empty pfnQueryMode is a refusal: emptied during init, every probe is
// refused and the build publishes an empty list in its usual two allocations.
TEST_P(AttachTest, QueryHookEmptiedDuringInitPublishesAnEmptyList)
{
    m->adapter.afterHook = [](sim::HookTable &t, Callee c) {
        if (c == Callee::Init)
            t.clear(Hook::QueryMode);
    };
    EXPECT_EQ(m->attach(), TRUE);
    EXPECT_EQ(m->log.count(Callee::QueryMode), 0u);
    EXPECT_EQ(m->pool.allocations().size(), 2u);
    EXPECT_EQ(m->pool.live().size(), 1u);
    EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), 0u);
    EXPECT_EQ(m->u32("ORVX_NUM_MODES"), rules::kLeadingRecords);
    EXPECT_NE(m->publishedAddress(), 0u);
}

TEST_P(AttachTest, OptionalHooksMayBeEmpty)
{
    m->adapter.profile.hooks = sim::HookBit(Hook::Init) | sim::HookBit(Hook::QueryMode) | sim::HookBit(Hook::SetMode);
    EXPECT_EQ(m->attach(), TRUE);
    EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), accept_all::Modes());
}

TEST_P(AttachTest, RepeatedAttachRebuildsAndKeepsEarlierArray)
{
    ASSERT_EQ(m->attach(), TRUE);
    const uint64_t first = m->publishedAddress();
    m->adapter.profile.depths = {8};
    ASSERT_EQ(m->attach(), TRUE);
    const uint64_t second = m->publishedAddress();

    EXPECT_NE(first, second);
    EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), 17u * 16u);
    EXPECT_EQ(m->log.count(Callee::AttachRMX), 2u);
    EXPECT_EQ(m->log.count(Callee::Attach), 2u);
    EXPECT_EQ(m->log.of(Callee::Attach).at(1).table.filled, 1u << static_cast<int>(Hook::TvControl));

    // Both arrays live; every candidate list freed.
    const auto live = m->pool.live();
    ASSERT_EQ(live.size(), 2u);
    EXPECT_EQ(live[0].address, first);
    EXPECT_EQ(live[1].address, second);
}

ZERVAL_ON_EVERY_BACKEND(AttachTest);

} // namespace
