// The bench's comparison with its checked-in baseline: what counts as a
// regression, and what a malformed baseline does.
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

#include <unistd.h>

#include <gtest/gtest.h>

#include "baseline.h"

namespace {

std::string TempFile(const std::string &text)
{
    char name[] = "/tmp/zerval-baseline-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0)
        throw std::runtime_error("mkstemp");
    close(fd);
    std::ofstream(name) << text;
    return name;
}

TEST(BenchBaseline, GrowthBeyondTwoPercentIsARegressionAndWithinIsNot)
{
    const std::vector<bench::Value> base = {{"a", 1000}, {"b", 1000}, {"c", 1000}, {"d", 1000}};
    const std::vector<bench::Value> now = {{"a", 1020}, {"b", 1021}, {"c", 979}, {"d", 1000}, {"e", 5}};
    const bench::Comparison c = bench::Compare(base, now, 0.02);
    ASSERT_EQ(c.regressions.size(), 1u);
    EXPECT_EQ(c.regressions[0].name, "b");
    EXPECT_EQ(c.regressions[0].measured, 1021u);
    ASSERT_EQ(c.improvements.size(), 1u);
    EXPECT_EQ(c.improvements[0].name, "c");
    ASSERT_EQ(c.unbaselined.size(), 1u);
    EXPECT_EQ(c.unbaselined[0], "e");
}

TEST(BenchBaseline, AFigureNoLongerMeasuredIsReported)
{
    const bench::Comparison c = bench::Compare({{"gone", 7}}, {}, 0.02);
    ASSERT_EQ(c.regressions.size(), 1u);
    EXPECT_TRUE(c.regressions[0].missing);
}

TEST(BenchBaseline, WrittenBaselineReadsBackAndMalformedLinesAreRefused)
{
    const std::string path = TempFile("");
    bench::WriteBaseline(path, {{"lDllAttach[accept-all].instructions", 57735}, {"image.file_bytes", 7680}});
    const std::vector<bench::Value> back = bench::ReadBaseline(path);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].name, "lDllAttach[accept-all].instructions");
    EXPECT_EQ(back[0].value, 57735u);
    std::remove(path.c_str());

    for (const char *bad : {"name 12\n", "name\t12x\n", "name\t\n", "\t\n"}) {
        const std::string p = TempFile(bad);
        EXPECT_THROW(bench::ReadBaseline(p), std::runtime_error) << bad;
        std::remove(p.c_str());
    }
    EXPECT_THROW(bench::ReadBaseline("/nonexistent/baseline.txt"), std::runtime_error);
}

} // namespace
