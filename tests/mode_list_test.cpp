// The mode-list build: what is probed, what is published, in which order, and
// what happens when memory runs out.
#include <algorithm>
#include <string>
#include <utility>

#include "accept_all.h"
#include "mode_list_rules.h"
#include "module_test.h"
#include "shipped_catalogue.h"

using sim::Callee;

namespace {

class ModeListTest : public ModuleTest {
protected:
    // The published modes, without the display driver's leading records.
    std::vector<VIDEO_MODE_INFORMATION> modes()
    {
        auto all = m->published();
        EXPECT_EQ(all.size(), m->u32("ORVX_NUM_MODES"));
        if (all.size() < rules::kLeadingRecords)
            return {};
        return std::vector<VIDEO_MODE_INFORMATION>(all.begin() + rules::kLeadingRecords, all.end());
    }

    static bool Is(const VIDEO_MODE_INFORMATION &r, uint32_t w, uint32_t h, uint32_t bpp)
    {
        return r.VisScreenWidth == w && r.VisScreenHeight == h && r.BitsPerPlane == bpp;
    }

    void disableAllRows()
    {
        m->editEveryRow([](ModeTableEntry &r) { r.Disabled = 1; });
    }
};

TEST_P(ModeListTest, AcceptAllPublishesEveryAllowedCombination)
{
    ASSERT_EQ(m->attach(), TRUE);
    EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), accept_all::Modes());
    EXPECT_EQ(m->u32("ORVX_NUM_MODES"), accept_all::Records());
    EXPECT_EQ(m->log.count(Callee::QueryMode), accept_all::Probes());

    const auto list = modes();
    ASSERT_EQ(list.size(), accept_all::Modes());
    EXPECT_TRUE(Is(list[0], 640, 480, 8));
    EXPECT_EQ(list[0].Frequency, 44u);
    for (const auto &r : list) {
        ASSERT_EQ(r.Length, 80u);
        EXPECT_FALSE(r.BitsPerPlane == 24 && (Is(r, 640, 480, 24) || Is(r, 800, 600, 24) || r.VisScreenWidth == 720));
        // Fields the module does not write stay zero.
        EXPECT_EQ(r.ModeIndex | r.ScreenStride | r.NumberOfPlanes | r.AttributeFlags, 0u);
    }
    const auto at1024x768x24 =
        std::count_if(list.begin(), list.end(), [](const auto &r) { return Is(r, 1024, 768, 24); });
    EXPECT_EQ(at1024x768x24, 1);
    const auto it = std::find_if(list.begin(), list.end(), [](const auto &r) { return Is(r, 1024, 768, 24); });
    EXPECT_EQ(it->Frequency, 60u);

    // The display driver's three records are left zero.
    const auto all = m->published();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(all[i].Length | all[i].VisScreenWidth | all[i].Frequency, 0u);
}

TEST_P(ModeListTest, ListRunsInRowThenRateOrder)
{
    ASSERT_EQ(m->attach(), TRUE);
    const auto list = modes();
    // Row 0 (640x480x8) at all 16 rates, low to high, then row 1 (320x200x8).
    ASSERT_GE(list.size(), 17u);
    for (uint32_t i = 0; i < 16; ++i) {
        EXPECT_TRUE(Is(list[i], 640, 480, 8));
        EXPECT_EQ(list[i].Frequency, shipped::Rates()[i]);
    }
    EXPECT_TRUE(Is(list[16], 320, 200, 8));
    EXPECT_TRUE(Is(list.back(), 1600, 1200, 32));
    EXPECT_EQ(list.back().Frequency, 200u);

    // The whole list: each shipped row the build probes, at each shipped rate
    // it probes that row at, in table order.
    std::vector<VIDEO_MODE_INFORMATION> expected;
    for (const ModeTableEntry &row : shipped::Rows())
        for (uint32_t rate : shipped::Rates())
            if (rules::Probed(row, static_cast<uint16_t>(rate)))
                expected.push_back(Record(row.Width, row.Height, row.BitsPerPixel, rate));
    ASSERT_EQ(list.size(), expected.size());
    for (size_t i = 0; i < list.size(); ++i)
        ASSERT_TRUE(Is(list[i], expected[i].VisScreenWidth, expected[i].VisScreenHeight, expected[i].BitsPerPlane) &&
                    list[i].Frequency == expected[i].Frequency)
            << "mode " << i << " is " << list[i].VisScreenWidth << "x" << list[i].VisScreenHeight << "x"
            << list[i].BitsPerPlane << "@" << list[i].Frequency << ", want " << expected[i].VisScreenWidth << "x"
            << expected[i].VisScreenHeight << "x" << expected[i].BitsPerPlane << "@" << expected[i].Frequency;
}

