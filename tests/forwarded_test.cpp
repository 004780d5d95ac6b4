// The four forwarded services and their defaults.
#include "module_test.h"

using sim::Callee;
using sim::Hook;

namespace {

class ForwardedTest : public ModuleTest {};

TEST_P(ForwardedTest, DefaultsBeforeAnyAttach)
{
    EXPECT_EQ(m->Orvalen_Function(1), FALSE);
    EXPECT_EQ(m->MeltoBiosDll(1, 2, 3), FALSE);
    EXPECT_EQ(m->GetFreeFramebufferSize(), 0u);
    EXPECT_EQ(m->BiosDllSetInitialValue(), 1u);
    EXPECT_TRUE(m->log.calls().empty());
}

TEST_P(ForwardedTest, FunctionForwardsValueAndLowByteOfResult)
{
    ASSERT_EQ(m->attach(), TRUE);
    m->adapter.onFunction = [](uint32_t v) { return v == 0xCAFEF00Du ? 1u : 0u; };
    EXPECT_EQ(m->Orvalen_Function(0xCAFEF00Du), TRUE);
    EXPECT_EQ(m->log.of(Callee::Function).at(0).args[0], 0xCAFEF00Du);
    // The hook's BOOLEAN is handed back as it is, not made 0 or 1: every
    // value of its low byte, whatever the upper bits hold.
    for (uint32_t answer : {0x100u, 2u, 0x7Fu, 0x80u, 0xFEu, 0xFFu, 0x1234u, 0xFFFFFF02u}) {
        SCOPED_TRACE(answer);
        m->adapter.onFunction = [answer](uint32_t) { return answer; };
        EXPECT_EQ(m->Orvalen_Function(0), static_cast<uint8_t>(answer));
    }
}

TEST_P(ForwardedTest, PassThroughNonNegativeReturnsLowByteWithoutTv)
{
    ASSERT_EQ(m->attach(), TRUE);
    for (int32_t answer : {0, 0x100, 0x7FFFFF01, 2, 0x7F, 0x80, 0xFE, 0x1234}) {
        SCOPED_TRACE(answer);
        m->log.clear();
        m->adapter.onPassThrough = [answer](uint32_t, uint32_t, uint32_t) { return answer; };
        EXPECT_EQ(m->MeltoBiosDll(7, 8, 9), static_cast<uint8_t>(answer));
        EXPECT_EQ(m->log.count(Callee::TvControl), 0u);
        const auto p = m->log.of(Callee::PassThrough).at(0);
        EXPECT_EQ(p.args[0], 7u);
        EXPECT_EQ(p.args[1], 8u);
        EXPECT_EQ(p.args[2], 9u);
    }
}

TEST_P(ForwardedTest, PassThroughNegativeAsksTheTvDriver)
{
    ASSERT_EQ(m->attach(), TRUE);
    // Any negative answer, not only -1.
    for (int32_t answer : {-1, -2, -0x100, INT32_MIN}) {
        SCOPED_TRACE(answer);
        m->log.clear();
        m->adapter.onPassThrough = [answer](uint32_t, uint32_t, uint32_t) { return answer; };
        m->adapter.onTvControl = [](uint32_t, uint32_t, uint32_t) { return 0x12345601u; };
        EXPECT_EQ(m->MeltoBiosDll(0xA, 0xB, 0xC), 1u);
        // Its low byte as it is, not made 0 or 1.
        m->adapter.onTvControl = [](uint32_t, uint32_t, uint32_t) { return 0x123456A7u; };
        EXPECT_EQ(m->MeltoBiosDll(0xA, 0xB, 0xC), 0xA7u);
        const auto tv = m->log.of(Callee::TvControl).at(0);
        EXPECT_EQ(tv.args[0], 0xAu);
        EXPECT_EQ(tv.args[1], 0xBu);
        EXPECT_EQ(tv.args[2], 0xCu);
        EXPECT_EQ(m->log.driverSequence().back(), Callee::TvControl);
    }
}

TEST_P(ForwardedTest, PassThroughNegativeWithEmptyTvControlReturnsFalse)
{
    m->adapter.onAttach = [](sim::HookTable &t) {
        for (int h = 0; h < sim::kHookCount - 1; ++h)
            t.fill(static_cast<Hook>(h));
        t.clear(Hook::TvControl);
    };
    ASSERT_EQ(m->attach(), TRUE);
    m->adapter.onPassThrough = [](uint32_t, uint32_t, uint32_t) { return INT32_MIN; };
    EXPECT_EQ(m->MeltoBiosDll(1, 2, 3), FALSE);
    EXPECT_EQ(m->log.count(Callee::TvControl), 0u);
}

TEST_P(ForwardedTest, FreeFramebufferSizeIsReturnedUnchanged)
{
    ASSERT_EQ(m->attach(), TRUE);
    m->adapter.onGetFreeFramebufferSize = [] { return 0xFFFFFFFEu; };
    EXPECT_EQ(m->GetFreeFramebufferSize(), 0xFFFFFFFEu);
}

TEST_P(ForwardedTest, SetInitialValueAnswersOneWithOrWithoutHook)
{
    ASSERT_EQ(m->attach(), TRUE);
    EXPECT_EQ(m->BiosDllSetInitialValue(), 1u);
    EXPECT_EQ(m->log.count(Callee::SetInitialValue), 1u);

    m->adapter.profile.hooks &= static_cast<uint8_t>(~sim::HookBit(Hook::SetInitialValue));
    ASSERT_EQ(m->attach(), TRUE);
    m->log.clear();
    EXPECT_EQ(m->BiosDllSetInitialValue(), 1u);
    EXPECT_EQ(m->log.count(Callee::SetInitialValue), 0u);
}

TEST_P(ForwardedTest, HooksAreReadAtTheMomentOfTheCall)
{
    ASSERT_EQ(m->attach(), TRUE);
    // The services driver empties every optional hook after its first use.
    m->adapter.afterHook = [](sim::HookTable &t, Callee) {
        for (Hook h : {Hook::PassThrough, Hook::Function, Hook::GetFreeFramebufferSize, Hook::SetInitialValue})
            t.clear(h);
    };
    m->adapter.onGetFreeFramebufferSize = [] { return 4096u; };
    EXPECT_EQ(m->GetFreeFramebufferSize(), 4096u);
    EXPECT_EQ(m->GetFreeFramebufferSize(), 0u);
    EXPECT_EQ(m->Orvalen_Function(1), FALSE);
    EXPECT_EQ(m->MeltoBiosDll(1, 2, 3), FALSE);
    EXPECT_EQ(m->BiosDllSetInitialValue(), 1u);
    EXPECT_EQ(m->log.count(Callee::GetFreeFramebufferSize), 1u);
}

ZERVAL_ON_EVERY_BACKEND(ForwardedTest);

} // namespace
