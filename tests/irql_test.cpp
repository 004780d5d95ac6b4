// The IRQL rules a kernel with its driver verifier holds a driver to, on the
// emulated images: every call runs at an IRQL; paged pool may be allocated
// and freed at APC_LEVEL at most (BAD_POOL_CALLER above), and at
// DISPATCH_LEVEL every pageable page is trimmed, so a touch of paged pool
// faults (IRQL_NOT_LESS_OR_EQUAL).  What zerval.h allows above
// PASSIVE_LEVEL runs there: the forwarded services at DISPATCH_LEVEL, and
// vValidateMode on a record outside paged pool; lDllAttach does not.
#include <gtest/gtest.h>

#include "image_backend.h"

namespace {

constexpr uint32_t kBdll = 0x6C6C6442;
constexpr uint32_t kPagedPool = 1, kNonPagedPool = 0;

class Irql : public ::testing::TestWithParam<ImageDialect> {
protected:
    std::unique_ptr<ModuleUnderTest> Attached()
    {
        auto m = MakeImageModule(GetParam());
        EXPECT_EQ(m->attach(), TRUE);
        return m;
    }
};

std::string FaultOf(const std::function<void()> &call)
{
    try {
        call();
    } catch (const emu::Fault &f) {
        return f.what();
    }
    return "";
}

TEST_P(Irql, TheForwardedServicesRunAtDispatchLevel)
{
    auto m = Attached();
    m->adapter.onFunction = [](uint32_t v) { return v + 1; };
    m->adapter.onPassThrough = [](uint32_t, uint32_t, uint32_t) { return -1; };
    m->adapter.onTvControl = [](uint32_t a, uint32_t b, uint32_t c) { return a + b + c; };
    m->adapter.onGetFreeFramebufferSize = [] { return 0x123456u; };
    RunAt(*m, emu::Irql::Dispatch);
    EXPECT_EQ(m->Orvalen_Function(6), 7);
    EXPECT_EQ(m->MeltoBiosDll(1, 2, 3), 6);  // pfnPassThrough's -1 hands over to the TV driver
    EXPECT_EQ(m->GetFreeFramebufferSize(), 0x123456u);
    EXPECT_EQ(m->BiosDllSetInitialValue(), 1u);
    EXPECT_EQ(MachineOf(*m)->irql(), emu::Irql::Dispatch);
}

TEST_P(Irql, ValidateModeAtDispatchLevelWantsTheRecordOutsidePagedPool)
{
    auto m = Attached();
    const VIDEO_MODE_INFORMATION first = m->published()[3];
    RunAt(*m, emu::Irql::Dispatch);
    // The harness hands the record in the caller's own (non-paged) page.
    VIDEO_MODE_INFORMATION r = first;
    r.Length = 0;
    m->vValidateMode(&r, 0);
    EXPECT_EQ(r.Length, 80u);

    // The record where the module published it, in paged pool: trimmed at
    // DISPATCH_LEVEL, its first touch faults.
    emu::Machine &machine = *MachineOf(*m);
    const uint32_t inPool = static_cast<uint32_t>(m->publishedAddress()) + 3 * sizeof(VIDEO_MODE_INFORMATION);
    const std::string fault = FaultOf([&] { machine.call("_vValidateMode@8", {inPool, 0}); });
    EXPECT_NE(fault.find("_vValidateMode@8: IRQL_NOT_LESS_OR_EQUAL: "), std::string::npos) << fault;
    EXPECT_NE(fault.find(" paged pool at 0x"), std::string::npos) << fault;
    EXPECT_NE(fault.find(" at DISPATCH_LEVEL"), std::string::npos) << fault;
    // The same record at APC_LEVEL is resident.
    machine.setIrql(emu::Irql::Apc);
    EXPECT_EQ(FaultOf([&] { machine.call("_vValidateMode@8", {inPool, 0}); }), "");
}

TEST_P(Irql, AttachIsRefusedAtDispatchLevel)
{
    auto m = MakeImageModule(GetParam());
    MachineOf(*m)->setIrql(emu::Irql::Dispatch);
    const std::string fault = FaultOf([&] { m->attach(); });
    EXPECT_NE(fault.find("_lDllAttach@20: in ExAllocatePoolWithTag: BAD_POOL_CALLER: "), std::string::npos) << fault;
    EXPECT_NE(fault.find("at DISPATCH_LEVEL"), std::string::npos) << fault;
    EXPECT_TRUE(m->pool.allocations().empty());

    // What zerval.h allows it, APC_LEVEL, is where RunAt puts it.
    auto apc = MakeImageModule(GetParam());
    RunAt(*apc, emu::Irql::Dispatch);
    EXPECT_EQ(apc->attach(), TRUE);
    EXPECT_EQ(MachineOf(*apc)->irql(), emu::Irql::Apc);
    EXPECT_EQ(apc->u32("NumModesFromBIOSDLL"), 913u);
}

// The kernel's pool on its own: paged requests and frees above APC_LEVEL
// are the caller's fault; non-paged ones are allowed at DISPATCH_LEVEL.
TEST_P(Irql, PagedPoolIsForApcLevelAndBelow)
{
    auto m = MakeImageModule(GetParam());
    emu::Machine &machine = *MachineOf(*m);
    machine.setIrql(emu::Irql::Apc);
    const uint32_t paged = machine.allocate(kPagedPool, 32, kBdll);
    ASSERT_NE(paged, 0u);
    machine.setIrql(emu::Irql::Dispatch);
    EXPECT_NE(FaultOf([&] { machine.allocate(kPagedPool, 32, kBdll); }).find("BAD_POOL_CALLER"), std::string::npos);
    EXPECT_NE(FaultOf([&] { machine.freePool(paged); }).find("BAD_POOL_CALLER"), std::string::npos);
    const uint32_t nonPaged = machine.allocate(kNonPagedPool, 32, kBdll);
    EXPECT_NE(nonPaged, 0u);
    EXPECT_EQ(FaultOf([&] { machine.freePool(nonPaged); }), "");
    machine.setIrql(emu::Irql::Apc);
    EXPECT_EQ(FaultOf([&] { machine.freePool(paged); }), "");
    EXPECT_TRUE(m->pool.live().empty());
}

TEST(IrqlNames, AsTheKernelNamesThem)
{
    EXPECT_EQ(emu::ParseIrql("DISPATCH_LEVEL"), emu::Irql::Dispatch);
    EXPECT_EQ(emu::ParseIrql("apc_level"), emu::Irql::Apc);
    EXPECT_EQ(emu::ParseIrql("0"), emu::Irql::Passive);
    EXPECT_FALSE(emu::ParseIrql("HIGH_LEVEL"));
    EXPECT_FALSE(emu::ParseIrql("3"));
    EXPECT_STREQ(emu::IrqlName(emu::Irql::Passive), "PASSIVE_LEVEL");
}

INSTANTIATE_TEST_SUITE_P(Dialects, Irql, ::testing::ValuesIn(kImageDialects),
                         [](const ::testing::TestParamInfo<ImageDialect> &info) { return DialectName(info.param); });

} // namespace
