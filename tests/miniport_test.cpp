// zerval-sim --display with a display driver that registers a video
// miniport, as the video port drives it: the example miniport on both
// images, each request's answer and the reported modes beside the published
// ones; and a miniport of the tests' own (tests/neighbours/miniport_mistakes.c)
// that gets one thing wrong per variant, each one line naming it.  What the
// port and its requests fix is typed here from the platform's documented
// interface: VIDEO_MODE_INFORMATION is 80 bytes, VIDEO_NUM_MODES 8, the
// frame buffer is the profile's video memory.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "build_products.h"
#include "run_tool.h"
#include "scratch_folder.h"

namespace {

const std::string kSim = products::Existing(products::kSim);
const std::string kImage = products::Existing(products::kImageGnu);
const std::string kImageMsvc = products::Existing(products::kImageMsvc);
const std::string kExamples = ZERVAL_EXAMPLES_DIR;
const std::string kMistakes = ZERVAL_TEST_NEIGHBOURS_DIR;
const std::string kSource = ZERVAL_SOURCE_DIR;

const std::string kMiniport = kExamples + "/example_miniport.sys";
const std::vector<std::string> kSiblings = {"--services", kExamples + "/kelv.sys", "--tv", kExamples + "/rmx.sys"};

std::string Variant(const std::string &name) { return kMistakes + "/miniport_" + name + ".sys"; }

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    return lines;
}

// The line that starts with `prefix`, or "" (and a failure).
std::string LineStarting(const std::string &text, const std::string &prefix)
{
    for (const std::string &l : Lines(text))
        if (l.rfind(prefix, 0) == 0)
            return l;
    ADD_FAILURE() << "no line starts with " << prefix << " in:\n" << text;
    return "";
}

// The usable rows of the published table the run printed.
size_t UsableRows(const std::string &out)
{
    size_t n = 0;
    for (const std::string &l : Lines(out))
        n += std::regex_match(l, std::regex(R"( +[0-9]+ +[0-9]+x[0-9]+ +[0-9]+ +[0-9]+ +yes .*)"));
    return n;
}

