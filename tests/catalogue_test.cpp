// The catalogue as shipped, read through the exported data.
#include <cstring>
#include <string>

#include "module_test.h"
#include "shipped_catalogue.h"

namespace {

class CatalogueTest : public ModuleTest {};

// Every row byte for byte: the label NUL-padded, the resolution it spells,
// the run's depth, Reserved and Disabled 0.
TEST_P(CatalogueTest, RowsAreTheFourRunsAsDocumented)
{
    const std::vector<ModeTableEntry> expected = shipped::Rows();
    ASSERT_EQ(expected.size(), 62u);
    EXPECT_EQ(m->u32("modeTableSize"), 62u);
    for (uint32_t i = 0; i < expected.size(); ++i) {
        const ModeTableEntry row = m->row(i);
        EXPECT_EQ(std::memcmp(&row, &expected[i], sizeof row), 0)
            << "row " << i << ": " << std::string(row.Name, strnlen(row.Name, sizeof row.Name)) << " "
            << row.Width << "x" << row.Height << "x" << row.BitsPerPixel << ", want " << expected[i].Name;
    }
    // Labels are not unique: only the depth tells 38 and 52 apart.
    EXPECT_EQ(std::string(m->row(38).Name), std::string(m->row(52).Name));
    EXPECT_NE(m->row(38).BitsPerPixel, m->row(52).BitsPerPixel);
}

TEST_P(CatalogueTest, RatesRunFrom44To200)
{
    EXPECT_EQ(m->u32("freqTableSize"), 16u);
    for (uint32_t i = 0; i < 16; ++i)
        EXPECT_EQ(m->rate(i), shipped::Rates()[i]) << i;
}

TEST_P(CatalogueTest, PublishedCountsStartAtZero)
{
    EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), 0u);
    EXPECT_EQ(m->u32("ORVX_NUM_MODES"), 0u);
    EXPECT_EQ(m->publishedAddress(), 0u);
}

ZERVAL_ON_EVERY_BACKEND(CatalogueTest);

} // namespace
