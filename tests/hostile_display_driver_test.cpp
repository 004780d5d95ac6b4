// A display driver that writes anything into the exported tables, passes NULL
// where it can, calls entries out of order and attaches without end.  Each
// case states what the module must do, and the attach checker judges every
// build.
#include "accept_all.h"
#include "attach_check.h"
#include "module_test.h"

namespace {

class HostileDisplayDriverTest : public ModuleTest {
protected:
    void attachChecked()
    {
        const std::vector<std::string> problems = AttachAndCheck(*m, arrays);
        EXPECT_TRUE(problems.empty()) << Join(problems);
    }
    PublishedArrays arrays;
};

// Sizes are clamped to the tables' capacity; a size of 0 empties the build
// but still makes two non-empty allocations.
TEST_P(HostileDisplayDriverTest, TableSizesOfAnyValue)
{
    for (uint32_t rows : {0u, 63u, 0xFFFFFFFFu}) {
        for (uint32_t rates : {0u, 17u, 0xFFFFFFFFu}) {
            SCOPED_TRACE("modeTableSize " + std::to_string(rows) + ", freqTableSize " + std::to_string(rates));
            m->setU32("modeTableSize", rows);
            m->setU32("freqTableSize", rates);
            attachChecked();
            EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), rows == 0 || rates == 0 ? 0u : accept_all::Modes());
        }
    }
}

// Only the low 16 bits of a rate are sent and only the low byte of the answer
// is compared: 0 and 255 are probed and published like any rate; 256 and
// 0xFFFFFFFF (sent as 65535) never match.  The 1024x768 24-bit row is probed
// at 60 Hz only, so it contributes nothing here.
TEST_P(HostileDisplayDriverTest, RatesOfAnyValue)
{
    for (uint32_t rate : {0u, 255u, 256u, 0xFFFFFFFFu}) {
        SCOPED_TRACE("every rate " + std::to_string(rate));
        for (uint32_t i = 0; i < ZERVAL_FREQUENCY_TABLE_ENTRIES; ++i)
            m->setRate(i, rate);
        attachChecked();
        EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), rate <= 255 ? 57u * 16u : 0u);
    }
}

// Rows of 0 or 65535 pixels are probed as written; no row is then one the
// build skips, so all 62 rows take every rate with a services driver that
// accepts whatever it is asked.
TEST_P(HostileDisplayDriverTest, WidthsAndHeightsAtTheExtremes)
{
    m->adapter.onQueryMode = [](sim::Query &) { return 1u; };
    for (uint16_t extent : {uint16_t{0}, uint16_t{65535}}) {
        SCOPED_TRACE("every row " + std::to_string(extent) + " by " + std::to_string(extent));
        m->editEveryRow([extent](ModeTableEntry &r) { r.Width = r.Height = extent; });
        attachChecked();
        ASSERT_EQ(m->u32("NumModesFromBIOSDLL"), 62u * 16u);
        EXPECT_EQ(m->published()[3].VisScreenWidth, extent);
    }
}

// Every row disabled, then depths the build has never seen.
TEST_P(HostileDisplayDriverTest, DisabledRowsAndStrangeDepths)
{
    m->editEveryRow([](ModeTableEntry &r) { r.Disabled = 0xFFFF; });
    attachChecked();
    EXPECT_EQ(m->u32("ORVX_NUM_MODES"), rules::kLeadingRecords);
    m->editEveryRow([](ModeTableEntry &r) {
        r.Disabled = 0;
        r.BitsPerPixel = 0xFFFF;
    });
    attachChecked();
    EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), 62u * 16u);
}

// Before any attach and after a failed one, every entry answers its default
// and calls nobody: vValidateMode marks the record unusable, SetMode returns
// 87, the forwarded services FALSE, FALSE, 0 and 1.  NULL records are refused
// the same way, and a NULL result byte does not stop an attach.
TEST_P(HostileDisplayDriverTest, EveryEntryBeforeAnyAttachAndAfterAFailedOne)
{
    auto defaults = [this](const char *when) {
        SCOPED_TRACE(when);
        m->log.clear();
        VIDEO_MODE_INFORMATION r = Record(640, 480, 8, 60);
        m->vValidateMode(&r, 0);
        EXPECT_EQ(r.Length, 0u);
        m->vValidateMode(nullptr, 0);
        EXPECT_EQ(m->SetMode(&r, 0), 87u);
        EXPECT_EQ(m->SetMode(nullptr, 0), 87u);
        EXPECT_EQ(m->Orvalen_Function(1), FALSE);
        EXPECT_EQ(m->MeltoBiosDll(0xFFFFFFFF, 2, 3), FALSE);
        EXPECT_EQ(m->GetFreeFramebufferSize(), 0u);
        EXPECT_EQ(m->BiosDllSetInitialValue(), 1u);
        EXPECT_TRUE(m->log.calls().empty());
        EXPECT_TRUE(m->pool.allocations().empty());
    };
    defaults("before any attach");
    m->adapter.profile.initSucceeds = false;
    EXPECT_EQ(m->attach(), FALSE);
    defaults("after a failed attach");
    m->adapter.profile.initSucceeds = true;
    EXPECT_EQ(m->lDllAttach(1, 2, 3, 4, nullptr), TRUE);
    EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), accept_all::Modes());
}

// A thousand attaches in a row: each adds its published array to the pool and
// nothing else, and each list is whole.
TEST_P(HostileDisplayDriverTest, AThousandAttachesGrowThePoolByThePublishedArraysOnly)
{
    // Every query answered at 60 Hz: one small list per attach.
    answerEveryQueryAt(60);
    uint64_t liveBytes = 0;
    for (int i = 0; i < 1000; ++i) {
        const std::vector<std::string> problems = AttachAndCheck(*m, arrays);
        ASSERT_TRUE(problems.empty()) << "attach " << i << ":" << Join(problems);
        liveBytes += uint64_t{m->u32("ORVX_NUM_MODES")} * sizeof(VIDEO_MODE_INFORMATION);
        const std::vector<sim::Allocation> live = m->pool.live();
        ASSERT_EQ(live.size(), static_cast<size_t>(i + 1));
        uint64_t bytes = 0;
        for (const sim::Allocation &a : live)
            bytes += a.size;
        ASSERT_EQ(bytes, liveBytes);
    }
    EXPECT_EQ(m->u32("ORVX_NUM_MODES"), 58u + rules::kLeadingRecords);
}

ZERVAL_ON_EVERY_BACKEND(HostileDisplayDriverTest);

} // namespace