TEST_P(ModeListTest, ProbesSendEnumerateThenUsableFlags)
{
    ASSERT_EQ(m->attach(), TRUE);
    const auto probes = m->log.of(Callee::QueryMode);
    ASSERT_EQ(probes.size(), accept_all::Probes());
    for (size_t i = 0; i < probes.size(); i += 2) {
        // Both probes hand the query with a second argument of 0.
        EXPECT_EQ(probes[i].in.flags, 2u);
        EXPECT_EQ(probes[i].args[1], 0u);
        EXPECT_EQ(probes[i + 1].in.flags, 0u);
        EXPECT_EQ(probes[i + 1].args[1], 0u);
    }
}

TEST_P(ModeListTest, QueryRecordBytesAreExact)
{
    ASSERT_EQ(m->attach(), TRUE);
    const auto probes = m->log.of(Callee::QueryMode);
    const auto it = std::find_if(probes.begin(), probes.end(), [](const sim::CallRecord &c) {
        return c.in.width == 1024 && c.in.height == 768 && c.in.bitsPerPixel == 16 && c.in.refresh == 75 &&
               c.in.flags == 2;
    });
    ASSERT_NE(it, probes.end());
    // Bytes 8 to 11 (Attributes) are the module's to leave as they are.
    const sim::RawQuery expected = {0x10, 0x00, 0x00, 0x04, 0x00, 0x03, 0x4B, 0x00,
                                    0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00};
    sim::RawQuery seen = it->raw;
    std::fill(seen.begin() + 8, seen.begin() + 12, 0);
    EXPECT_EQ(seen, expected);
}

TEST_P(ModeListTest, EveryAnswerAt60HzGivesOneModePerRow)
{
    answerEveryQueryAt(60);
    ASSERT_EQ(m->attach(), TRUE);
    EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), 58u);
    const auto list = modes();
    ASSERT_EQ(list.size(), 58u);
    for (const auto &r : list)
        EXPECT_EQ(r.Frequency, 60u);
}

TEST_P(ModeListTest, RefreshComparisonUsesAllEightBits)
{
    // 60 answered as 188 (bit 7 set) is a different rate to the build.
    m->adapter.onQueryMode = [](sim::Query &q) {
        if (q.refresh != 60)
            return 0u;
        q.refresh = 188;
        return 1u;
    };
    ASSERT_EQ(m->attach(), TRUE);
    EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), 0u);
    EXPECT_EQ(m->u32("ORVX_NUM_MODES"), rules::kLeadingRecords);
}

TEST_P(ModeListTest, HighByteOfAnsweredRefreshIsIgnored)
{
    m->adapter.onQueryMode = [](sim::Query &q) {
        q.refresh = static_cast<uint16_t>(q.refresh | 0x100);
        return 1u;
    };
    ASSERT_EQ(m->attach(), TRUE);
    ASSERT_EQ(m->u32("NumModesFromBIOSDLL"), accept_all::Modes());
    EXPECT_EQ(modes()[0].Frequency, 44u);
}

