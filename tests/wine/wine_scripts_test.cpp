// The Wine route's scripts where Wine itself does not run, so on every host:
// zerval-wine's bad arguments and the images it stops at before starting
// Wine; what make_prefix.sh, run_stack.sh and zerval-wine say when Wine
// cannot start (the test Wine in failing_wine/ fails as Wine does on a host
// whose kernel runs no i386 code), and that such a failure leaves nothing;
// the one line that compares two reports; and how host_i386.sh reads the
// host's binfmt_misc entries.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>

#include "run_tool.h"
#include "wine_test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace winetest;

const std::string kFailingWine = ZERVAL_FAILING_WINE_DIR;
const char kWineSays[] = "/usr/bin/wine-stable: 40: exec: /usr/lib/wine/wine: Exec format error";

// zerval-wine's arguments as the Wine tests give them, but booting a prefix
// of its own, since these tests do not wait for the booted one.
std::vector<std::string> OwnPrefixArgs(const std::string &services)
{
    std::vector<std::string> args = WineArgs(services);
    args.erase(args.begin(), args.begin() + 2);
    return args;
}

// The test Wine first in PATH, for the scope.
class FailingWine {
public:
    FailingWine() : path_("PATH", kFailingWine + ":" + std::getenv("PATH")) {}

private:
    ScopedEnv path_;
};

// A bad argument: one line naming it, status 2, and no run.
TEST(ZervalWine, BadArgumentsAreOneLineAndStatusTwo)
{
    Scratch s;
    const std::string missing = s.dir() + "/missing.sys";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--frobnicate"}, "unknown argument '--frobnicate' \\(see --help\\)"},
        {{"--services"}, "--services: needs a value"},
        {{"--services", missing}, "--services " + missing + ": no such file"},
        {{"--tv", missing}, "--tv " + missing + ": no such file"},
        {{"--image", missing}, "--image " + missing + ": no such file"},
        {{"--layout", "mine"}, "--layout: 'mine' is none of drivers, own, both"},
        {{"--timeout", "0"}, "--timeout: '0' is not a whole number of seconds"},
        {{"--keep-reports", missing}, "--keep-reports " + missing + ": no such folder"},
        {{"--base-prefix", s.dir()}, "--base-prefix " + s.dir() + ": not a booted Wine prefix \\(no system.reg\\)"},
    };
    for (const auto &[args, message] : cases) {
        SCOPED_TRACE(args.front());
        const ToolRun r = RunTool(kWine, args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(std::regex_match(r.err, std::regex("zerval-wine: error: " + message + "\n"))) << r.err;
    }
    ExpectNothingLeft(s);
}

// A services driver with a misspelt export does not fit its role: the
// emulator refuses it before anything runs, and Wine is never started.
TEST(ZervalWine, AnImageTheEmulatorRefusesStopsTheRunBeforeWine)
{
    Scratch s;
    FailingWine wine;
    const std::string calls = s.dir() + "/wine-calls";
    ScopedEnv log("FAILING_WINE_LOG", calls);
    const ToolRun r = RunTool(kWine, OwnPrefixArgs(kDrivers + "/misnamed/kelv.sys"));
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    const auto out = Lines(r.out);
    EXPECT_TRUE(HasLine(out, R"(emulator: no report; zerval-sim said: zerval-sim: error: .*misnamed/kelv\.sys: not a )"
                             R"(services driver for zerval\.sys: it does not export _Attach@16, which zerval\.sys )"
                             R"(imports from kelv\.sys \(it exports _Attach@12\))"));
    EXPECT_FALSE(HasLine(out, "Wine.*"));
    EXPECT_EQ(out.back(), "failed: the emulator refused the images before running them (see above); Wine was not started");
    EXPECT_FALSE(fs::exists(calls)) << "Wine was started";
    ExpectNothingLeft(s);
}

// A report cut short on one side: the line where it ends, and what the other
// goes on with.
TEST(CompareReports, AReportThatEndsEarlyIsNamedByWhereItEnds)
{
    Scratch s;
    const std::string emulator = s.dir() + "/emulator.txt", wine = s.dir() + "/wine.txt";
    std::ofstream(emulator) << "zprobe report, format 1\nmodeTableSize: 62\nend of report\n";
    std::ofstream(wine) << "zprobe report, format 1\nmodeTableSize: 62\n";
    const ToolRun r = RunTool(kSupport + "/compare_reports.sh", {wine, emulator});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "line 3: Wine's report ends at line 2, the emulator's goes on with 'end of report'\n");
    const ToolRun same = RunTool(kSupport + "/compare_reports.sh", {emulator, emulator});
    EXPECT_EQ(same.status, 0);
    EXPECT_EQ(same.out, "the same, 3 lines\n");
}

