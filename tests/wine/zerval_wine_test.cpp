// zerval-wine and run_stack.sh when a run goes wrong, as a team meets it:
// what each route says about a services driver with a misspelt export or a
// __cdecl attach entry (Wine's own words), the one line that names the first
// difference between the two reports, and that a failed, timed-out or
// interrupted run leaves no prefix, no scratch folder and no Wine process.
// Every run copies the booted prefix of the wine_prefix fixture.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "build_products.h"
#include "run_tool.h"

extern char **environ;

namespace {

namespace fs = std::filesystem;

const std::string kWine = products::Existing(products::kWine);
const std::string kImage = products::Existing(products::kImageGnu);
const std::string kTv = products::Existing(products::kExampleTv);
const std::string kBase = ZERVAL_WINE_BASE;
const std::string kDrivers = ZERVAL_WINE_DRIVERS_DIR;
const std::string kSupport = ZERVAL_WINE_SUPPORT_DIR;

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> FileLines(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Lines(std::string(std::istreambuf_iterator<char>(in), {}));
}

// The one line of `lines` that matches, or a failure naming what was looked for.
::testing::AssertionResult HasLine(const std::vector<std::string> &lines, const std::string &pattern)
{
    const std::regex re(pattern);
    for (const std::string &l : lines)
        if (std::regex_match(l, re))
            return ::testing::AssertionSuccess();
    std::string all;
    for (const std::string &l : lines)
        all += "\n  " + l;
    return ::testing::AssertionFailure() << "no line matches " << pattern << " in:" << all;
}

// A scratch folder that the runs use as TMPDIR.
class Scratch {
public:
    Scratch()
    {
        char dir[] = "/tmp/zerval-wine-test-XXXXXX";
        if (mkdtemp(dir) == nullptr)
            throw std::runtime_error("mkdtemp");
        dir_ = dir;
        const char *old = std::getenv("TMPDIR");
        oldTmp_ = old != nullptr ? old : "";
        hadTmp_ = old != nullptr;
        setenv("TMPDIR", dir_.c_str(), 1);
    }
    ~Scratch()
    {
        if (hadTmp_)
            setenv("TMPDIR", oldTmp_.c_str(), 1);
        else
            unsetenv("TMPDIR");
        fs::remove_all(dir_);
    }
    const std::string &dir() const { return dir_; }

