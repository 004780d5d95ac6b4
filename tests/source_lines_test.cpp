// zerval-sim with neighbour images that carry debug information: the DWARF of
// a mingw-w64 build (tests/neighbours/, with -g) and the PDB beside an
// MSVC-dialect build (tests/neighbours_msvc/, /Z7 and /DEBUG).  A fault line
// names the function and source line the image was at, a trace line where a
// call landed, and --coverage writes an lcov tracefile of the lines each
// image ran, which genhtml renders.  What is expected is read from the
// sources themselves: the line a statement is on.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "build_products.h"
#include "run_tool.h"
#include "scratch_folder.h"

namespace {

const std::string kSim = products::Existing(products::kSim);
const std::string kSource = ZERVAL_SOURCE_DIR;
const std::string kGnu = ZERVAL_TEST_NEIGHBOURS_DIR;
const std::string kMsvc = ZERVAL_TEST_NEIGHBOURS_MSVC_DIR;
const std::string kExampleSource = kSource + "/examples/services_driver/services_driver.c";
const std::string kMistakesSource = kSource + "/tests/neighbours/services_mistakes.c";

// The example services driver's behaviours, as its AttachParam chooses them.
constexpr const char *kAcceptAll = "0", *kRefuseAll = "1";

std::vector<std::string> Lines(const std::string &path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The number of the first line of `path` from line `from` on that holds `text`.
int LineOf(const std::string &path, const std::string &text, int from = 1)
{
    const std::vector<std::string> lines = Lines(path);
    for (int i = from; i <= static_cast<int>(lines.size()); ++i)
        if (lines[i - 1].find(text) != std::string::npos)
            return i;
    ADD_FAILURE() << path << " has no line with " << text;
    return 0;
}

// A regular expression for a literal text.
std::string Literal(const std::string &text) { return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)"); }

struct Dialect {
    const char *name;
    std::string dir;
};
const Dialect kDialects[] = {{"gnu", kGnu}, {"msvc", kMsvc}};

TEST(SourceLines, AFaultLineNamesTheFunctionAndLineThatMadeIt)
{
    const int scribble = LineOf(kMistakesSource, "SCRIBBLE(Query, KELV_QUERY_BYTES);");
    for (const Dialect &d : kDialects) {
        SCOPED_TRACE(d.name);
        const std::string image = d.dir + "/kelv_query_past_16_debug.sys";
        const ToolRun run = RunTool(kSim, {"--services", image});
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(std::regex_match(
            run.err, std::regex(Literal("zerval-sim: error: " + image + ", the services driver, broke the rules, not "
                                        "zerval.sys: _lDllAttach@20: kelv.sys wrote 4 bytes outside what zerval.sys "
                                        "handed to kelv.sys!pfnQueryMode: at offset +16 of the 16-byte ModeQuery "
                                        "(right after its end); the write at kelv.sys .text+") +
                                "0x[0-9a-f]+ \\(RVA 0x[0-9a-f]+" +
                                Literal(", KelvQueryMode at services_mistakes.c:" + std::to_string(scribble) +
                                        "), in pfnQueryMode: mov dword ptr [") +
                                "e[a-z]{2}\\+0x10\\], 0xdeadbeef\n")))
            << run.err;
    }
}

TEST(SourceLines, AnImageWithoutDebugInformationKeepsItsRvaAndExport)
{
    const std::string image = kGnu + "/kelv_query_past_16.sys";
    const ToolRun run = RunTool(kSim, {"--services", image});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(std::regex_search(run.err, std::regex("; the write at kelv\\.sys \\.text\\+0x[0-9a-f]+ \\(RVA "
                                                      "0x[0-9a-f]+\\), in pfnQueryMode: mov dword ptr \\[e[a-z]{2}\\+0x10\\], "
                                                      "0xdeadbeef\n$")))
        << run.err;
}

// The first line of KelvQueryMode's body and its last, in the example's source.
std::pair<int, int> QueryModeBody()
{
    const int signature = LineOf(kExampleSource, "static BOOLEAN ZERVAL_CALL KelvQueryMode(");
    return {signature, LineOf(kExampleSource, "}", signature)};
}

TEST(SourceLines, TheTraceShowsWhereACallIntoTheImageLanded)
{
    const auto [first, last] = QueryModeBody();
    for (const Dialect &d : kDialects) {
        SCOPED_TRACE(d.name);
        const ToolRun run = RunTool(kSim, {"--services", d.dir + "/kelv_debug.sys", "--trace"});
        EXPECT_EQ(run.status, 0) << run.err;
        std::smatch m;
        ASSERT_TRUE(std::regex_search(run.err, m,
                                      std::regex("\n +zerval\\.sys -> kelv\\.sys!pfnQueryMode\\([^\n]*\\) = 0x1[^\n]* "
                                                 "\\[KelvQueryMode at services_driver\\.c:([0-9]+)\\]\n")))
            << run.err.substr(0, 3000);
        const int line = std::stoi(m[1]);
        EXPECT_GE(line, first);
        EXPECT_LE(line, last);
    }
}

// An lcov tracefile's records, by source file's name: each line's count.
std::map<std::string, std::map<int, long>> LineCounts(const std::string &tracefile)
{
    std::map<std::string, std::map<int, long>> files;
    std::istringstream in(tracefile);
    std::string file;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("SF:", 0) == 0)
            file = std::filesystem::path(line.substr(3)).filename().string();
        else if (line.rfind("DA:", 0) == 0)
            files[file][std::stoi(line.substr(3))] = std::stol(line.substr(line.find(',') + 1));
    }
    return files;
}

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The tracefile of a run of the example services driver with this behaviour.
std::string Coverage(const ScratchFolder &scratch, const Dialect &d, const char *behaviour)
{
    const std::string file = scratch.dir() + "/" + d.name + "-" + behaviour + ".info";
    const ToolRun run =
        RunTool(kSim, {"--services", d.dir + "/kelv_debug.sys", "--attach-param", behaviour, "--coverage", file});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    return ReadFile(file);
}

