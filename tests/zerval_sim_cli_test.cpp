// zerval-sim as a user runs it: every bad input ends with exactly one line on
// stderr that names the file or argument at fault, nothing on stdout, and
// exit status 1; a warning is one line and the run goes on; every scenario
// the behaviour suite drives can be asked for from the command line, and its
// outcome is output, not an error.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>

#include "accept_all.h"
#include "build_products.h"
#include "run_tool.h"
#include "scratch_folder.h"

namespace {

namespace fs = std::filesystem;

const std::string kSim = products::Existing(products::kSim);
const std::string kImage = products::Existing(products::kImageGnu);
const std::string kSource = ZERVAL_SOURCE_DIR;

std::string ReadAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

uint32_t U32(const std::string &b, size_t at)
{
    uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}
void Put16(std::string &b, size_t at, uint16_t v) { std::memcpy(b.data() + at, &v, 2); }
void Put32(std::string &b, size_t at, uint32_t v) { std::memcpy(b.data() + at, &v, 4); }

// The built image with one header field rewritten.
std::string PatchedImage(const ScratchFolder &s, const std::string &name, void (*patch)(std::string &, size_t coff, size_t opt))
{
    std::string bytes = ReadAll(kImage);
    const size_t coff = U32(bytes, 0x3C) + 4;
    patch(bytes, coff, coff + 20);
    return s.file(name, bytes);
}

std::string Edid128(uint8_t version = 1, uint8_t revision = 3)
{
    std::string b(128, '\0');
    const uint8_t header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    std::memcpy(b.data(), header, 8);
    b[18] = static_cast<char>(version);
    b[19] = static_cast<char>(revision);
    b[35] = static_cast<char>(0x20);  // 640x480 at 60 Hz
    uint8_t sum = 0;
    for (int i = 0; i < 127; ++i)
        sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(b[i]));
    b[127] = static_cast<char>(-sum);
    return b;
}