    // What a run left in the folder: every entry but Wine's own runtime
    // folder (wine-XXXXXX, where a Debian Wine keeps its server sockets),
    // and inside that every server folder.
    std::vector<std::string> leftOver() const
    {
        std::vector<std::string> left;
        for (const auto &e : fs::directory_iterator(dir_)) {
            const std::string name = e.path().filename().string();
            if (name.rfind("wine-", 0) != 0 || !e.is_directory()) {
                left.push_back(name);
                continue;
            }
            for (const auto &inner : fs::directory_iterator(e.path()))
                left.push_back(name + "/" + inner.path().filename().string());
        }
        return left;
    }

private:
    std::string dir_;
    std::string oldTmp_;
    bool hadTmp_ = false;
};

// Processes whose WINEPREFIX lies under `folder`.
std::vector<std::string> WineProcessesUnder(const std::string &folder)
{
    std::vector<std::string> found;
    const std::string needle = "WINEPREFIX=" + folder;
    for (const auto &e : fs::directory_iterator("/proc")) {
        const std::string pid = e.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream in(e.path() / "environ", std::ios::binary);
        const std::string env(std::istreambuf_iterator<char>(in), {});
        for (size_t at = 0; at < env.size(); at = env.find('\0', at) + 1) {
            if (env.compare(at, needle.size(), needle) == 0) {
                std::ifstream cmd(e.path() / "cmdline", std::ios::binary);
                found.push_back(pid + " " + std::string(std::istreambuf_iterator<char>(cmd), {}));
                break;
            }
            if (env.find('\0', at) == std::string::npos)
                break;
        }
    }
    return found;
}

void ExpectNothingLeft(const Scratch &s)
{
    EXPECT_EQ(s.leftOver(), std::vector<std::string>{});
    EXPECT_EQ(WineProcessesUnder(s.dir()), std::vector<std::string>{});
}

std::vector<std::string> WineArgs(const std::string &services, std::vector<std::string> more = {})
{
    std::vector<std::string> args = {"--base-prefix", kBase,       "--timeout", "30",  "--layout", "drivers",
                                     "--services",    services,    "--tv",      kTv,   "--image",  kImage};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

const char kDriversFolder[] = R"(Wine, every image in C:\\windows\\system32\\drivers: )";
const char kStopsInAttach[] = R"(the report stops in line [0-9]+ \('attach 1: lDllAttach\(0, 0, 0, 0, &result\) = '\))";

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

TEST(ZervalWine, AMissingExportIsReportedWithWinesLoaderLineAndLeavesNothing)
{
    Scratch s;
    const ToolRun r = RunTool(kWine, WineArgs(kDrivers + "/misnamed/kelv.sys"));
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    const auto out = Lines(r.out);
    EXPECT_TRUE(HasLine(out, R"(emulator: no report; zerval-sim said: zerval-sim: error: .*/misnamed/kelv\.sys: not a )"
                             R"(services driver for zerval\.sys: it does not export _Attach@16, which zerval\.sys )"
                             R"(imports from kelv\.sys \(it exports _Attach@12\))"));
    EXPECT_TRUE(HasLine(out, std::string(kDriversFolder) + kStopsInAttach +
                                 "; Wine said: wine: Call from [0-9A-F]+ to unimplemented function "
                                 R"(kelv\.sys\._Attach@16, aborting)"));
    EXPECT_EQ(out.back(), "failed: the stack did not run to the end of the report (see above)");
    ExpectNothingLeft(s);
}

TEST(ZervalWine, ACdeclEntryIsReportedWithWhatEachRouteSaid)
{
    Scratch s;
    const ToolRun r = RunTool(kWine, WineArgs(kDrivers + "/cdecl/kelv.sys"));
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    const auto out = Lines(r.out);
    EXPECT_TRUE(HasLine(out, std::string("emulator: ") + kStopsInAttach +
                                 "; zerval-sim said: zerval-sim: error: .*/cdecl/kelv\\.sys, the services driver, broke "
                                 "the rules, not zerval\\.sys: zprobe\\.sys!DriverEntry: kelv\\.sys!_Attach@16: stack "
                                 "unbalanced: the callee popped 0 bytes of arguments, stdcall wants 16 .*"));
    EXPECT_TRUE(HasLine(out, std::string(kDriversFolder) + kStopsInAttach + "; Wine said: wine: Unhandled .+"));
    ExpectNothingLeft(s);
}

// The services driver answers an address of its own for the free
// framebuffer: the reports agree up to that line, which the one line names
// with both values.
TEST(ZervalWine, DifferentReportsAreShownByTheirFirstDifferenceInOneLine)
{
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

// A services driver that never returns from Attach: run_stack.sh ends the
// run at its time limit, says so, and removes what it made.
TEST(RunStack, ATimeoutEndsEveryWineProcessAndRemovesThePrefix)
{
    Scratch s;
    const std::string work = s.dir() + "/work";
    const ToolRun r = RunTool(kSupport + "/run_stack.sh",
                              {"--base", kBase, "--timeout", "5", "drivers", work, kSupport + "/zprobe.sys", kImage,
                               kDrivers + "/hang/kelv.sys", kTv, kSupport + "/videoprt.sys"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(HasLine(Lines(r.err), "run_stack.sh: drivers: no complete report within 5 s; Wine said: .*"));
    EXPECT_EQ(Lines(r.out).back(), "attach 1: lDllAttach(0, 0, 0, 0, &result) = ");
    EXPECT_TRUE(fs::is_empty(work));
    fs::remove(work);
    ExpectNothingLeft(s);
}

// zerval-wine interrupted while Wine runs (as `timeout` or CTest stops it).
TEST(ZervalWine, ASignalDuringTheWineRunEndsItAndRemovesEverything)
{
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
    for (int i = 0; i < 300 && !running; ++i) {
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