TEST(Coverage, RefusingEveryQueryLeavesTheAcceptPathUnrun)
{
    // KelvQueryMode: the test that refuses, then the accept path after its
    // FALSE up to its TRUE (an optimised build keeps a line of code for some
    // of its lines, not all).  Under accept-all the path runs but for the
    // refresh a default-refresh request alone gets.
    const auto [first, last] = QueryModeBody();
    const int test = LineOf(kExampleSource, "if (g_behaviour == KELV_REFUSE_ALL)", first);
    const int refusal = LineOf(kExampleSource, "return FALSE;", test);
    const int accepted = LineOf(kExampleSource, "return TRUE;", refusal);
    const int defaultRefresh = LineOf(kExampleSource, "answer.Refresh = KELV_FIXED_REFRESH;", refusal);
    ScratchFolder scratch;
    for (const Dialect &d : kDialects) {
        SCOPED_TRACE(d.name);
        auto refused = LineCounts(Coverage(scratch, d, kRefuseAll))["services_driver.c"];
        auto accepting = LineCounts(Coverage(scratch, d, kAcceptAll))["services_driver.c"];
        ASSERT_TRUE(refused.count(test) && accepting.count(test));
        EXPECT_GT(refused[test], 0);
        EXPECT_GT(accepting[test], 0);
        int pathLines = 0;
        for (int line = refusal + 1; line <= accepted; ++line) {
            ASSERT_EQ(refused.count(line), accepting.count(line)) << "line " << line;
            if (!refused.count(line))
                continue;
            ++pathLines;
            EXPECT_EQ(refused[line], 0) << "line " << line;
            if (line != defaultRefresh) {
                EXPECT_GT(accepting[line], 0) << "line " << line;
            }
        }
        EXPECT_GE(pathLines, 2);
    }
}

TEST(Coverage, TheTracefileHasEveryRecordLcovNames)
{
    ScratchFolder scratch;
    for (const Dialect &d : kDialects) {
        SCOPED_TRACE(d.name);
        const std::string text = Coverage(scratch, d, kAcceptAll);
        EXPECT_TRUE(std::regex_search(text, std::regex("(^|\n)TN:[^\n]*\nSF:/[^\n]*/services_driver\\.c\n")));
        EXPECT_TRUE(std::regex_search(text, std::regex("\nFN:[0-9]+,KelvQueryMode\n")));
        EXPECT_TRUE(std::regex_search(text, std::regex("\nFNDA:[1-9][0-9]*,KelvQueryMode\n")));
        // KelvPassThrough is never called by a list run.
        EXPECT_TRUE(std::regex_search(text, std::regex("\nFNDA:0,KelvPassThrough\n")));
        EXPECT_TRUE(std::regex_search(text, std::regex("\nLF:[1-9][0-9]*\nLH:[1-9][0-9]*\nend_of_record\n")));
    }
}

TEST(Coverage, GenhtmlRendersTheTracefile)
{
    if (std::system("command -v genhtml >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "genhtml (lcov) is not installed on this host";
    ScratchFolder scratch;
    for (const Dialect &d : kDialects) {
        SCOPED_TRACE(d.name);
        Coverage(scratch, d, kRefuseAll);
        const std::string tracefile = scratch.dir() + "/" + d.name + "-" + kRefuseAll + ".info";
        const std::string html = scratch.dir() + "/html-" + d.name;
        const ToolRun run = RunTool("genhtml", {"--quiet", "--output-directory", html, tracefile});
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        EXPECT_TRUE(std::filesystem::exists(html + "/index.html"));
        // The source file's own page, with its lines.
        bool sourcePage = false;
        for (const auto &entry : std::filesystem::recursive_directory_iterator(html))
            sourcePage = sourcePage || entry.path().filename() == "services_driver.c.gcov.html";
        EXPECT_TRUE(sourcePage);
    }
}

} // namespace