void ExpectOneErrorLine(const std::vector<std::string> &args, const std::string &pattern)
{
    std::string shown;
    for (const std::string &a : args)
        shown += " '" + a + "'";
    SCOPED_TRACE("zerval-sim" + shown);
    const ToolRun run = RunTool(kSim, args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    ASSERT_FALSE(run.err.empty());
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;  // exactly one line
    EXPECT_TRUE(std::regex_search(run.err, std::regex("^zerval-sim: error: " + pattern + "\n$"))) << run.err;
}

TEST(ZervalSimErrors, UsageErrorsAreOneLineAndStatusOne)
{
    ExpectOneErrorLine({"validate"}, "validate: needs a mode, WIDTHxHEIGHTxBPP@HZ.*");
    ExpectOneErrorLine({"validate", "800x600x16"}, "validate: mode '800x600x16' is not WIDTHxHEIGHTxBPP@HZ.*");
    ExpectOneErrorLine({"validate", "800x70000x16@75"}, "validate: mode '800x70000x16@75': height 70000 is outside 0 to 65535");
    ExpectOneErrorLine({"set", "1024x768x16@75", "--option", "-1"}, "--option: '-1' is negative; give 0 to 0xffffffff");
    // A range that starts above 0 says so, for a negative value and for 0.
    ExpectOneErrorLine({"--attaches", "-3"}, "--attaches: '-3' is negative; give 1 to 1000");
    ExpectOneErrorLine({"--attaches", "0"}, "--attaches: '0' is below 1; give 1 to 1000");
    // A one-value option given twice is not one that lacks its value.
    ExpectOneErrorLine({"--profile", "a.json", "--profile", "b.json"},
                       "--profile: given 2 times; it takes one value, give it once");
    ExpectOneErrorLine({"--image=a.sys", "--image", "b.sys"}, "--image: given 2 times; it takes one value, give it once");
    ExpectOneErrorLine({"--display", "-"}, "--display: a display driver is bound by its file name; give its path, not -");
    ExpectOneErrorLine({"set", "1024x768x16@75", "--option", "0x100000000"}, "--option: '0x100000000' is above 0xffffffff.*");
    ExpectOneErrorLine({"function", "abc"}, "function: 'abc' is not a whole number \\(decimal or 0x hex\\)");
    ExpectOneErrorLine({"function", "1", "2"}, "function: needs one value .*got 2");
    ExpectOneErrorLine({"passthrough", "1", "2"}, "passthrough: needs three values .*got 2");
    ExpectOneErrorLine({"frobnicate"}, "unknown command 'frobnicate' \\(commands: list, validate, .*\\)");
    ExpectOneErrorLine({"--frobnicate"}, "unknown option '--frobnicate'.*");
    ExpectOneErrorLine({"list", "extra"}, "unexpected argument 'extra'");
    ExpectOneErrorLine({"--backend", "foo"}, "--backend: 'foo' is neither image nor host");
    ExpectOneErrorLine({"--profile"}, "--profile: needs a value");
    ExpectOneErrorLine({"list", "--json", "--matrix"}, "list: --json and --matrix are two different views; give one");
    ExpectOneErrorLine({"--image", ""}, "--image: the path is empty");
    ExpectOneErrorLine({"--backend", "host", "--image", kImage}, "--image and --backend host: .*");
    ExpectOneErrorLine({"--empty-hook", "pfnNope"}, "--empty-hook: no hook 'pfnNope' .*");
    ExpectOneErrorLine({"--trace-entry", "Nope"}, "--trace-entry: no entry 'Nope' .*");
    ExpectOneErrorLine({"--refuse-pool", "0"}, "--refuse-pool: '0' is below 1; give 1 to 0xffffffff");
    ExpectOneErrorLine({"--attaches", "1001"}, "--attaches: '1001' is above 1000; give 1 to 1000");
    ExpectOneErrorLine({"--disable-row", "62"}, "--disable-row: '62' is above 61; give 0 to 61");
    ExpectOneErrorLine({"--row", "3=abc"}, "--row: '3=abc' is not N=WIDTHxHEIGHTxBPP.*");
    ExpectOneErrorLine({"--rates", "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17"}, "--rates: 17 rates; the table holds 16");
    ExpectOneErrorLine({"set", "1024x768x16@75", "--attributes", "1"}, "set: --attributes needs --unlisted.*");
    ExpectOneErrorLine({"edid"}, "edid: needs an EDID file");
    ExpectOneErrorLine({"--save-written", "/tmp"}, "--save-written: keeps what a display driver wrote; give --display too");
    ExpectOneErrorLine({"validate", "801x600x16@75"}, "mode 801x600x16@75 is not in the published list .*--unlisted.*");
}

TEST(ZervalSimErrors, BadFilesAreNamedInOneLine)
{
    const ScratchFolder s;
    const std::string missing = s.dir() + "/missing.json";
    ExpectOneErrorLine({"--profile", missing}, missing + ": cannot read it \\(No such file or directory\\)");
    ExpectOneErrorLine({"--profile", s.dir()}, s.dir() + ": is a folder, not a file");
    ExpectOneErrorLine({"--image", s.dir()}, s.dir() + ": is a folder, not a file");
    ExpectOneErrorLine({"--edid", s.dir()}, s.dir() + ": is a folder, not a file");

    const std::string syntax = s.file("syntax.json", "{\n  \"name\": x\n}");
    ExpectOneErrorLine({"--profile", syntax}, syntax + ": not valid JSON: syntax error at line 2, column \\d+");
    const std::string cut = s.file("cut.json", "{\"name\": ");
    ExpectOneErrorLine({"--profile", cut}, cut + ": not valid JSON: .*");
    const std::string huge = s.file("huge.json", R"({"passThroughResult": 18446744073709551615})");
    ExpectOneErrorLine({"--profile", huge},
                       huge + ": profile field 'passThroughResult': expected a whole number from -2147483648 to "
                              "2147483647, not 18446744073709551615");
    const std::string wide = s.file("wide.json", R"({"maxWidth": 65536})");
    ExpectOneErrorLine({"--profile", wide}, wide + ": profile field 'maxWidth': expected a whole number from 0 to 65535, not 65536");
    // One rule, one message, whatever the wrong depth.
    const std::string d12 = s.file("d12.json", R"({"depths": [8, 12]})");
    const std::string d64 = s.file("d64.json", R"({"depths": [64]})");
    ExpectOneErrorLine({"--profile", d12}, d12 + ": profile field 'depths\\[1\\]': a depth is 8, 16, 24 or 32, not 12");
    ExpectOneErrorLine({"--profile", d64}, d64 + ": profile field 'depths\\[0\\]': a depth is 8, 16, 24 or 32, not 64");
    const std::string both = s.file("both.json", R"({"edid": "x.bin", "monitorMaxRefresh": 60})");
    ExpectOneErrorLine({"--profile", both}, both + ": profile field 'edid': .*");

    ExpectOneErrorLine({"--image", kSource + "/README.md"}, kSource + "/README.md: not a PE image \\(no MZ header\\)");
    const std::string pe64 = PatchedImage(s, "pe64.sys", [](std::string &b, size_t, size_t opt) { Put16(b, opt, 0x20B); });
    ExpectOneErrorLine({"--image", pe64}, pe64 + ": a PE32\\+ \\(64-bit\\) image, not PE32 \\(optional header magic 0x20b at offset 0x[0-9a-f]+\\)");
    const std::string odd = PatchedImage(s, "odd.sys", [](std::string &b, size_t, size_t opt) { Put16(b, opt, 0x107); });
    ExpectOneErrorLine({"--image", odd}, odd + ": not a PE32 image \\(optional header magic 0x107 at offset 0x[0-9a-f]+, PE32 has 0x10b\\)");
    const std::string arm = PatchedImage(s, "arm.sys", [](std::string &b, size_t coff, size_t) { Put16(b, coff, 0xAA64); });
    ExpectOneErrorLine({"--image", arm}, arm + ": built for ARM64 \\(machine 0xaa64\\), not i386 \\(0x14c\\)");
    const std::string big = PatchedImage(s, "big.sys", [](std::string &b, size_t, size_t opt) { Put32(b, opt + 56, 0x40000000); });
    ExpectOneErrorLine({"--image", big}, big + ": SizeOfImage 0x40000000 is outside 0x1 to 0x1000000, what the simulation loads");
    const std::string cutImage = s.file("cut.sys", ReadAll(kImage).substr(0, 0x100));
    ExpectOneErrorLine({"--image", cutImage}, cutImage + ": truncated: the file is 0x100 bytes, a header points to offset 0x[0-9a-f]+");

    std::string e = Edid128();
    const std::string good = s.file("good.bin", e);
    e[127] = static_cast<char>(e[127] + 1);
    const std::string sum = s.file("sum.bin", e);
    ExpectOneErrorLine({"--edid", sum}, sum + ": base block checksum 0x[0-9a-f]{2} is wrong.*");
    ExpectOneErrorLine({"--edid", kSource + "/README.md"}, kSource + "/README.md: neither a binary EDID .* nor a hex dump of one");
    const std::string v2 = s.file("v2.bin", Edid128(2, 0));
    ExpectOneErrorLine({"--edid", v2}, v2 + ": structure version 2.0 \\(bytes 0x12-0x13\\); this reader knows 1.0 to 1.4");
    const std::string shortEdid = s.file("short.bin", Edid128().substr(0, 100));
    ExpectOneErrorLine({"--edid", shortEdid}, shortEdid + ": 100 bytes; an EDID is 128 bytes per block");
    std::string noHeader = Edid128();
    noHeader[1] = 0;
    const std::string nh = s.file("nh.bin", noHeader);
    ExpectOneErrorLine({"--edid", nh}, nh + ": neither a binary EDID .*|" + nh + ": no EDID header.*");
    const std::string named = s.file("named.json", R"({"edid": "sum.bin"})");
    ExpectOneErrorLine({"--profile", named}, s.dir() + "/sum.bin: base block checksum .*");
    // The good one passes, as a control for the above.
    EXPECT_EQ(RunTool(kSim, {"--edid", good}).status, 0);
}

TEST(ZervalSimWarnings, AreOneLineAndTheRunGoesOn)
{
    const ScratchFolder s;
    const std::string sum = PatchedImage(s, "sum.sys", [](std::string &b, size_t, size_t opt) {
        Put32(b, opt + 64, U32(b, opt + 64) ^ 1u);
    });
    ToolRun run = RunTool(kSim, {"--image", sum});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(std::regex_match(run.err, std::regex("zerval-sim: warning: " + sum +
                                                     ": checksum 0x[0-9a-f]+ in the optional header \\(offset 0x[0-9a-f]+\\) "
                                                     "is wrong, the file sums to 0x[0-9a-f]+; .*\n")))
        << run.err;
    EXPECT_NE(run.out.find("616 modes published"), std::string::npos);

    // The option is a 32-bit slot of which SetMode hands on the low byte.
    run = RunTool(kSim, {"set", "1024x768x16@75", "--option", "256"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "zerval-sim: warning: --option 0x100: SetMode passes on only the low byte, 0x0\n");
    EXPECT_NE(run.out.find("SetMode returned 0"), std::string::npos);
    EXPECT_TRUE(std::regex_search(run.out, std::regex("asked: pfnSetMode\\(.*, 0, 0x0\\)"))) << run.out;
    run = RunTool(kSim, {"set", "1024x768x16@75", "--option", "0xff"});
    EXPECT_EQ(run.err, "");
}

// The lines of the matrix section for one depth, by resolution.
std::map<std::string, std::string> MatrixSection(const std::string &out, int depth)
{
    std::map<std::string, std::string> rows;
    std::istringstream in(out);
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
        if (line.find("bits per pixel") != std::string::npos) {
            inside = std::stoi(line) == depth;
            continue;
        }
        if (!inside || line.rfind("  ", 0) != 0)
            continue;
        std::istringstream cells(line);
        std::string res, cell, all;
        cells >> res;
        while (cells >> cell)
            all += cell;
        rows[res] = all;
    }
    return rows;
}

TEST(ZervalSimScenarios, MatrixSaysWhyEachCellIsEmpty)
{
    const ScratchFolder s;
    // Up to 1280 pixels wide; a monitor that shows 60 Hz at most.
    const std::string p = s.file("p.json", R"({"maxWidth": 1280, "monitorMaxRefresh": 60})");
    const ToolRun run = RunTool(kSim, {"--profile", p, "--disable-row", "0", "--rates", "60,75,256", "list", "--matrix"});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto eight = MatrixSection(run.out, 8);
    EXPECT_EQ(eight.at("640x480"), "ddd");     // row 0, disabled
    EXPECT_EQ(eight.at("800x600"), "#o~");     // usable, not usable, answered at 0 for 256
    EXPECT_EQ(eight.at("1600x1200"), "xxx");   // refused
    const auto deep = MatrixSection(run.out, 24);
    EXPECT_EQ(deep.at("640x480"), "sss");      // skipped at 24 bits
    EXPECT_EQ(deep.at("720x576"), "sss");
    EXPECT_EQ(deep.at("1024x768"), "#66");     // 60 Hz only
    EXPECT_EQ(MatrixSection(run.out, 16).at("640x480"), "#o~");  // disabling row 0 leaves the others
    for (const char *legend : {"# usable", "o published, not usable", "x refused", "~ answered at another rate",
                               "s row skipped", "d row disabled", "6 probed at 60 Hz only"})
        EXPECT_NE(run.out.find(legend), std::string::npos) << legend;
}

TEST(ZervalSimScenarios, AttachOutcomesAreOutputWithTheModulesResult)
{
    ToolRun run = RunTool(kSim, {"--init-fails"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(std::regex_search(run.out, std::regex("\nlDllAttach: FALSE, .*\\(pfnInit answered FALSE; .*\\)\n"))) << run.out;
    EXPECT_NE(run.out.find("0 modes, no list published (ORVX_NUM_MODES 0)"), std::string::npos);

    run = RunTool(kSim, {"--empty-hook", "pfnQueryMode", "--empty-hook", "pfnSetMode"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(std::regex_search(run.out, std::regex("\nlDllAttach: (TRUE|FALSE), .*the services driver left pfnQueryMode, pfnSetMode empty")))
        << run.out;

    // The candidate list is rows x rates x 16 bytes; refused, nothing is built.
    run = RunTool(kSim, {"--refuse-pool", "1"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(std::regex_search(run.out, std::regex("\nlDllAttach: TRUE, .*pool request 1 \\(15872 bytes\\) refused")))
        << run.out;
    EXPECT_NE(run.out.find("0 modes, no list published (ORVX_NUM_MODES 0)"), std::string::npos);

    // A second attach cut short by the pool keeps the first list published.
    run = RunTool(kSim, {"--attaches", "2", "--refuse-pool", "3"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(std::regex_search(run.out, std::regex("\nlDllAttach \\(1 of 2\\): TRUE, [^\n(]*\n"))) << run.out;
    EXPECT_TRUE(std::regex_search(run.out, std::regex("\nlDllAttach \\(2 of 2\\): TRUE, .*pool request 3 \\(15872 bytes\\) refused")))
        << run.out;
    EXPECT_NE(run.out.find("0 modes published (ORVX_NUM_MODES 619"), std::string::npos);
}

// The probe display driver writes its report through the simulated kernel:
// shown, saved, and kept also when the stack faults on the way.
TEST(ZervalSimScenarios, WhatADisplayDriverWroteIsShownAndSavedEvenWhenItFaults)
{
    const ScratchFolder s;
    const std::string probe = products::Existing(products::kWineProbe);
    const std::string services = products::Existing(products::kExampleServices);
    const std::string tv = products::Existing(products::kExampleTv);
    ExpectOneErrorLine({"--display", probe, "--save-written", s.dir() + "/none"},
                       "--save-written " + s.dir() + "/none: no such folder");

    ToolRun run = RunTool(kSim, {"--services", services, "--tv", tv, "--display", probe, "--save-written", s.dir()});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string saved = s.dir() + "/zerval-probe.txt";
    const std::string report = ReadAll(saved);
    EXPECT_NE(run.out.find("\nzprobe.sys wrote \\DosDevices\\C:\\zerval-probe.txt (" + std::to_string(report.size()) +
                           " bytes), saved as " + saved + "\n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(report.rfind("zprobe report, format 1\n", 0), 0u);
    EXPECT_EQ(report.substr(report.size() - 14), "end of report\n");
    // Without the folder, only the line.
    run = RunTool(kSim, {"--services", services, "--tv", tv, "--display", probe});
    EXPECT_TRUE(std::regex_search(run.out, std::regex("\nzprobe.sys wrote .*zerval-probe.txt \\([0-9]+ bytes\\)\n")));

    // A __cdecl attach entry stops the probe inside lDllAttach.
    run = RunTool(kSim, {"--services", std::string(ZERVAL_WINE_DRIVERS_DIR) + "/cdecl/kelv.sys", "--tv", tv, "--display",
                         probe, "--save-written", s.dir()});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(std::regex_search(run.err, std::regex("^zerval-sim: error: .*cdecl/kelv\\.sys, the services driver, "
                                                      "broke the rules, not zerval\\.sys: .*stack unbalanced.*\n$")))
        << run.err;
    EXPECT_TRUE(std::regex_search(run.out, std::regex("^zprobe.sys wrote .*, saved as " + saved + "\n$"))) << run.out;
    const std::string cut = ReadAll(saved);
    EXPECT_EQ(cut.substr(cut.rfind('\n') + 1), "attach 1: lDllAttach(0, 0, 0, 0, &result) = ");
}

// The example services and TV drivers accept every mode: the whole list, with
// either image.
TEST(ZervalSimScenarios, RealSiblingsPublishTheAcceptAllList)
{
    const std::vector<std::string> siblings = {"--services", products::Existing(products::kExampleServices), "--tv",
                                               products::Existing(products::kExampleTv)};
    const std::string list = std::to_string(accept_all::Modes()) + " modes published (ORVX_NUM_MODES " +
                             std::to_string(accept_all::Records()) + ", ";
    for (const std::string &image : {kImage, products::Existing(products::kImageMsvc)}) {
        std::vector<std::string> args = siblings;
        args.insert(args.end(), {"--image", image});
        const ToolRun run = RunTool(kSim, args);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find("\n" + list), std::string::npos) << image << "\n" << run.out;
    }
}

// With a real services driver the matrix and the "asked" lines come from the
// calls into its image, as they come from the simulated one's answers.
TEST(ZervalSimScenarios, RealSiblingsFillTheMatrixAndTheAskedLines)
{
    const std::string kelv = products::Existing(products::kExampleServices);
    ToolRun run = RunTool(kSim, {"--services", kelv, "--rates", "60,75", "list", "--matrix"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(MatrixSection(run.out, 8).at("640x480"), "##");
    EXPECT_EQ(MatrixSection(run.out, 24).at("1024x768"), "#6");
    run = RunTool(kSim, {"--services", kelv, "--attach-param", "1", "--rates", "60,75", "list", "--matrix"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(MatrixSection(run.out, 8).at("640x480"), "xx");
    run = RunTool(kSim, {"--services", kelv, "--attach-param", "2", "--rates", "60,75", "list", "--matrix"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(MatrixSection(run.out, 8).at("640x480"), "#~");

    run = RunTool(kSim, {"--services", kelv, "validate", "640x480x8@60"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\n  services driver was asked: pfnQueryMode({640x480x8 @60 attr=0x00000000 flags=0x00000000}, 0) "
                           "= 0x1 -> {640x480x8 @60 attr=0x00050001 flags=0x00000000}\n"),
              std::string::npos)
        << run.out;
}

// A services driver that accepts modes but answers each at another rate
// publishes nothing: one line says so, with the first such answer; a driver
// with at least one answer at the rate asked gets no such line.
TEST(ZervalSimScenarios, EveryAnswerAtAnotherRateIsSaidInOneLine)
{
    const std::string line = "every mode the services driver accepted came back at another rate than asked, so none of "
                             "them was published; the first: asked {640x480x8 @75 attr=0x00000000 flags=0x00000002}, "
                             "answered {640x480x8 @60 attr=0x00050001 flags=0x00000002}\n";
    const std::string kelv = products::Existing(products::kExampleServices);
    ToolRun run = RunTool(kSim, {"--services", kelv, "--attach-param", "2", "--rates", "75,85"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\n0 modes published (ORVX_NUM_MODES 3, records 0-2 left to the display driver)\n" + line),
              std::string::npos)
        << run.out;
    run = RunTool(kSim, {"--services", kelv, "--attach-param", "2", "--rates", "60,75"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.find("came back at another rate"), std::string::npos) << run.out;
    run = RunTool(kSim, {"--services", kelv, "--attach-param", "1", "--rates", "75,85"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.find("came back at another rate"), std::string::npos) << run.out;
}

// Every command that calls an entry after the attach first shows the attach
// line when the attach failed: the entry's answer is the module's in that state.
TEST(ZervalSimScenarios, EveryCommandShowsAFailedAttach)
{
    const std::vector<std::vector<std::string>> commands = {{"validate", "640x480x8@60", "--unlisted"},
                                                            {"set", "640x480x8@60", "--unlisted"},
                                                            {"function", "7"},
                                                            {"passthrough", "1", "2", "3"},
                                                            {"free-framebuffer"},
                                                            {"initial-value"}};
    const std::vector<std::vector<std::string>> failures = {
        {"--init-fails"}, {"--services", products::Existing(products::kExampleServices), "--attach-param", "3"}};
    for (const auto &failure : failures)
        for (const auto &command : commands) {
            std::vector<std::string> args = failure;
            args.insert(args.end(), command.begin(), command.end());
            const ToolRun run = RunTool(kSim, args);
            EXPECT_EQ(run.status, 0) << run.err;
            EXPECT_TRUE(std::regex_search(run.out, std::regex("^lDllAttach: FALSE, [^\n]*pfnInit answered FALSE[^\n]*\n")))
                << command.front() << "\n" << run.out;
        }
}

TEST(ZervalSimScenarios, CatalogueEditsTakeEffectAtTheAttach)
{
    ToolRun run = RunTool(kSim, {"--row", "0=1280x1024x8", "list", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    nlohmann::json j = nlohmann::json::parse(run.out);
    ASSERT_FALSE(j["modes"].empty());
    EXPECT_EQ(j["modes"][0]["width"], 1280);
    EXPECT_EQ(j["modes"][0]["height"], 1024);

    run = RunTool(kSim, {"--mode-table-size", "0", "list", "--json"});
    j = nlohmann::json::parse(run.out);
    EXPECT_EQ(j["NumModesFromBIOSDLL"], 0);
    EXPECT_EQ(j["ORVX_NUM_MODES"], 3);

    run = RunTool(kSim, {"--disable-row", "all", "list", "--json"});
    j = nlohmann::json::parse(run.out);
    EXPECT_EQ(j["NumModesFromBIOSDLL"], 0);

    run = RunTool(kSim, {"--rates", "60", "list", "--json"});
    j = nlohmann::json::parse(run.out);
    for (const auto &m : j["modes"])
        EXPECT_EQ(m["frequency"], 60);
    EXPECT_FALSE(j["modes"].empty());
}

TEST(ZervalSimScenarios, UnlistedRecordsReachTheServicesDriver)
{
    // vValidateMode hands the caller's Flags on; SetMode the record's
    // DriverSpecificAttributeFlags.
    ToolRun run = RunTool(kSim, {"validate", "801x600x16@75", "--unlisted", "--flags", "3"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(std::regex_search(run.out, std::regex("asked: pfnQueryMode\\(\\{801x600x16 @75 attr=0x[0-9a-f]{8} flags=0x00000003\\}")))
        << run.out;
    run = RunTool(kSim, {"set", "801x600x16@75", "--unlisted", "--attributes", "0x30000"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(std::regex_search(run.out, std::regex("asked: pfnQueryMode\\(\\{801x600x16 @75 attr=0x[0-9a-f]{8} flags=0x00030000\\}")))
        << run.out;
    run = RunTool(kSim, {"set", "2048x1536x32@60", "--unlisted"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("SetMode returned 87 (ERROR_INVALID_PARAMETER)"), std::string::npos) << run.out;
}

TEST(ZervalSimScenarios, TraceGoesToStderrForTheEntriesAsked)
{
    ToolRun run = RunTool(kSim, {"--trace", "list", "--json"});
    ASSERT_EQ(run.status, 0);
    EXPECT_NO_THROW({ const auto parsed = nlohmann::json::parse(run.out); (void)parsed; });
    EXPECT_EQ(run.err.rfind("> DriverEntry of zerval.sys (NULL, NULL)\n", 0), 0u);
    EXPECT_NE(run.err.find("> lDllAttach("), std::string::npos);

    run = RunTool(kSim, {"--trace-entry", "SetMode", "set", "1024x768x16@75"});
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.err.rfind("> SetMode(", 0), 0u) << run.err;
    EXPECT_EQ(run.err.find("lDllAttach"), std::string::npos);
    EXPECT_NE(run.err.find("< SetMode = 0x0\n"), std::string::npos);
}

} // namespace

namespace {

// A build tree of its own in the scratch folder: bin/ with a copy of the
// given program, and the given files at their places in the tree.
std::string CopyTree(const ScratchFolder &s, const std::string &program,
                     const std::vector<std::pair<std::string, std::string>> &files)
{
    fs::create_directories(fs::path(s.dir()) / "bin");
    const fs::path copy = fs::path(s.dir()) / "bin" / fs::path(program).filename();
    fs::copy_file(program, copy);
    for (const auto &[from, to] : files) {
        fs::create_directories((fs::path(s.dir()) / to).parent_path());
        fs::copy_file(from, fs::path(s.dir()) / to);
    }
    return copy.string();
}

} // namespace

// The tools find the image and the baseline in their own build tree: a
// copied tree runs and measures its own, and says in one line when one is
// missing.  (The copy's image is the MSVC one, to tell it from the original.)
TEST(ToolsInACopiedBuildTree, ZervalSimRunsTheTreesOwnImage)
{
    const ScratchFolder s;
    const std::string msvc = products::Existing(products::kImageMsvc);
    const std::string sim = CopyTree(s, kSim, {{msvc, "image-gnu/zerval.sys"}});
    const ToolRun run = RunTool("env", {"-u", "ZERVAL_IMAGE", sim});
    EXPECT_EQ(run.status, 0) << run.err;
    // Shown relative to the working folder where it lies below it.
    const std::string tree = fs::path(s.dir()).filename().string();
    EXPECT_TRUE(std::regex_search(run.out, std::regex("\nimage: (\\S*/)?" + tree + "/image-gnu/zerval.sys\n")))
        << run.out;
    EXPECT_NE(run.out.find("616 modes published"), std::string::npos) << run.out;

    // ZERVAL_IMAGE names another.
    const std::string other = s.file("other.sys", ReadAll(kImage));
    const ToolRun named = RunTool("env", {"ZERVAL_IMAGE=" + other, sim});
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_TRUE(std::regex_search(named.out, std::regex("\nimage: (\\S*/)?" + tree + "/other.sys\n"))) << named.out;
}

TEST(ToolsInACopiedBuildTree, ZervalSimSaysInOneLineThatTheTreeHasNoImage)
{
    const ScratchFolder s;
    const std::string sim = CopyTree(s, kSim, {});
    const ToolRun run = RunTool("env", {"-u", "ZERVAL_IMAGE", sim, "list"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "zerval-sim: error: no zerval.sys (GNU dialect) at " + s.dir() +
                           "/image-gnu/zerval.sys (not built? name another with --image or ZERVAL_IMAGE)\n");

    const ToolRun named = RunTool("env", {"ZERVAL_IMAGE=" + s.dir() + "/none.sys", sim, "list"});
    EXPECT_EQ(named.status, 1);
    EXPECT_EQ(named.err, "zerval-sim: error: no zerval.sys (GNU dialect) at " + s.dir() +
                             "/none.sys (named by ZERVAL_IMAGE)\n");
}

TEST(ToolsInACopiedBuildTree, ZervalBenchComparesWithTheTreesOwnBaseline)
{
    const ScratchFolder s;
    const std::string bench = products::Existing(products::kBench);
    const std::string gnu = products::Existing(products::kImageGnu);
    const std::string msvc = products::Existing(products::kImageMsvc);
    const std::string copy = CopyTree(s, bench, {{gnu, "image-gnu/zerval.sys"}, {msvc, "image-msvc/zerval.sys"}});
    const ToolRun missing = RunTool("env", {"-u", "ZERVAL_BASELINE", copy});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err, "zerval-bench: no benchmark baseline at " + s.dir() +
                               "/bench/baseline.txt (not built? name another with --baseline or ZERVAL_BASELINE)\n");

    // A baseline of its own, written by the copy, is the one it compares with.
    fs::create_directories(fs::path(s.dir()) / "bench");
    const ToolRun write = RunTool("env", {"-u", "ZERVAL_BASELINE", copy, "--write-baseline",
                                                   s.dir() + "/bench/baseline.txt"});
    ASSERT_EQ(write.status, 0) << write.err;
    const ToolRun run = RunTool("env", {"-u", "ZERVAL_BASELINE", copy});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("zerval.sys (gnu): " + s.dir() + "/image-gnu/zerval.sys\n"), std::string::npos);
    EXPECT_NE(run.out.find("against " + s.dir() + "/bench/baseline.txt"), std::string::npos) << run.out;
}

namespace {

// What a run reads is bounded, standard input included, and what it writes
// must arrive: each rough input is one line and status 1, never a hang.
TEST(ZervalSimInputs, EveryReadIsBoundedAndRefusedInOneLine)
{
    const ScratchFolder s;
    const std::string limit = ": larger than 16 MiB, the most zerval-sim reads from a file";
    // Endless devices are refused after the limit, not read to the end.
    ExpectOneErrorLine({"--image", "/dev/zero"}, "/dev/zero" + limit);
    ExpectOneErrorLine({"--profile", "/dev/zero"}, "/dev/zero" + limit);
    ExpectOneErrorLine({"edid", "/dev/urandom"}, "/dev/urandom" + limit);
    // One byte past the limit is too much; the limit itself is read.
    const std::string big = s.file("big.json", std::string((16u << 20) + 1, ' '));
    ExpectOneErrorLine({"--profile", big}, big + limit);
    const std::string atLimit = s.file("at-limit.json", "{}" + std::string((16u << 20) - 2, ' '));
    EXPECT_EQ(RunTool(kSim, {"--profile", atLimit, "profile"}).status, 0);
}

TEST(ZervalSimInputs, DashIsStandardInput)
{
    const ScratchFolder s;
    const std::string small = kSource + "/profiles/small.json";
    ToolRun run = RunTool(kSim, {"--profile", "-", "list", "--json"}, {small, ""});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(nlohmann::json::parse(run.out)["NumModesFromBIOSDLL"], 104);
    run = RunTool(kSim, {"--image", "-"}, {kImage, ""});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\nimage: standard input\n"), std::string::npos) << run.out;
    run = RunTool(kSim, {"edid", "-"}, {kSource + "/tests/data/edid/analog-02.bin", ""});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind("standard input: EDID 1.3, analog", 0), 0u) << run.out;
    // Bad input from it is named as such, and it is read once.
    const ToolRun text = RunTool(kSim, {"--image", "-"}, {s.file("text.txt", "hello\n"), ""});
    EXPECT_EQ(text.status, 1);
    EXPECT_EQ(text.err, "zerval-sim: error: standard input: not a PE image (no MZ header)\n");
    const ToolRun twice = RunTool(kSim, {"--profile", "-", "--edid", "-"}, {small, ""});
    EXPECT_EQ(twice.status, 1);
    EXPECT_EQ(twice.err, "zerval-sim: error: standard input: already read for another option (give - to one of them "
                         "only)\n");
}

TEST(ZervalSimInputs, OutputThatCannotBeWrittenIsAnError)
{
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{}, {"list", "--json"}, {"function", "1"}, {"--version"}}) {
        SCOPED_TRACE(args.empty() ? "list" : args[0]);
        const ToolRun run = RunTool(kSim, args, {"/dev/null", "/dev/full"});
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(std::regex_match(run.err, std::regex("zerval-sim: error: standard output: cannot write it \\(.*\\)\n")))
            << run.err;
    }
}

// An image of another kind is named by its kind, whatever the role.
TEST(ZervalSimInputs, AProgramOfAnotherKindIsNamedAsSuch)
{
    const ScratchFolder s;
    const std::string console = PatchedImage(s, "tool.exe", [](std::string &b, size_t, size_t opt) { Put16(b, opt + 68, 3); });
    const std::string kind = ": not a native driver \\(subsystem 3, a kernel-mode driver has 1\\)";
    ExpectOneErrorLine({"--image", console}, console + kind);
    for (const char *role : {"--services", "--tv", "--display"})
        ExpectOneErrorLine({role, console}, console + kind);
    const std::string text = s.file("notes.txt", "MZ, but only text\n");
    for (const char *role : {"--image", "--services", "--display"})
        ExpectOneErrorLine({role, text}, text + ": .*");
}

TEST(ZervalSimOutput, JsonCarriesTheImageAndTheAttachLines)
{
    ToolRun run = RunTool(kSim, {"--attaches", "2", "list", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    nlohmann::json j = nlohmann::json::parse(run.out);
    EXPECT_EQ(j["backend"], "image");
    EXPECT_TRUE(std::regex_search(j["image"].get<std::string>(), std::regex("image-gnu/zerval\\.sys$"))) << j["image"];
    ASSERT_EQ(j["attaches"].size(), 2u);
    EXPECT_EQ(j["attaches"][1]["returned"], true);
    EXPECT_TRUE(std::regex_match(j["attaches"][1]["line"].get<std::string>(),
                                 std::regex("lDllAttach \\(2 of 2\\): TRUE, \\d+ instructions in the image, .*")))
        << j["attaches"][1]["line"];

    run = RunTool(kSim, {"--backend", "host", "--init-fails", "list", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    j = nlohmann::json::parse(run.out);
    EXPECT_EQ(j["backend"], "host");
    EXPECT_TRUE(j["image"].is_null());
    EXPECT_EQ(j["attaches"][0]["line"], "lDllAttach: FALSE (pfnInit answered FALSE; hook table wiped, result byte not "
                                        "written, the earlier list stays)");
}

TEST(ZervalSimOutput, ProfileNamesAreShownAsTheProfileSaysAndPrintable)
{
    const ScratchFolder s;
    const std::string raw = s.file("raw.json", "{\"name\": \"a\\u001b[2Jb\", \"description\": \"line\\nbreak\"}");
    ToolRun run = RunTool(kSim, {"--profile", raw});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.substr(0, run.out.find('\n') + 1), "profile: a\\x1b[2Jb - line\\x0abreak\n");
    // Unnamed: not the built-in accept-all adapter's name, though it limits.
    const std::string unnamed = s.file("unnamed.json", R"({"maxWidth": 800})");
    run = RunTool(kSim, {"--profile", unnamed});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.substr(0, run.out.find('\n') + 1), "profile: unnamed, from " + unnamed + "\n");
    run = RunTool(kSim, {"--profile", unnamed, "profile"});
    EXPECT_EQ(nlohmann::json::parse(run.out)["name"], "");
}

TEST(ZervalSimOutput, VersionIsOneLine)
{
    const ToolRun run = RunTool(kSim, {"--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, std::string("zerval-sim ") + ZERVAL_PROJECT_VERSION + "\n");
    EXPECT_EQ(run.err, "");
}

} // namespace