std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string> &more)
{
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

TEST(Miniports, TheExampleRunsAsTheVideoPortDrivesItOnBothImages)
{
    for (const std::string &image : {kImage, kImageMsvc}) {
        SCOPED_TRACE(image);
        const ToolRun r = RunTool(kSim, With(kSiblings, {"--image", image, "--display", kMiniport}));
        ASSERT_EQ(r.status, 0) << r.err;
        // Its leading records, then every usable published one, 80 bytes each.
        const size_t usable = UsableRows(r.out), reported = 3 + usable;
        ASSERT_GT(usable, 0u);
        EXPECT_EQ(LineStarting(r.out, "example_miniport.sys DriverEntry: "),
                  "example_miniport.sys DriverEntry: 0, a miniport registered with VideoPortInitialize "
                  "(HwInitDataSize 84, HwDeviceExtensionSize 32)");
        EXPECT_TRUE(std::regex_match(LineStarting(r.out, "example_miniport.sys HwVidFindAdapter"),
                                     std::regex(R"(example_miniport.sys HwVidFindAdapter: NO_ERROR \(0\), [1-9][0-9]* instructions in zerval\.sys)")));
        EXPECT_EQ(LineStarting(r.out, "example_miniport.sys HwVidInitialize"), "example_miniport.sys HwVidInitialize: TRUE");
        EXPECT_EQ(LineStarting(r.out, "IOCTL_VIDEO_QUERY_NUM_AVAIL_MODES"),
                  "IOCTL_VIDEO_QUERY_NUM_AVAIL_MODES: NO_ERROR (0), 8 bytes: " + std::to_string(reported) +
                      " modes of 80 bytes");
        EXPECT_EQ(LineStarting(r.out, "IOCTL_VIDEO_QUERY_AVAIL_MODES"),
                  "IOCTL_VIDEO_QUERY_AVAIL_MODES: NO_ERROR (0), " + std::to_string(80 * reported) + " bytes: " +
                      std::to_string(reported) + " records");
        EXPECT_EQ(LineStarting(r.out, "reported beside published"),
                  "reported beside published: " + std::to_string(reported) + " reported (3 the miniport's own, " +
                      std::to_string(usable) + " published as usable, 0 published as not usable); zerval.sys published " +
                      std::to_string(usable) + " (" + std::to_string(usable) + " usable); first difference: none");
        // The first usable published mode, set through SetMode, and asked back.
        const std::string set = LineStarting(r.out, "IOCTL_VIDEO_SET_CURRENT_MODE");
        std::smatch mode;
        ASSERT_TRUE(std::regex_match(set, mode, std::regex(R"(IOCTL_VIDEO_SET_CURRENT_MODE 3 \((\S+ @[0-9]+)\): NO_ERROR \(0\))")))
            << set;
        EXPECT_EQ(LineStarting(r.out, "IOCTL_VIDEO_QUERY_CURRENT_MODE"),
                  "IOCTL_VIDEO_QUERY_CURRENT_MODE: NO_ERROR (0), 80 bytes: mode 3, " + mode[1].str());
        // The default profile's 32 MiB of video memory, where the port maps frame buffers.
        EXPECT_EQ(LineStarting(r.out, "IOCTL_VIDEO_MAP_VIDEO_MEMORY"),
                  "IOCTL_VIDEO_MAP_VIDEO_MEMORY: NO_ERROR (0), 16 bytes: frame buffer at 0xc0000000, 33554432 bytes");
        EXPECT_EQ(LineStarting(r.out, "IOCTL_VIDEO_UNMAP_VIDEO_MEMORY"), "IOCTL_VIDEO_UNMAP_VIDEO_MEMORY: NO_ERROR (0)");
        EXPECT_EQ(LineStarting(r.out, "IOCTL_VIDEO_RESET_DEVICE"), "IOCTL_VIDEO_RESET_DEVICE: NO_ERROR (0)");
        // Its debug print, marked with the image.
        EXPECT_EQ(r.err, "example_miniport.sys: miniport: " + std::to_string(usable) + " of " + std::to_string(usable) +
                             " published modes usable, frame buffer 32768 KiB\n");
    }
}

// The miniport's own choices are shown: this one reports every published
// record, the unusable ones too, which the first difference names.
TEST(Miniports, TheReportedModesAreShownBesideThePublishedOnes)
{
    const ToolRun r = RunTool(kSim, {"--profile", kSource + "/profiles/small.json", "--display", Variant("sound")});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string beside = LineStarting(r.out, "reported beside published");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(beside, m, std::regex(R"(reported beside published: ([0-9]+) reported \(3 the miniport's own, ([0-9]+) published as usable, ([1-9][0-9]*) published as not usable\); zerval.sys published ([0-9]+) \(([0-9]+) usable\); first difference: record ([0-9]+), (\S+ @[0-9]+), published as not usable, is reported)")))
        << beside;
    EXPECT_EQ(std::stoul(m[2]), UsableRows(r.out));
    EXPECT_EQ(m[2], m[5]);
    EXPECT_EQ(std::stoul(m[1]), std::stoul(m[4]) + 3);
    // The record it names is the first one the table shows as not usable.
    for (const std::string &l : Lines(r.out)) {
        std::smatch row;
        if (std::regex_match(l, row, std::regex(R"( +([0-9]+) +([0-9]+x[0-9]+) +([0-9]+) +([0-9]+) +no .*)"))) {
            EXPECT_EQ(row[1].str(), m[6].str());
            EXPECT_EQ(row[2].str() + "x" + row[3].str() + " @" + row[4].str(), m[7].str());
            break;
        }
    }
    // What it printed through DbgPrint, formatted, marked with the image: the
    // port it wrote answers what it wrote, the next one 0xFF; the register
    // keeps its value; the value it stored under the key comes back, its
    // name in another case; a pool request larger than the pool is refused.
    EXPECT_EQ(r.err, "miniport_sound.sys: miniport: AttachParam 0, " + std::to_string(std::stoul(m[1])) +
                         " records of 80 bytes, tag 696e694d\n"
                         "miniport_sound.sys: port 0x3c4: 5a then ff, register 12345678, Name zerval, a pool of 2 GiB "
                         "refused\n");
}

// The value under the adapter's key reaches the miniport's callback: with
// AttachParam 3 the example services driver's pfnInit fails, and so does
// the example's HwVidFindAdapter.
TEST(Miniports, TheProfilesRegistryValueReachesTheCallback)
{
    const ScratchFolder s;
    // (Value names compare without regard to case, as the registry's do.)
    const std::string profile = s.file("p.json", R"({"registry": {"attachparam": 3}})");
    const ToolRun r = RunTool(kSim, With(kSiblings, {"--profile", profile, "--display", kMiniport}));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zerval-sim: error: " + kMiniport +
                         ": HwVidFindAdapter answered ERROR_DEV_NOT_EXIST (55), so the video port has no adapter for it\n");
    const ToolRun without = RunTool(kSim, With(kSiblings, {"--display", kMiniport}));
    EXPECT_EQ(without.status, 0) << without.err;
}

