// The catalogue as shipped, read through the exported data.
#include <cstring>
#include <string>

#include "module_test.h"

namespace {

class CatalogueTest : public ModuleTest {};

std::string Label(const ModeTableEntry &row)
{
    const char *colours = row.BitsPerPixel == 8 ? "256" : row.BitsPerPixel == 16 ? "65K" : "16M";
    return std::to_string(row.Width) + "X" + std::to_string(row.Height) + "X" + colours;
}

TEST_P(CatalogueTest, RowsAreTheFourRunsWithMatchingLabels)
{
    EXPECT_EQ(m->u32("modeTableSize"), 62u);
    const uint32_t firstOfRun[] = {0, 17, 34, 47, 62};
    const uint16_t depths[] = {8, 16, 24, 32};
    for (int run = 0; run < 4; ++run) {
        for (uint32_t i = firstOfRun[run]; i < firstOfRun[run + 1]; ++i) {
            SCOPED_TRACE(i);
            const ModeTableEntry row = m->row(i);
            EXPECT_EQ(row.BitsPerPixel, depths[run]);
            EXPECT_EQ(std::string(row.Name, strnlen(row.Name, sizeof row.Name)), Label(row));
            EXPECT_EQ(row.Reserved, 0u);
            EXPECT_EQ(row.Disabled, 0u);
            for (size_t c = strnlen(row.Name, sizeof row.Name); c < sizeof row.Name; ++c)
                EXPECT_EQ(row.Name[c], 0);
        }
    }
    EXPECT_EQ(std::string(m->row(0).Name), "640X480X256");
    EXPECT_EQ(std::string(m->row(38).Name), "640X480X16M");
    EXPECT_EQ(std::string(m->row(52).Name), "640X480X16M");
    EXPECT_EQ(std::string(m->row(61).Name), "1600X1200X16M");
}

TEST_P(CatalogueTest, RatesRunFrom44To200)
{
    EXPECT_EQ(m->u32("freqTableSize"), 16u);
    const uint32_t expected[] = {44, 48, 56, 60, 65, 70, 72, 75, 80, 85, 100, 110, 120, 140, 160, 200};
    for (uint32_t i = 0; i < 16; ++i)
        EXPECT_EQ(m->rate(i), expected[i]) << i;
}

TEST_P(CatalogueTest, PublishedCountsStartAtZero)
{
    EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), 0u);
    EXPECT_EQ(m->u32("ORVX_NUM_MODES"), 0u);
    EXPECT_EQ(m->publishedAddress(), 0u);
}

ZERVAL_ON_EVERY_BACKEND(CatalogueTest);

} // namespace