// A Wine that cannot start: make_prefix.sh passes on what it said, at once,
// and leaves no prefix.
TEST(MakePrefix, AWineThatCannotStartIsNamedInItsOwnWords)
{
    Scratch s;
    FailingWine wine;
    const std::string prefix = s.dir() + "/base";
    const ToolRun r = RunTool(kSupport + "/make_prefix.sh", {prefix, "60"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "make_prefix.sh: error: " + prefix + ": wineboot -i failed (exit status 126); Wine said: " +
                         kWineSays + "\n");
    EXPECT_FALSE(fs::exists(prefix));
    ExpectNothingLeft(s);
}

// Only a Wine that runs past the limit is said to take too long.
TEST(MakePrefix, AWineThatRunsPastTheLimitIsEndedThere)
{
    Scratch s;
    FailingWine wine;
    ScopedEnv hangs("FAILING_WINE_SECONDS", "60");
    const std::string prefix = s.dir() + "/base";
    const auto start = std::chrono::steady_clock::now();
    const ToolRun r = RunTool(kSupport + "/make_prefix.sh", {prefix, "2"});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "make_prefix.sh: error: " + prefix + ": wineboot -i took more than 2 s\n");
    EXPECT_FALSE(fs::exists(prefix));
    ExpectNothingLeft(s);
}