TEST_P(ModeListTest, QueryResultCountsByLowByteOnly)
{
    m->adapter.onQueryMode = [](sim::Query &) { return 0x100u; };
    ASSERT_EQ(m->attach(), TRUE);
    EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), 0u);
}

TEST_P(ModeListTest, SecondProbeDecidesTheMarkFirstProbeTheValues)
{
    m->adapter.onQueryMode = [](sim::Query &q) {
        if (q.flags == 2) {
            q.attributes = 0xABCD1234u;
            return 1u;
        }
        q.attributes = 0x11110000u;
        return q.bitsPerPixel == 8 ? 1u : 0u;
    };
    ASSERT_EQ(m->attach(), TRUE);
    ASSERT_EQ(m->u32("NumModesFromBIOSDLL"), accept_all::Modes());
    const auto list = modes();
    ASSERT_EQ(list.size(), accept_all::Modes());
    for (const auto &r : list) {
        EXPECT_EQ(r.Length, r.BitsPerPlane == 8 ? 80u : 0u);
        EXPECT_EQ(r.DriverSpecificAttributeFlags, 0xABCDu);
    }
    // The second probe starts from the first probe's Attributes.
    const auto probes = m->log.of(Callee::QueryMode);
    EXPECT_EQ(probes[1].in.attributes, 0xABCD1234u);
}

TEST_P(ModeListTest, SecondProbeAtAnotherRateIsUnusable)
{
    m->adapter.onQueryMode = [](sim::Query &q) {
        if (q.flags == 0)
            q.refresh = static_cast<uint16_t>(q.refresh + 1);
        return 1u;
    };
    ASSERT_EQ(m->attach(), TRUE);
    // Every combination is published, each unusable.
    const auto list = modes();
    ASSERT_EQ(list.size(), accept_all::Modes());
    for (const auto &r : list)
        ASSERT_EQ(r.Length, 0u);
}

TEST_P(ModeListTest, DisabledRowContributesNothing)
{
    // Any non-zero Disabled counts, in either byte of the field.
    for (uint16_t disabled : {uint16_t{1}, uint16_t{0x100}, uint16_t{0x8000}}) {
        SCOPED_TRACE(disabled);
        ModeTableEntry row = m->row(0);
        row.Disabled = disabled;
        m->setRow(0, row);
        m->log.clear();
        ASSERT_EQ(m->attach(), TRUE);
        EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), accept_all::Modes() - 16u);
        const auto list = modes();
        ASSERT_EQ(list.size(), accept_all::Modes() - 16u);
        for (const auto &r : list)
            EXPECT_FALSE(Is(r, 640, 480, 8));
        ASSERT_EQ(m->log.count(Callee::QueryMode), accept_all::Probes() - 2u * 16u);
        for (const auto &probe : m->log.of(Callee::QueryMode))
            ASSERT_FALSE(probe.in.width == 640 && probe.in.height == 480 && probe.in.bitsPerPixel == 8);
    }
}

TEST_P(ModeListTest, SkipRulesForTwentyFourBitsMatchTheWholeResolution)
{
    // 24-bit rows are skipped at 800x600, 640x480 and any 720-wide height, and
    // 1024x768 is probed at 60 Hz only; the same widths at other heights are
    // ordinary rows.  Rows 34 to 36 (320x200, 320x240, 512x384 at 24 bits) are
    // edited into them.
    m->setRow(34, ModeTableEntry{"X", 800, 480, 24, 0, 0});
    m->setRow(35, ModeTableEntry{"X", 1024, 480, 24, 0, 0});
    m->setRow(36, ModeTableEntry{"X", 320, 768, 24, 0, 0});
    ASSERT_EQ(m->attach(), TRUE);
    EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), accept_all::Modes());
    const auto list = modes();
    const std::pair<uint32_t, uint32_t> sizes[] = {{800, 480}, {1024, 480}, {320, 768}};
    for (const std::pair<uint32_t, uint32_t> &size : sizes) {
        SCOPED_TRACE(std::to_string(size.first) + "x" + std::to_string(size.second));
        EXPECT_EQ(std::count_if(list.begin(), list.end(),
                                [size](const auto &r) { return Is(r, size.first, size.second, 24); }),
                  16);
    }
}

