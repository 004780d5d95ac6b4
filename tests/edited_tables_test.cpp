// The mode-list build under catalogue tables as a display driver may leave
// them: they are exported and writable, and each attach reads them as they
// then stand.  Seeded, bounded cases: rates repeated and in any order (that of
// the 60 Hz-only row among them), rates of 256 or more, rows repeated and rows
// that each skip rule catches or just misses, sizes of 0, below, at and above
// the tables' capacity, Disabled anywhere in either byte; and a services
// driver whose answers vary with each query.  Every attach is judged by the
// attach checker against the build's documented rules (mode_list_rules.h):
// each probe sent, in order, with its Flags and the rate asked, the
// candidates, the counts and every published record.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "attach_check.h"
#include "mode_list_rules.h"
#include "module_test.h"
#include "shipped_catalogue.h"
#include "zerval_hooks.h"

namespace {

using sim::Callee;

constexpr uint32_t kCases = 200;
constexpr uint32_t kSeed = 0x2E7A1u;

// What the cases went through, so that a generator gone blind shows.
struct Coverage {
    uint32_t built = 0;                 // builds that published modes
    uint32_t only60RowProbedTwice = 0;  // 1024x768x24 probed twice at 60 Hz in one build
    uint32_t wideRateProbed = 0;        // probes at a rate of 256 or more
    uint32_t repeatedRecords = 0;       // two equal records: a row copied, a rate repeated
    uint32_t clampedAndBuilt = 0;       // a size above capacity, modes published
    uint32_t emptyBySize = 0;           // a size of 0
    uint32_t highByteDisabledRows = 0;  // rows left out by Disabled's upper byte
    uint32_t unusable = 0;              // records published with Length 0
};

uint64_t Mix(uint64_t x)
{
    // splitmix64's finaliser: every answer a function of the query and the case.
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

class EditedTablesTest : public ModuleTest {
protected:
    std::mt19937 random{kSeed};

    uint32_t pick(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(random); }
    template <typename T>
    T pickOf(const std::vector<T> &values) { return values[pick(static_cast<uint32_t>(values.size()))]; }

    // A size for a table of `capacity`: 0, 1, below, at, just above, far above.
    uint32_t size(uint32_t capacity)
    {
        switch (pick(8)) {
        case 0: return 0;
        case 1: return 1;
        case 2:
        case 3: return 1 + pick(capacity - 1);
        case 4: return capacity;
        case 5: return capacity + 1;
        case 6: return pickOf<uint32_t>({0x80000000u, 0xFFFFFFFFu, capacity + 0x10000u});
        default: return capacity;
        }
    }

    // Rates a display driver may write: the shipped ones, repeated, 60 again
    // (so the 60 Hz-only row is probed more than once), 60 in the upper bits'
    // company (0x1003C, whose low 16 bits are 60), 256 and more (316 shares
    // 60's low byte), 0, 255, 188 (60 with bit 7 set); in any order.
    std::vector<uint32_t> rates()
    {
        const std::vector<uint32_t> odd = {60,  60,  0x1003C, 316, 256, 0xFFFF, 0xFFFFFFFF, 0, 255, 188, 44, 200, 61};
        std::vector<uint32_t> rates = shipped::Rates();
        const uint32_t edits = pick(8);
        for (uint32_t i = 0; i < edits; ++i)
            rates[pick(ZERVAL_FREQUENCY_TABLE_ENTRIES)] = pick(3) == 0 ? rates[pick(ZERVAL_FREQUENCY_TABLE_ENTRIES)]
                                                                       : pickOf(odd);
        if (pick(2) == 0)
            std::shuffle(rates.begin(), rates.end(), random);
        return rates;
    }

    // Rows a display driver may write: the shipped ones, some copied over
    // others, rows that a skip rule catches or just misses and the 60 Hz-only
    // row put anywhere, Disabled set anywhere in either byte, and Reserved and
    // Name, which the build never reads, filled with anything.
    std::vector<ModeTableEntry> rows()
    {
        std::vector<ModeTableEntry> rows = shipped::Rows();
        struct Shape {
            uint16_t width, height, bitsPerPixel;
        };
        const std::vector<Shape> edge = {
            {800, 600, 24}, {640, 480, 24}, {720, 480, 24}, {720, 1, 24},   {720, 65535, 24}, // skipped
            {1024, 768, 24},                                                                  // 60 Hz only
            {800, 601, 24}, {801, 600, 24}, {640, 481, 24}, {639, 480, 24}, {721, 480, 24},   // near misses
            {800, 600, 32}, {640, 480, 16}, {720, 480, 8},  {1024, 768, 32}, {1024, 769, 24}, {1023, 768, 24},
        };
        const uint32_t copies = pick(6);
        for (uint32_t i = 0; i < copies; ++i)
            rows[pick(ZERVAL_MODE_TABLE_ROWS)] = rows[pick(ZERVAL_MODE_TABLE_ROWS)];
        const uint32_t shapes = pick(10);
        for (uint32_t i = 0; i < shapes; ++i) {
            ModeTableEntry &row = rows[pick(ZERVAL_MODE_TABLE_ROWS)];
            const Shape s = pickOf(edge);
            row.Width = s.width;
            row.Height = s.height;
            row.BitsPerPixel = s.bitsPerPixel;
        }
        // Most rows disabled in most cases, which keeps each build small.
        const uint32_t keep = pickOf<uint32_t>({2, 4, 8, 16, 62});
        for (ModeTableEntry &row : rows) {
            if (pick(62) >= keep)
                row.Disabled = pickOf<uint16_t>({1, 0x100, 0x8000, 0xFFFF, 0x0080});
            row.Reserved = static_cast<uint16_t>(random());
            if (pick(4) == 0)
                std::fill(std::begin(row.Name), std::end(row.Name), static_cast<char>(random()));
        }
        // The 60 Hz-only row, in one place or two, left in.
        for (uint32_t i = pick(3); i < 2; ++i) {
            ModeTableEntry &row = rows[pick(ZERVAL_MODE_TABLE_ROWS)];
            row.Width = 1024;
            row.Height = 768;
            row.BitsPerPixel = 24;
            row.Disabled = 0;
        }
        return rows;
    }

    // A services driver whose every answer is a function of the query and
    // the case: accepted or refused (garbage above the BOOLEAN's low byte),
    // at the rate asked, with its upper byte changed, bit 7 set, at another
    // rate or at the rate's low byte; any Attributes.
    void answerVaried(uint64_t caseSeed)
    {
        m->adapter.onQueryMode = [caseSeed](sim::Query &q) {
            const uint64_t h = Mix(caseSeed ^ (uint64_t{q.width} << 48) ^ (uint64_t{q.height} << 32) ^
                                   (uint64_t{q.bitsPerPixel} << 24) ^ (uint64_t{q.refresh} << 4) ^ q.flags);
            static const uint32_t kResults[] = {1, 1, 1, 0x201, 0x80, 0, 0x100, 0xFFFFFF00u};
            const uint32_t result = kResults[h & 7];
            switch ((h >> 3) & 7) {
            case 0: q.refresh = static_cast<uint16_t>(q.refresh + 0x100); break;
            case 1: q.refresh = static_cast<uint16_t>(q.refresh ^ 0x80); break;
            case 2: q.refresh = static_cast<uint16_t>(q.refresh + 1); break;
            case 3: q.refresh = static_cast<uint16_t>(q.refresh & 0xFF); break;
            default: break;  // at the rate asked
            }
            q.attributes = static_cast<uint32_t>(h >> 32);
            return result;
        };
    }

    void note(const std::vector<ModeTableEntry> &rows, uint32_t rowCount, uint32_t rateCount, size_t logStart,
              Coverage &c)
    {
        const uint32_t n = m->u32("NumModesFromBIOSDLL");
        const uint32_t usedRows = std::min(rowCount, ZERVAL_MODE_TABLE_ROWS);
        if (rowCount == 0 || rateCount == 0)
            ++c.emptyBySize;
        if (n == 0)
            return;
        ++c.built;
        if (rowCount > ZERVAL_MODE_TABLE_ROWS || rateCount > ZERVAL_FREQUENCY_TABLE_ENTRIES)
            ++c.clampedAndBuilt;
        uint32_t only60Probes = 0;
        const std::vector<sim::CallRecord> &log = m->log.calls();
        for (size_t i = logStart; i < log.size(); ++i) {
            if (log[i].callee != Callee::QueryMode)
                continue;
            const sim::Query &in = log[i].in;
            if (in.flags == ZERVAL_QUERY_ENUMERATE && rules::OnlyAt60Hz(ModeTableEntry{{}, in.width, in.height,
                                                                                        in.bitsPerPixel, 0, 0}))
                ++only60Probes;
            if (in.refresh > 255)
                ++c.wideRateProbed;
        }
        if (only60Probes > 1)
            ++c.only60RowProbedTwice;
        for (uint32_t r = 0; r < usedRows; ++r)
            if (rows[r].Disabled != 0 && (rows[r].Disabled & 0xFF) == 0)
                ++c.highByteDisabledRows;
        const std::vector<VIDEO_MODE_INFORMATION> list = m->published();
        for (size_t a = rules::kLeadingRecords; a < list.size(); ++a) {
            if (list[a].Length == 0)
                ++c.unusable;
            for (size_t b = a + 1; b < list.size(); ++b)
                if (std::memcmp(&list[a], &list[b], sizeof list[a]) == 0) {
                    ++c.repeatedRecords;
                    break;
                }
        }
    }
};

TEST_P(EditedTablesTest, EveryBuildFollowsTheRulesUnderTablesADisplayDriverWrote)
{
    PublishedArrays arrays;
    Coverage c;
    for (uint32_t k = 0; k < kCases; ++k) {
        const std::vector<ModeTableEntry> rows = this->rows();
        const std::vector<uint32_t> rates = this->rates();
        const uint32_t rowCount = size(ZERVAL_MODE_TABLE_ROWS);
        const uint32_t rateCount = size(ZERVAL_FREQUENCY_TABLE_ENTRIES);
        for (uint32_t i = 0; i < ZERVAL_MODE_TABLE_ROWS; ++i)
            m->setRow(i, rows[i]);
        for (uint32_t i = 0; i < ZERVAL_FREQUENCY_TABLE_ENTRIES; ++i)
            m->setRate(i, rates[i]);
        m->setU32("modeTableSize", rowCount);
        m->setU32("freqTableSize", rateCount);
        answerVaried(Mix(kSeed + k));

        std::string tables = "case " + std::to_string(k) + ": modeTableSize " + std::to_string(rowCount) +
                             ", freqTableSize " + std::to_string(rateCount) + ", rates";
        for (uint32_t rate : rates)
            tables += " " + std::to_string(rate);
        SCOPED_TRACE(tables);
        const size_t logStart = m->log.calls().size();
        const std::vector<std::string> problems = AttachAndCheck(*m, arrays);
        ASSERT_TRUE(problems.empty()) << Join(problems);
        note(rows, rowCount, rateCount, logStart, c);
    }
    // The cases did reach what they are for.
    EXPECT_GT(c.built, kCases / 3);
    EXPECT_GT(c.only60RowProbedTwice, 0u);
    EXPECT_GT(c.wideRateProbed, 0u);
    EXPECT_GT(c.repeatedRecords, 0u);
    EXPECT_GT(c.clampedAndBuilt, 0u);
    EXPECT_GT(c.emptyBySize, 0u);
    EXPECT_GT(c.highByteDisabledRows, 0u);
    EXPECT_GT(c.unusable, 0u);
}

ZERVAL_ON_EVERY_BACKEND(EditedTablesTest);

} // namespace
