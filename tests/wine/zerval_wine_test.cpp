// zerval-wine and run_stack.sh when a run under Wine goes wrong, as a team
// meets it: what each route says about a __cdecl attach entry (Wine's own
// words), the one line that names the first difference between the two
// reports, and that a timed-out or interrupted run leaves no prefix, no
// scratch folder and no Wine process.  Every run copies the booted prefix of
// the wine_prefix fixture; where Wine cannot run, each test is skipped with
// the host's one line.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "run_tool.h"
#include "wine_test_support.h"

extern char **environ;

namespace {

namespace fs = std::filesystem;
using namespace winetest;

const char kDriversFolder[] = R"(Wine, every image in C:\\windows\\system32\\drivers: )";
const char kStopsInAttach[] = R"(the report stops in line [0-9]+ \('attach 1: lDllAttach\(0, 0, 0, 0, &result\) = '\))";

TEST(ZervalWine, ACdeclEntryIsReportedWithWhatEachRouteSaid)
{
    ZERVAL_SKIP_WITHOUT_WINE();
    Scratch s;
    const ToolRun r = RunTool(kWine, WineArgs(kDrivers + "/cdecl/kelv.sys"));
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    const auto out = Lines(r.out);
    EXPECT_TRUE(HasLine(out, std::string("emulator: ") + kStopsInAttach +
                                 "; zerval-sim said: zerval-sim: error: .*cdecl/kelv\\.sys, the services driver, broke "
                                 "the rules, not zerval\\.sys: zprobe\\.sys!DriverEntry: kelv\\.sys!_Attach@16: stack "
                                 "unbalanced: the callee popped 0 bytes of arguments, stdcall wants 16 \\(is it "
                                 "__cdecl\\?\\); it returned at kelv\\.sys \\.text\\+0x[0-9a-f]+ \\(RVA 0x[0-9a-f]+\\): "
                                 "ret"));
    EXPECT_TRUE(HasLine(out, std::string(kDriversFolder) + kStopsInAttach + "; Wine said: wine: Unhandled .+"));
    ExpectNothingLeft(s);
}

// The services driver answers an address of its own for the free
// framebuffer: the reports agree up to that line, which the one line names
// with both values.
TEST(ZervalWine, DifferentReportsAreShownByTheirFirstDifferenceInOneLine)
{
    ZERVAL_SKIP_WITHOUT_WINE();
    Scratch s;
    const fs::path kept = fs::path(s.dir()) / "kept";
    fs::create_directory(kept);
    const ToolRun r = RunTool(kWine, WineArgs(kDrivers + "/addressed/kelv.sys", {"--keep-reports", kept.string()}));
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    const auto wine = FileLines((kept / "wine-drivers.txt").string());
    const auto emulator = FileLines((kept / "emulator.txt").string());
    ASSERT_EQ(wine.size(), emulator.size());
    const std::string asked = "attach 1: GetFreeFramebufferSize() = ";
    size_t line = 0;
    while (line < emulator.size() && emulator[line].rfind(asked, 0) != 0)
        ++line;
    ASSERT_LT(line, emulator.size());
    for (size_t i = 0; i < line; ++i)
        ASSERT_EQ(wine[i], emulator[i]) << "line " << i + 1;
    ASSERT_EQ(wine[line].rfind(asked, 0), 0u);
    ASSERT_NE(wine[line], emulator[line]);
    const std::string item = "GetFreeFramebufferSize() = ";
    const auto out = Lines(r.out);
    const std::string expected = "  against the emulator's: line " + std::to_string(line + 1) + " (attach 1): Wine '" +
                                 item + wine[line].substr(asked.size()) + "', emulator '" + item +
                                 emulator[line].substr(asked.size()) + "'";
    EXPECT_NE(std::find(out.begin(), out.end(), expected), out.end()) << "no line\n" << expected << "\nin\n" << r.out;
    EXPECT_EQ(out.back(), "different: the first difference of each layout is above");
    fs::remove_all(kept);
    ExpectNothingLeft(s);
}

// A services driver that never returns from Attach: run_stack.sh ends the
// run at its time limit, says so, and removes what it made.  The limit is
// below the 12 s or so after which Wine's service manager stops waiting.
TEST(RunStack, ATimeoutEndsEveryWineProcessAndRemovesThePrefix)
{
    ZERVAL_SKIP_WITHOUT_WINE();
    Scratch s;
    const std::string work = s.dir() + "/work";
    const ToolRun r = RunTool(kSupport + "/run_stack.sh",
                              {"--base", kBase, "--timeout", "8", "drivers", work, kSupport + "/zprobe.sys", kImage,
                               kDrivers + "/hang/kelv.sys", kTv, kSupport + "/videoprt.sys"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(HasLine(Lines(r.err), "run_stack.sh: drivers: no complete report within 8 s; Wine said: .*"));
    EXPECT_EQ(Lines(r.out).back(), "attach 1: lDllAttach(0, 0, 0, 0, &result) = ");
    EXPECT_TRUE(fs::is_empty(work));
    fs::remove(work);
    ExpectNothingLeft(s);
}

// zerval-wine interrupted while Wine runs (as `timeout` or CTest stops it).
TEST(ZervalWine, ASignalDuringTheWineRunEndsItAndRemovesEverything)
{
    ZERVAL_SKIP_WITHOUT_WINE();
    Scratch s;
    std::vector<std::string> args = WineArgs(kDrivers + "/hang/kelv.sys");
    args.insert(args.begin(), kWine);
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, kWine.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    // The probe's report under Wine has begun: the hanging Attach is running.
    bool running = false;
    for (int i = 0; i < 1200 && !running; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        for (const auto &e : fs::directory_iterator(s.dir()))
            running = running || fs::exists(e.path() / "wine/prefix-drivers/drive_c/zerval-probe.txt");
    }
    EXPECT_TRUE(running);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 143) << status;
    ExpectNothingLeft(s);
}

} // namespace