// With --trace, what the miniport prints is in the trace, among the calls
// in the order it made them, and nowhere else; the profile is shown, since
// it is the adapter the video port presents.
TEST(Miniports, WithTraceTheDebugPrintsAreInTheTrace)
{
    const ToolRun r = RunTool(kSim, With(kSiblings, {"--display", Variant("sound"), "--trace"}));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> err = Lines(r.err);
    size_t attach = err.size(), print = err.size();
    for (size_t i = 0; i < err.size(); ++i) {
        EXPECT_NE(err[i].rfind("miniport_sound.sys: ", 0), 0u) << err[i];
        if (err[i].find("-> zerval.sys!_lDllAttach@20(") != std::string::npos)
            attach = i;
        if (err[i].rfind("    miniport_sound.sys -> debug print: \"miniport: AttachParam 0, ", 0) == 0)
            print = i;
    }
    ASSERT_LT(print, err.size());
    EXPECT_LT(attach, print);
    EXPECT_EQ(LineStarting(r.out, "profile: "), "profile: default - 32 MiB adapter, 1600x1200 max, 85 Hz / 96 kHz "
                                                "monitor, TV-out up to 1024x768");
}

// --display-mode: one mode of those reported, or each in turn.
TEST(Miniports, TheDisplayDriverSetsTheModeAskedForOrEachInTurn)
{
    const std::vector<std::string> small = {"--profile", kSource + "/profiles/small.json", "--display", kMiniport};
    const ToolRun one = RunTool(kSim, With(small, {"--display-mode", "800x600x16@75"}));
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_TRUE(std::regex_match(LineStarting(one.out, "IOCTL_VIDEO_SET_CURRENT_MODE"),
                                 std::regex(R"(IOCTL_VIDEO_SET_CURRENT_MODE [0-9]+ \(800x600x16 @75\): NO_ERROR \(0\))")));
    EXPECT_TRUE(std::regex_match(LineStarting(one.out, "IOCTL_VIDEO_QUERY_CURRENT_MODE"),
                                 std::regex(R"(IOCTL_VIDEO_QUERY_CURRENT_MODE: NO_ERROR \(0\), 80 bytes: mode [0-9]+, 800x600x16 @75)")));

    const ToolRun each = RunTool(kSim, With(small, {"--display-mode", "each"}));
    ASSERT_EQ(each.status, 0) << each.err;
    size_t sets = 0, ok = 0;
    for (const std::string &l : Lines(each.out)) {
        sets += l.rfind("IOCTL_VIDEO_SET_CURRENT_MODE ", 0) == 0;
        ok += std::regex_match(l, std::regex(R"(IOCTL_VIDEO_QUERY_CURRENT_MODE: NO_ERROR \(0\), 80 bytes: mode [0-9]+, .*)"));
    }
    EXPECT_EQ(sets, 3 + UsableRows(each.out));
    EXPECT_EQ(ok, sets);

    const ToolRun missing = RunTool(kSim, With(small, {"--display-mode", "1600x1200x32@85"}));
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(Lines(missing.err).back(),
              "zerval-sim: error: --display-mode 1600x1200x32@85: example_miniport.sys does not report that mode");
    const ToolRun irql = RunTool(kSim, With(small, {"--irql", "DISPATCH_LEVEL"}));
    EXPECT_EQ(irql.status, 1);
    EXPECT_EQ(irql.err, "zerval-sim: error: --irql: with --display the display driver calls the entries, at the level "
                        "it runs at (a miniport's video port runs it at PASSIVE_LEVEL); drop one\n");
    const ToolRun bad = RunTool(kSim, {"--display-mode", "each"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err, "zerval-sim: error: --display-mode: the mode a display driver's miniport sets; give --display too\n");
}

// Each mistake: one line on stderr naming the miniport's file and what it
// did, and where, after what the miniport printed, with status 1.
TEST(Miniports, EachMistakeIsOneLineNamingTheMiniport)
{
    const ScratchFolder s;
    const std::string withValue = s.file("p.json", R"({"registry": {"AttachParam": 0}})");
    const std::string at = R"( \.text\+0x[0-9a-f]+ \(RVA 0x[0-9a-f]+\))";
    struct Case {
        const char *variant;
        std::string line;  // a regular expression, after the file's name
        bool profile;
        bool started = false;  // it got as far as the requests, which stdout shows before the error
    };
    const std::string rules = ", the display driver, broke the rules, not zerval\\.sys: ";
    const Case cases[] = {
        {"init_data_size", ": VideoPortInitialize refused its VIDEO_HW_INITIALIZATION_DATA: HwInitDataSize 12 is below "
                           "the 40 bytes of the oldest layout", false},
        {"no_start_io", ": VideoPortInitialize refused its VIDEO_HW_INITIALIZATION_DATA: every miniport has "
                        "HwFindAdapter, HwInitialize and HwStartIO; HwStartIO is NULL", false},
        {"past_output", rules + "HwVidStartIO: write to unmapped memory at 0x[0-9a-f]+, 0 bytes past the end of the "
                                "8-byte output buffer of IOCTL_VIDEO_QUERY_NUM_AVAIL_MODES, 4 bytes, EIP 0x[0-9a-f]+, "
                                "at miniport_past_output\\.sys" + at + ": mov dword ptr \\[e[a-z]{2}\\+0x8\\], 0x0",
         false, true},
        {"past_input", rules + "HwVidStartIO: read of unmapped memory at 0x[0-9a-f]+, 0 bytes past the end of the "
                               "4-byte input buffer of IOCTL_VIDEO_SET_CURRENT_MODE, 4 bytes, EIP 0x[0-9a-f]+, "
                               "at miniport_past_input\\.sys" + at + ": mov e[a-z]{2}, dword ptr \\[e[a-z]{2}\\+0x4\\]",
         false, true},
        {"information", rules + "HwVidStartIO at miniport_information\\.sys" + at +
                            ", IOCTL_VIDEO_QUERY_NUM_AVAIL_MODES: Information 16 is larger than the 8-byte output buffer",
         false, true},
        {"start_io_false", rules + "HwVidStartIO at miniport_start_io_false\\.sys" + at +
                               ", IOCTL_VIDEO_QUERY_NUM_AVAIL_MODES: it answered FALSE; HwVidStartIO answers TRUE and "
                               "puts its result in the status block \\(Status NO_ERROR \\(0\\)\\)", false, true},
        {"wrong_tag", rules + "HwVidFindAdapter: in ExFreePoolWithTag: BAD_POOL_CALLER \\(0xC2, 0x0A\\): the free of "
                              "0x[0-9a-f]+ with tag 'Nini', which was allocated with tag 'Mini', called from "
                              "miniport_wrong_tag\\.sys" + at, false},
        {"unserved", ": miniport_unserved\\.sys imports videoprt\\.sys!VideoPortQueryServices, which the simulation "
                     "does not serve", false},
        {"zero_rdata", rules + "HwVidFindAdapter: in VideoPortZeroMemory: write to read-only memory at 0x[0-9a-f]+ "
                               "\\(16 bytes from 0x[0-9a-f]+\\), called from miniport_zero_rdata\\.sys" + at, false},
        // A display driver may free the published array; reading it afterwards is its own mistake.
        {"frees_published", rules + "HwVidStartIO: in memcpy: read of unmapped memory at 0x[0-9a-f]+ \\([0-9]+ bytes "
                                    "from 0x[0-9a-f]+\\), called from miniport_frees_published\\.sys" + at, false, true},
        {"cdecl_callback", rules + "HwVidFindAdapter: in VideoPortGetRegistryParameters, after the callback: the "
                                   "callback at miniport_cdecl_callback\\.sys" + at + ": stack unbalanced: the callee "
                                   "popped 0 bytes of arguments, stdcall wants 20 \\(is it __cdecl\\?\\), called from "
                                   "miniport_cdecl_callback\\.sys" + at, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.variant);
        std::vector<std::string> args = {"--display", Variant(c.variant)};
        if (c.profile)
            args = With(args, {"--profile", withValue});
        const ToolRun r = RunTool(kSim, args);
        EXPECT_EQ(r.status, 1);
        // The error is the last line; before it only what the miniport printed.
        const std::vector<std::string> err = Lines(r.err);
        ASSERT_FALSE(err.empty());
        for (size_t i = 0; i + 1 < err.size(); ++i)
            EXPECT_EQ(err[i].rfind("miniport_" + std::string(c.variant) + ".sys: ", 0), 0u) << err[i];
        const std::string file = std::regex_replace(Variant(c.variant), std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
        EXPECT_TRUE(std::regex_match(err.back(), std::regex("zerval-sim: error: " + file + c.line))) << r.err;
        const std::string started = "miniport_" + std::string(c.variant) + ".sys HwVidInitialize: TRUE\n";
        EXPECT_EQ(r.out.find(started) != std::string::npos, c.started) << r.out;
    }
    // The same miniport without a mistake runs through.
    const ToolRun sound = RunTool(kSim, {"--profile", withValue, "--display", Variant("sound")});
    EXPECT_EQ(sound.status, 0) << sound.err;
}

} // namespace
