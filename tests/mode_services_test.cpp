// vValidateMode and SetMode.
#include <cstring>

#include "module_test.h"

using sim::Callee;

namespace {

class ModeServicesTest : public ModuleTest {
protected:
    void SetUp() override
    {
        ModuleTest::SetUp();
        ASSERT_EQ(m->attach(), TRUE);
        m->log.clear();
    }
};

TEST_P(ModeServicesTest, ValidateBuildsQueryFromLow16BitsAndPassesFlags)
{
    auto r = Record(0x10400, 0x20300, 0x10010, 0x1004B);
    m->vValidateMode(&r, 0x12345678);
    const auto q = m->log.of(Callee::QueryMode).at(0);
    EXPECT_EQ(q.in, (sim::Query{16, 1024, 768, 75, 0, 0x12345678}));
    EXPECT_EQ(q.args[1], 0u);
}

TEST_P(ModeServicesTest, ValidateMarksRefusedAndAcceptedRecords)
{
    auto r = Record(800, 600, 16, 75);
    m->adapter.onQueryMode = [](sim::Query &) { return 0u; };
    m->vValidateMode(&r, 0);
    EXPECT_EQ(r.Length, 0u);

    m->adapter.onQueryMode = [](sim::Query &) { return 1u; };
    m->vValidateMode(&r, 0);
    EXPECT_EQ(r.Length, 80u);
    EXPECT_EQ(r.Frequency, 75u);
    EXPECT_EQ(r.VisScreenWidth, 800u);
}

TEST_P(ModeServicesTest, ValidateComparesWithTheLowByteOfFrequency)
{
    // The query carries the low 16 bits of Frequency; the answer is compared
    // with its low byte alone (0x3C, 60, in both records).
    for (uint32_t frequency : {0x0100003Cu, 0x13Cu}) {
        SCOPED_TRACE(frequency);
        m->log.clear();
        auto r = Record(800, 600, 16, frequency);
        r.Length = 0;
        m->vValidateMode(&r, 0);
        EXPECT_EQ(m->log.of(Callee::QueryMode).at(0).in.refresh, static_cast<uint16_t>(frequency));
        EXPECT_EQ(r.Length, 80u);
        EXPECT_EQ(r.Frequency, frequency);
    }
}

TEST_P(ModeServicesTest, ValidateIgnoresBit7OfAnsweredRate)
{
    auto r = Record(800, 600, 16, 60);
    answerEveryQueryAt(188);
    m->vValidateMode(&r, 0);
    EXPECT_EQ(r.Length, 80u);
}

TEST_P(ModeServicesTest, ValidateNeverAcceptsRatesOf128OrMore)
{
    auto r = Record(800, 600, 16, 140);
    m->vValidateMode(&r, 0);
    EXPECT_EQ(r.Length, 0u);
}

TEST_P(ModeServicesTest, ValidateRejectsOtherRateAndByteOnlyResult)
{
    auto r = Record(800, 600, 16, 75);
    answerEveryQueryAt(60);
    m->vValidateMode(&r, 0);
    EXPECT_EQ(r.Length, 0u);
    r.Length = 80;
    m->adapter.onQueryMode = [](sim::Query &) { return 0x200u; };
    m->vValidateMode(&r, 0);
    EXPECT_EQ(r.Length, 0u);
}

// Whatever the services driver answers, vValidateMode writes the record's
// Length and nothing else of it.
TEST_P(ModeServicesTest, ValidateWritesLengthOnly)
{
    m->adapter.onQueryMode = [](sim::Query &q) {
        q = sim::Query{32, 1, 2, static_cast<uint16_t>(q.refresh | 0x180), 0xFFFFFFFFu, 0xFFFFFFFFu};
        return 1u;
    };
    for (uint32_t length : {0u, 80u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(length);
        // Every field the module does not write holds a pattern of its own.
        VIDEO_MODE_INFORMATION r;
        std::memset(&r, 0x5C, sizeof r);
        r.VisScreenWidth = 1024;
        r.VisScreenHeight = 768;
        r.BitsPerPlane = 16;
        r.Frequency = 75;
        r.Length = length;
        VIDEO_MODE_INFORMATION expected = r;
        expected.Length = 80;  // 0x180 | 75 answers 75 once bit 7 is masked
        m->vValidateMode(&r, 0);
        EXPECT_EQ(std::memcmp(&r, &expected, sizeof r), 0);
    }
    EXPECT_EQ(m->log.count(Callee::QueryMode), 3u);
}

TEST_P(ModeServicesTest, ValidateWithNullRecordDoesNothing)
{
    m->vValidateMode(nullptr, 0);
    EXPECT_TRUE(m->log.calls().empty());
}

TEST_P(ModeServicesTest, SetModeSendsDriverFlagsAndOptionByte)
{
    const auto r = Record(1024, 768, 32, 75, 0x00020001);
    EXPECT_EQ(m->SetMode(&r, 0x1FF), 0u);
    const auto q = m->log.of(Callee::QueryMode).at(0);
    EXPECT_EQ(q.in, (sim::Query{32, 1024, 768, 75, 0, 0x00020001}));
    const auto s = m->log.of(Callee::SetMode).at(0);
    EXPECT_EQ(s.args[1], 0u);
    EXPECT_EQ(s.args[2], 0xFFu);
}

TEST_P(ModeServicesTest, SetModeFlagsDefaultRefreshForFrequency0And1)
{
    // Frequency is read as a whole 32-bit value: only 0 and 1 ask for the
    // default rate, not 0x100 or 0x10001 (low byte or low half 0 or 1).
    for (uint32_t frequency : {0u, 1u, 2u, 0x100u, 0x101u, 0x10000u, 0x10001u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(frequency);
        m->log.clear();
        const auto r = Record(640, 480, 8, frequency, 0x5);
        m->SetMode(&r, 0);
        const uint32_t expected = frequency <= 1 ? 0x80000005u : 0x5u;
        EXPECT_EQ(m->log.of(Callee::QueryMode).at(0).in.flags, expected);
    }
}

TEST_P(ModeServicesTest, SetModeHandsOverTheQueryAsAnswered)
{
    m->adapter.onQueryMode = [](sim::Query &q) {
        q.refresh = 0x3C;
        q.attributes = 0xDEAD0000u;
        return 1u;
    };
    auto r = Record(640, 480, 8, 1);
    const auto before = r;
    EXPECT_EQ(m->SetMode(&r, 3), 0u);
    const auto s = m->log.of(Callee::SetMode).at(0);
    EXPECT_EQ(s.in, (sim::Query{8, 640, 480, 0x3C, 0xDEAD0000u, 0x80000000u}));
    EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0);
}

// SetMode neither reads the record's Length nor writes any of it: a record
// marked unusable is set like any other, and stays as it was.
TEST_P(ModeServicesTest, SetModeNeitherReadsNorWritesLength)
{
    for (uint32_t length : {0u, 80u}) {
        SCOPED_TRACE(length);
        m->log.clear();
        auto r = Record(800, 600, 16, 60, 0x7);
        r.Length = length;
        const auto before = r;
        EXPECT_EQ(m->SetMode(&r, 1), 0u);
        EXPECT_EQ(m->log.count(Callee::SetMode), 1u);
        EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0);
    }
}

TEST_P(ModeServicesTest, SetModeRefusedQueryReturns87WithoutSetting)
{
    m->adapter.onQueryMode = [](sim::Query &) { return 0xFF00u; };
    const auto r = Record(640, 480, 8, 60);
    EXPECT_EQ(m->SetMode(&r, 0), 87u);
    EXPECT_EQ(m->log.count(Callee::SetMode), 0u);
}

TEST_P(ModeServicesTest, SetModeFailedSetReturns87)
{
    m->adapter.onSetMode = [](const sim::Query &, uint32_t) { return 0x100u; };
    const auto r = Record(640, 480, 8, 60);
    EXPECT_EQ(m->SetMode(&r, 0), 87u);
    EXPECT_EQ(m->log.count(Callee::SetMode), 1u);
}

TEST_P(ModeServicesTest, SetModeWithNullRecordReturns87)
{
    EXPECT_EQ(m->SetMode(nullptr, 0), 87u);
    EXPECT_TRUE(m->log.calls().empty());
}

class UnattachedModeServicesTest : public ModuleTest {};

TEST_P(UnattachedModeServicesTest, BeforeAnyAttachRecordsAreUnusableAndSetFails)
{
    expectModeServicesRefuseWithoutCalls();
}

TEST_P(UnattachedModeServicesTest, AfterFailedAttachRecordsAreUnusableAndSetFails)
{
    m->adapter.profile.initSucceeds = false;
    ASSERT_EQ(m->attach(), FALSE);
    expectModeServicesRefuseWithoutCalls();
}

ZERVAL_ON_EVERY_BACKEND(ModeServicesTest);
ZERVAL_ON_EVERY_BACKEND(UnattachedModeServicesTest);

} // namespace