// run_stack.sh with a prefix to copy and a Wine that cannot start: no
// report, Wine's own line, and the copy removed.
TEST(RunStack, AWineThatCannotStartIsNamedInItsOwnWords)
{
    Scratch s;
    FailingWine wine;
    const fs::path base = fs::path(s.dir()) / "base";
    fs::create_directories(base / "drive_c");
    std::ofstream(base / "system.reg") << "WINE REGISTRY Version 2\n";
    const std::string work = s.dir() + "/work";
    const ToolRun r = RunTool(kSupport + "/run_stack.sh",
                              {"--base", base.string(), "--timeout", "20", "drivers", work, kSupport + "/zprobe.sys",
                               kImage, kDrivers + "/team/kelv.sys", kTv, kSupport + "/videoprt.sys"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, std::string("run_stack.sh: drivers: no report; Wine said: ") + kWineSays + "\n");
    EXPECT_TRUE(fs::is_empty(work));
    fs::remove(work);
    fs::remove_all(base);
    ExpectNothingLeft(s);
}

// zerval-wine where Wine cannot run (this host's own reason, or the route
// turned off): the emulator's report, then host_i386.sh's one line as it
// stands, and no Wine run.
TEST(ZervalWine, AHostThatCannotRunWineIsNamedAndNoWineRunStarts)
{
    for (const char *off : {"", "1"}) {
        SCOPED_TRACE(std::string("ZERVAL_NO_WINE=") + off);
        Scratch s;
        FailingWine wine;
        ScopedEnv noWine("ZERVAL_NO_WINE", off);
        const ToolRun check = RunTool(kCheck, {"--wine"});
        ASSERT_EQ(check.status, 1) << check.out;
        ASSERT_EQ(Lines(check.out).size(), 1u) << check.out;
        const ToolRun r = RunTool(kWine, OwnPrefixArgs(kDrivers + "/team/kelv.sys"));
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        const auto out = Lines(r.out);
        EXPECT_TRUE(HasLine(out, "emulator: the report is complete, [0-9]+ lines"));
        EXPECT_NE(std::find(out.begin(), out.end(), "Wine: not run; " + Lines(check.out).front()), out.end())
            << r.out;
        EXPECT_FALSE(HasLine(out, "Wine, every image in .*"));
        EXPECT_EQ(out.back(), "failed: Wine cannot run on this host (see above)");
        ExpectNothingLeft(s);
    }
}

// host_i386.sh over a binfmt_misc folder of the test's own.  The entries are
// written as the kernel shows them; qemu's pattern for i386 ELF programs.
class HostI386 : public ::testing::Test {
protected:
    Scratch scratch;
    const fs::path binfmt = fs::path(scratch.dir()) / "binfmt_misc";
    ScopedEnv folder{"BINFMT_MISC", binfmt.string()};
    ScopedEnv on{"ZERVAL_NO_WINE", ""};

    void SetUp() override
    {
        fs::create_directory(binfmt);
        std::ofstream(binfmt / "status") << "enabled\n";
    }

    // An interpreter that answers --version with `version`.
    std::string interpreter(const std::string &name, const std::string &version)
    {
        const fs::path path = fs::path(scratch.dir()) / name;
        std::ofstream(path) << "#!/bin/sh\necho '" << version << "'\n";
        fs::permissions(path, fs::perms::owner_all);
        return path.string();
    }

    void entry(const std::string &name, const std::string &interpreterPath, const char *state = "enabled",
               const char *magic = "7f454c4601010100000000000000000002000300",
               const char *mask = "fffffffffffefe00fffffffffffffffffeffffff")
    {
        std::ofstream(binfmt / name) << state << "\ninterpreter " << interpreterPath << "\nflags: F\noffset 0\nmagic "
                                     << magic << "\nmask " << mask << "\n";
    }
};

TEST_F(HostI386, AQemuOlderThanTenIsRefused)
{
    for (const char *version : {"7.2.0", "9.2.4"}) {
        SCOPED_TRACE(version);
        entry("qemu-i386", interpreter("qemu-i386", std::string("qemu-i386 version ") + version + " (Debian)"));
        const ToolRun r = RunTool(kCheck, {"--wine"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, std::string("i386 programs go to qemu-i386 ") + version +
                             " (binfmt_misc entry qemu-i386), older than 10: too slow for Wine\n");
    }
    // 10 passes that gate; what the host then does with the probe is its own.
    entry("qemu-i386", interpreter("qemu-i386", "qemu-i386 version 10.0.2 (Debian)"));
    const ToolRun ten = RunTool(kCheck, {});
    EXPECT_EQ(ten.out.find("older than"), std::string::npos) << ten.out;
}

TEST_F(HostI386, AnInterpreterThatIsNotQemuIsRefused)
{
    const std::string box = interpreter("box86", "Box86 v0.3.2");
    entry("i386", box);
    const ToolRun r = RunTool(kCheck, {});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "i386 programs go to " + box + " (binfmt_misc entry i386), which is not qemu-i386 10 or later\n");
    EXPECT_EQ(RunTool(kCheck, {"--binfmt-entry"}).out, "i386 " + box + "\n");
}

// An entry for ARM programs, a disabled i386 entry, and any entry while
// binfmt_misc as a whole is disabled take no i386 program.
TEST_F(HostI386, EntriesThatTakeNoI386ProgramAreLeftAside)
{
    const std::string old = interpreter("qemu-old", "qemu-i386 version 7.2.0");
    entry("arm-entry", old, "enabled", "7f454c4601010100000000000000000002002800",
          "ffffffffffffff00fffffffffffffffffeffffff");
    entry("off-entry", old, "disabled");
    EXPECT_EQ(RunTool(kCheck, {"--binfmt-entry"}).status, 1);
    const ToolRun r = RunTool(kCheck, {});
    for (const char *named : {"arm-entry", "off-entry", "7.2.0"})
        EXPECT_EQ(r.out.find(named), std::string::npos) << r.out;

    entry("on-entry", old);
    EXPECT_EQ(RunTool(kCheck, {"--binfmt-entry"}).out, "on-entry " + old + "\n");
    std::ofstream(binfmt / "status") << "disabled\n";
    EXPECT_EQ(RunTool(kCheck, {"--binfmt-entry"}).status, 1);
}

// Turned off: no, with or without a command; a command is then skipped
// (status 77) and never run.
TEST_F(HostI386, TurnedOffTheAnswerIsNoAndACommandIsSkipped)
{
    ScopedEnv off("ZERVAL_NO_WINE", "1");
    const char line[] = "the Wine route is turned off here (ZERVAL_NO_WINE is set)\n";
    const ToolRun plain = RunTool(kCheck, {"--wine"});
    EXPECT_EQ(plain.status, 1);
    EXPECT_EQ(plain.out, line);
    const std::string ran = scratch.dir() + "/ran";
    const ToolRun skipped = RunTool(kCheck, {"--wine", "--", "touch", ran});
    EXPECT_EQ(skipped.status, 77);
    EXPECT_EQ(skipped.out, std::string("skipped: ") + line);
    EXPECT_FALSE(fs::exists(ran));
}

TEST_F(HostI386, ABadArgumentIsOneLineAndStatusTwo)
{
    for (const std::vector<std::string> &args : {std::vector<std::string>{"--frobnicate"}, {"--"}}) {
        const ToolRun r = RunTool(kCheck, args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
        EXPECT_EQ(r.err.rfind("host_i386.sh: error: ", 0), 0u) << r.err;
    }
}

} // namespace