TEST_P(ModeListTest, EveryRowDisabledPublishesOnlyTheLeadingRecords)
{
    disableAllRows();
    uint8_t result = 0xEE;
    ASSERT_EQ(m->attach(&result), TRUE);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), 0u);
    EXPECT_EQ(m->u32("ORVX_NUM_MODES"), rules::kLeadingRecords);
    EXPECT_NE(m->publishedAddress(), 0u);
    EXPECT_EQ(m->published().size(), rules::kLeadingRecords);
    EXPECT_EQ(m->log.count(Callee::QueryMode), 0u);
}

TEST_P(ModeListTest, EditedRowsAndRatesTakeEffectAtTheNextAttach)
{
    m->setRow(0, ModeTableEntry{"X", 1152, 864, 16, 0, 0});
    m->setRate(0, 90);
    ASSERT_EQ(m->attach(), TRUE);
    const auto list = modes();
    EXPECT_TRUE(Is(list[0], 1152, 864, 16));
    EXPECT_EQ(list[0].Frequency, 90u);
}

TEST_P(ModeListTest, RateOf256OrMoreNeverMatches)
{
    m->setRate(0, 300);  // 44's slot
    m->setRate(1, 0x10000 + 48);  // low 16 bits: 48
    ASSERT_EQ(m->attach(), TRUE);
    // 57 rows are probed at the first rate (1024x768x24 only at 60 Hz).
    EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), accept_all::Modes() - 57u);
    const auto list = modes();
    ASSERT_EQ(list.size(), accept_all::Modes() - 57u);
    for (const auto &r : list)
        EXPECT_NE(r.Frequency, 44u);
    EXPECT_EQ(list[0].Frequency, 48u);
}

TEST_P(ModeListTest, RateIsTheEntrysLow16Bits)
{
    // 316 has 60 in its low byte but is not 60: the 1024x768 row at 24 bits,
    // probed at 60 Hz only, is not probed at all, and no answer left at 316
    // (low byte 60) matches it.  0x1003C is 60 in its low 16 bits, and is 60.
    m->setRate(3, 316);  // 60's slot
    ASSERT_EQ(m->attach(), TRUE);
    EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), accept_all::Modes() - 57u - 1u);
    for (const auto &probe : m->log.of(Callee::QueryMode)) {
        ASSERT_FALSE(probe.in.width == 1024 && probe.in.height == 768 && probe.in.bitsPerPixel == 24);
        ASSERT_NE(probe.in.refresh, 60u);
    }
    EXPECT_EQ(m->log.count(Callee::QueryMode), 57u * 16u + (accept_all::Modes() - 58u));
    const auto without60 = modes();
    ASSERT_EQ(without60.size(), accept_all::Modes() - 57u - 1u);
    for (const auto &r : without60)
        ASSERT_NE(r.Frequency, 60u);

    m->setRate(3, 0x1003C);
    m->log.clear();
    ASSERT_EQ(m->attach(), TRUE);
    EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), accept_all::Modes());
    const auto list = modes();
    const auto it = std::find_if(list.begin(), list.end(), [](const auto &r) { return Is(r, 1024, 768, 24); });
    ASSERT_NE(it, list.end());
    EXPECT_EQ(it->Frequency, 60u);
}

TEST_P(ModeListTest, TableSizesBeyondCapacityAreClamped)
{
    m->setU32("modeTableSize", 0xFFFFFFFFu);
    m->setU32("freqTableSize", 17);
    ASSERT_EQ(m->attach(), TRUE);
    EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), accept_all::Modes());
    const auto allocations = m->pool.allocations();
    ASSERT_EQ(allocations.size(), 2u);
    EXPECT_EQ(allocations[0].size, 62u * 16u * 16u);
}

TEST_P(ModeListTest, SmallerTableSizesLimitTheBuild)
{
    m->setU32("modeTableSize", 1);
    m->setU32("freqTableSize", 2);
    ASSERT_EQ(m->attach(), TRUE);
    EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), 2u);
    EXPECT_EQ(m->pool.allocations().at(0).size, 2u * 16u);
}

TEST_P(ModeListTest, EmptyTablesStillMakeTwoNonEmptyAllocations)
{
    m->setU32("modeTableSize", 0);
    ASSERT_EQ(m->attach(), TRUE);
    EXPECT_EQ(m->u32("ORVX_NUM_MODES"), rules::kLeadingRecords);
    const auto allocations = m->pool.allocations();
    ASSERT_EQ(allocations.size(), 2u);
    EXPECT_EQ(allocations[0].size, 16u);
    EXPECT_EQ(allocations[1].size, rules::kLeadingRecords * 80u);
}

TEST_P(ModeListTest, TwoTaggedPagedAllocationsPerAttach)
{
    ASSERT_EQ(m->attach(), TRUE);
    const auto allocations = m->pool.allocations();
    ASSERT_EQ(allocations.size(), 2u);
    for (const auto &a : allocations) {
        EXPECT_EQ(a.poolType, 1u);  // PagedPool
        EXPECT_EQ(a.tag, 0x6C6C6442u);
    }
    EXPECT_EQ(allocations[0].size, 62u * 16u * 16u);
    EXPECT_FALSE(allocations[0].live);
    EXPECT_EQ(allocations[1].size, accept_all::Records() * 80u);
    EXPECT_TRUE(allocations[1].live);
    EXPECT_EQ(allocations[1].address, m->publishedAddress());
}

TEST_P(ModeListTest, CandidateListRefusedKeepsPreviousList)
{
    ASSERT_EQ(m->attach(), TRUE);
    const uint64_t list = m->publishedAddress();
    m->adapter.profile.depths = {8};
    m->pool.failRequest(1);
    EXPECT_EQ(m->attach(), TRUE);
    EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), 0u);
    EXPECT_EQ(m->u32("ORVX_NUM_MODES"), accept_all::Records());
    EXPECT_EQ(m->publishedAddress(), list);
    EXPECT_EQ(m->published().at(rules::kLeadingRecords).Length, 80u);
    EXPECT_EQ(m->pool.live().size(), 1u);
}

TEST_P(ModeListTest, PublishedArrayRefusedFreesCandidatesAndKeepsPreviousList)
{
    ASSERT_EQ(m->attach(), TRUE);
    const uint64_t list = m->publishedAddress();
    m->pool.failRequest(2);
    EXPECT_EQ(m->attach(), TRUE);
    EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), 0u);
    EXPECT_EQ(m->u32("ORVX_NUM_MODES"), accept_all::Records());
    EXPECT_EQ(m->publishedAddress(), list);
    const auto live = m->pool.live();
    ASSERT_EQ(live.size(), 1u);
    EXPECT_EQ(live[0].address, list);
    // And the next attach succeeds in full.
    EXPECT_EQ(m->attach(), TRUE);
    EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), accept_all::Modes());
}

TEST_P(ModeListTest, FirstBuildRefusedLeavesNothingPublished)
{
    m->pool.failRequest(1);
    EXPECT_EQ(m->attach(), TRUE);
    EXPECT_EQ(m->u32("ORVX_NUM_MODES"), 0u);
    EXPECT_EQ(m->publishedAddress(), 0u);
    EXPECT_EQ(m->log.count(Callee::QueryMode), 0u);
}

ZERVAL_ON_EVERY_BACKEND(ModeListTest);

} // namespace
